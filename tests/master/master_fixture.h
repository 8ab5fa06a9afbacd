#pragma once
// Master database tests: a status that records its lines, a run context on a
// network folder, and query rows as text.

#include <algorithm>
#include <string>
#include <vector>

#include "platform/run_context.h"
#include "platform/status.h"
#include "support/programs.h"
#include "support/roster.h"
#include "support/temp_dir.h"

namespace mastertest {

class RecordingStatus : public prax::Status {
 public:
  std::vector<std::string> lines;
  bool Said(std::string_view part) const {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != std::string::npos; });
  }

 protected:
  void OnChanged() override {
    if (lines.empty() || lines.back() != Message()) lines.push_back(Message());
  }
};

struct MasterContext {
  RecordingStatus status;
  prax::RunContext ctx;
  explicit MasterContext(std::string networkDir) { ctx.NetworkDir = std::move(networkDir); }
};

// Every row of a query: fields joined by '|', Null as "Null".
inline std::vector<std::string> Rows(const std::filesystem::path& file, const std::string& sql) {
  std::vector<std::string> rows = praxtest::Query(file, sql);
  for (std::string& row : rows) {
    for (std::size_t at = row.find("<null>"); at != std::string::npos; at = row.find("<null>", at)) row.replace(at, 6, "Null");
  }
  return rows;
}

}  // namespace mastertest

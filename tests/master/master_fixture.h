#pragma once
// Master database tests: a status that records its lines, a run context on a
// network folder, and query rows as text.

#include <algorithm>
#include <string>
#include <vector>

#include "platform/run_context.h"
#include "platform/status.h"
#include "store/engine.h"
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
  explicit MasterContext(std::string networkDir) {
    ctx.NetworkDir = std::move(networkDir);
    ctx.status = &status;
  }
};

// Every row of a query: fields joined by '|', Null as "Null".
inline std::vector<std::string> Rows(const std::filesystem::path& file, const std::string& sql) {
  auto db = prax::db::Database::Open(file);
  auto rs = db->OpenRecordset(sql);
  std::vector<std::string> out;
  for (; !rs->Eof(); rs->MoveNext()) {
    std::string line;
    for (const auto& f : rs->FieldNames()) {
      const prax::db::Value v = rs->Get(f);
      line.append(line.empty() ? "" : "|").append(v.IsNull() ? std::string("Null") : v.AsText());
    }
    out.push_back(line);
  }
  rs->Close();
  db->Close();
  return out;
}

}  // namespace mastertest

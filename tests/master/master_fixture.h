#pragma once
// Master database tests: a status that records its lines, a run context on a
// network folder, and query rows as text.

#include <algorithm>
#include <string>
#include <vector>

#include "platform/run_context.h"
#include "platform/status.h"
#include "support/programs.h"
#include "support/recording_status.h"
#include "support/roster.h"
#include "support/temp_dir.h"

namespace mastertest {

using praxtest::RecordingStatus;

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

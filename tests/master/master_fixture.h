#pragma once

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/run_context.h"
#include "roster/master_database.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/recording_status.h"
#include "support/roster.h"

namespace mastertest {

struct MasterContext {
  praxtest::RecordingStatus status;
  prax::RunContext ctx;
  explicit MasterContext(std::string networkDir) { ctx.NetworkDir = std::move(networkDir); }
};

// Every row of a query, Null as "Null".
inline std::vector<std::string> Rows(const std::filesystem::path& file, const std::string& sql) {
  std::vector<std::string> rows = praxtest::Query(file, sql);
  for (std::string& row : rows)
    for (std::size_t at; (at = row.find("<null>")) != std::string::npos;) row.replace(at, 6, "Null");
  return rows;
}

}  // namespace mastertest

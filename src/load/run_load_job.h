#pragma once
// The load job: three strictly sequential passes over the universe of user
// numbers (alert logs, activity logs, error keys) into PRAXDATA.MDB.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "command/run_context.h"
#include "command/status.h"

namespace prax {

struct LoadSummary {
  int32_t usersProcessed = 0;      // users of the universe walked
  int32_t alertDaysLoaded = 0;     // days parsed and written in pass 1
  int32_t activityDaysLoaded = 0;  // days parsed and written in pass 2
  std::map<std::string, int64_t> rowsAdded;  // table name -> rows appended
  int32_t filesSkipped = 0;  // logs, directories and roster rows passed over (run-log lines)
  // The lists that were full: table name and the distinct names that got no id.
  std::vector<std::pair<std::string, int64_t>> namesWithoutId;
};

// "ApplicationsList full: 1208 names got no id" for each full list, joined
// by "; "; empty when none was full.
std::string ListsFullText(const LoadSummary& summary);

// Runs the job over userStart..userEnd on run.NetworkDir & "PRAXDATA.MDB".
// A failure passed up by a loader ends the job with an Error naming the
// user number, the log file and the engine's message. When the machine
// failed (an environment Error) the day being loaded is undone; a failure of
// the data keeps what was written before it.
LoadSummary RunLoadJob(const RunContext& run, Status& status, int16_t userStart, int16_t userEnd);

}  // namespace prax

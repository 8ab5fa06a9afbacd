#pragma once
// A run rehearsed: what a run with the given choices would meet (the
// configuration, the lock, the History database, the roster) and how many
// days of each user it would load, found without writing anything. No file
// under the network directory or the program folder changes or appears: the
// databases are opened only to read (nothing beside them either), the lock is
// looked at and not taken, and there is no run log.

#include <cstdint>
#include <functional>
#include <string>

#include "app/settings.h"
#include "command/run_context.h"
#include "command/status.h"

namespace prax {

enum class DryRunVerdict {
  kCanRun,   // a run could go ahead
  kRefused,  // a run would be refused before changing anything
  kFailed,   // a check failed: a run would fail
};

struct DryRunResult {
  DryRunVerdict verdict = DryRunVerdict::kCanRun;
  int32_t users = 0;  // users walked
  int64_t alertDays = 0, activityDays = 0;  // days a run would load, as its summary counts them
};

// Checks and lists for a run with `choices` on ctx (after RunStartup): each
// check, each user of the universe and the total as one line through `say`;
// files a run would pass over go to status.PassedOver as the run names them.
// The listing is left out when a check refuses the run or the History
// database cannot be read.
DryRunResult DryRun(RunContext ctx, const WindowChoices& choices, Status& status,
                    const std::function<void(const std::string&)>& say);

}  // namespace prax

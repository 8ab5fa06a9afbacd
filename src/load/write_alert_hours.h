#pragma once
// One day of one user's folded alert counters into AlertSystem: one row per
// hour slot that holds any count, slot 0 (the day's totals) included.

#include <string_view>

#include "logs/alert_day.h"
#include "store/engine.h"

namespace prax {

struct RunContext;

// Appends the rows through alertRs for ctx.CurrentUser and the day of
// file-list entry `entry`. Handles no failure: a refused row (a count too
// large for a 16-bit column, say) ends the writer, the rows of earlier slots
// stay, and the error reaches the caller.
void WriteAlertHours(RunContext& ctx, const AlertCounts& counts, std::string_view entry, db::Recordset& alertRs);

}  // namespace prax

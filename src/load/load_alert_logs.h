#pragma once
// Alert logs (.PXL) of one user into AlertSystem, EMSSystemUsage and UserNotes.

#include <cstdint>

#include <functional>
#include <mutex>

#include "load/day_source.h"
#include "load/load_context.h"
#include "logs/alert_day.h"

namespace prax {

// The writing side of pass 1 for load.user: the `days` days of the user's
// list as `next` hands them over prepared, in list order, those not yet in
// AlertSystem written with `storeLock` (may be null) held. Returns the number
// of days parsed and written. A failure from the first write on ends the
// loader and reaches the caller with the file named.
int StoreAlertDays(LoadContext& load, std::size_t days, const std::function<PreparedDay()>& next,
                   std::mutex* storeLock, PassFigures* pass = nullptr);

// Writes one parsed day of load.user. The events come first, in line order:
// each name is looked up (a failed lookup keeps the id before) and each row
// appended; a refused row is passed over and never undoes the rows before it.
// A "User Notes:" line gives its note to the last UserNotes row the day
// stored, if it stored one. Then every hour slot holding a count becomes one
// AlertSystem row ("00" the day's totals); a refused hour row throws.
// Before each event's steps the status hears which line of `bytes` (the
// log as read; empty: no line text) they belong to; the lines whose counts
// the parser could not add are told to it as rejected AlertSystem steps.
void StoreAlertDay(LoadContext& load, int32_t date, const AlertDay& day, std::string_view bytes = {});

}  // namespace prax

#pragma once
// Alert logs (.PXL) of one user into AlertSystem, EMSSystemUsage and UserNotes.

#include <cstdint>
#include <string_view>

#include <functional>
#include <mutex>

#include "load/day_source.h"
#include "load/load_context.h"
#include "logs/alert_day.h"
#include "logs/file_list.h"

namespace prax {

// Loads every listed day of load.user not yet in AlertSystem. Returns the
// number of days parsed and written. A failure from the first write on ends
// the loader and reaches the caller with the file named.
int LoadAlertLogs(LoadContext& load, std::string_view userDir, const FileList& fileList);

// The writing side of LoadAlertLogs: the `days` days of a user's list as
// `next` hands them over prepared, in list order; `storeLock` (may be null)
// is held while a day is written.
int StoreAlertDays(LoadContext& load, std::size_t days, const std::function<PreparedDay()>& next,
                   std::mutex* storeLock);

// Writes one parsed day of load.user. The events come first, in line order:
// each name is looked up (a failed lookup keeps the id before) and each row
// appended; a refused row is passed over and never undoes the rows before it.
// A "User Notes:" line gives its note to the last UserNotes row the day
// stored, if it stored one. Then every hour slot holding a count becomes one
// AlertSystem row ("00" the day's totals); a refused hour row throws.
void StoreAlertDay(LoadContext& load, int32_t date, const AlertDay& day);

}  // namespace prax

#pragma once
// Activity logs (.PXT) of one user into ActivitySystem and ProjectNotes.

#include <cstdint>
#include <string>
#include <string_view>

#include <functional>
#include <mutex>

#include "load/day_source.h"
#include "load/load_context.h"
#include "logs/activity_day.h"
#include "logs/file_list.h"

namespace prax {

// Loads every listed day of load.user not yet in ActivitySystem. Tolerant
// throughout, but for failures of the machine. Returns the number of days
// parsed (a day whose log cannot be read included).
int LoadActivityLogs(LoadContext& load, std::string_view userDir, const FileList& fileList);

// The writing side of LoadActivityLogs: the `days` days of a user's list as
// `next` hands them over prepared, in list order; `storeLock` (may be null)
// is held while a day is written.
int StoreActivityDays(LoadContext& load, std::size_t days, const std::function<PreparedDay()>& next,
                      std::mutex* storeLock);

// Writes one parsed day of load.user: the events in line order (lookups,
// the per-line error-key rows, the ProjectNotes rows), then the day's
// error-key rows per hour slot with every id -1. A failed lookup keeps the id
// before; a refused row is passed over (on a line, it ends that line's rows;
// among the day's rows, the rest of them) and never undoes the rows before.
void StoreActivityDay(LoadContext& load, int32_t date, const ActivityDay& day);

// Data_Hour of an ActivitySystem row: the hour slot formatted "00".
std::string ActivityHourText(int16_t hourSlot);

}  // namespace prax

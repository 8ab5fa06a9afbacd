#pragma once
// Activity logs (.PXT) of one user into ActivitySystem and ProjectNotes.

#include <cstdint>
#include <string>

#include <functional>
#include <mutex>

#include "load/day_source.h"
#include "load/load_context.h"
#include "logs/activity_day.h"

namespace prax {

// The writing side of pass 2 for load.user, as StoreAlertDays is for
// ActivitySystem, tolerant throughout but for failures of the machine.
// Returns the number of days parsed (a day whose log cannot be read
// included).
int StoreActivityDays(LoadContext& load, std::size_t days, const std::function<PreparedDay()>& next,
                      std::mutex* storeLock, PassFigures* pass = nullptr);

// Writes one parsed day of load.user: the events in line order (lookups,
// the per-line error-key rows, the ProjectNotes rows), then the day's
// error-key rows per hour slot with every id -1. A failed lookup keeps the id
// before; a refused row is passed over (on a line, it ends that line's rows;
// among the day's rows, the rest of them) and never undoes the rows before.
// The status hears the line of each event, as StoreAlertDay tells it.
void StoreActivityDay(LoadContext& load, int32_t date, const ActivityDay& day, std::string_view bytes = {});

// Data_Hour of an ActivitySystem row: the hour slot formatted "00".
std::string ActivityHourText(int16_t hourSlot);

}  // namespace prax

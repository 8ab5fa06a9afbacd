#pragma once
// The error-keys step of the load job: the hourly alert rows of a user
// receive in Error_Keys the number of Backspace and Delete strokes of that
// hour, taken from the user's whole-application activity rows (App_Id -1).

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/error.h"
#include "store/history_store.h"

namespace prax {

class Status;

// For each date and hour (letter case of the hour ignored) of the user's
// whole-application rows of keys 8 and 46, the first alert row of that date
// and hour, in stored order, takes the sum; it is rewritten only when its
// value differs. A user without such rows keeps every value; activity hours
// without an alert row are passed over, and so is a sum the column refuses.
// A read that fails (for the data) leaves the rows it was to read as they
// are. With `dates` (in ascending order), only those dates' rows are written,
// read between the first and the last: the same values as for every date,
// since a sum never crosses dates.
void WriteUserErrorKeys(store::HistoryStore& store, int32_t user, const std::vector<int32_t>* dates = nullptr,
                        SkipReporter* skipped = nullptr);

// The error-keys step of a job for one user: the pending user-days (every
// date of the user when `everything`), each cleared from the pending ones in
// the transaction that writes its sums.
void WorkOutErrorKeys(store::HistoryStore& store, int32_t user, bool everything, SkipReporter* skipped);

}  // namespace prax

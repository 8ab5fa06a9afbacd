#pragma once
// The ActivitySystem writers. Of an activity log's key counts only those of
// the two error keys, Backspace (8) and Delete (46), are kept. Both writers
// only append; the first failing operation ends the call and reaches the
// caller, rows already stored stay.

#include <cstdint>

#include "logs/activity_day.h"
#include "store/engine.h"
#include "logs/file_list.h"

namespace prax {

struct RunContext;

// The error-key counts of the current data line (state.LineKeyCounts) under
// the current application, window, project and task ids, hour slot h as
// Data_Hour "00" pattern: at most two rows (key 8, then key 46; a zero count
// writes nothing).
void WriteLineErrorKeys(const RunContext& ctx, const ActivityParserState& state, const FileList& fileList,
                        int position, int16_t hourSlot, db::Recordset& activityRs);

// The day's error-key counts per hour slot (state.HourKeyCounts after the
// day totals), every id -1: slot 0 (the whole day) first, then slots 1-24,
// key 8 before key 46 within a slot; at most 50 rows.
void WriteDayErrorKeys(const RunContext& ctx, const ActivityParserState& state, const FileList& fileList,
                       int position, db::Recordset& activityRs);

}  // namespace prax

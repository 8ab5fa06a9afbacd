#pragma once
// The activity-log line parser. Activity logs (.PXT) hold, per line, the time
// of day, the window and application in use and how often each key was
// struck ("data lines"), and the project, task and notes the user declared.
//
// Data line: positions 1-3 a number above 0, 5-6 the hour (00-23), 7-8 the
// minute, from 10 on the tail: optional quoted window name, optional
// ,"application name", a number that is not used, then key,count pairs
// separated by spaces. Project line: "User Project:" name "(" task ")".
// Notes line: "User Notes:", one separator, the note text.
//
// Failures never leave the parser: a failing step is abandoned and the next
// step runs. Inside the split of a data line's tail a failure ends the split.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "db/engine.h"
#include "job/file_list.h"

namespace prax {

struct RunContext;

inline constexpr int kKeySlots = 257;   // keys 0..256
inline constexpr int kHourSlots = 25;   // slot 0 the whole day, slot h the clock hour h - 1
inline constexpr int kBackspaceKey = 8;
inline constexpr int kDeleteKey = 46;

// Parser state that lives for the whole job. Names and texts are the log's
// raw Windows-1252 bytes; they are converted to UTF-8 only on their way to
// the database.
struct ActivityParserState {
  // Names the next data line's counts are booked to (emptied per file).
  std::string CurAppName, CurWindowName;
  // Names read from the current data line (carry over).
  std::string LineAppName, LineWindowName;
  // Counts of the current data line, emptied per line.
  std::array<int32_t, kKeySlots> LineKeyCounts{};
  // The day's counts; emptied by the loader before each file.
  std::array<std::array<int32_t, kKeySlots>, kHourSlots> HourKeyCounts{};
  // Last project, task and note read (carry over).
  std::string ProjName, TaskName, NoteText;
  // Hour slot and minute text of the last data line of the current file.
  int16_t HourSlot = 0;
  std::string Minute;

  // Scratch buffer of the line split, kept to avoid a fresh allocation per line.
  std::string Tail;

  void ClearHourKeyCounts() {
    for (auto& hour : HourKeyCounts) hour.fill(0);
  }
};

// Reads one activity log (path text) for the day at `position` of fileList:
// books each data line's counts to its hour slot, writes the per-line error
// key rows through activityRs, appends ProjectNotes rows through
// ctx.ProjectNotesRs, and finally adds the hour slots 1-24 into slot 0. A log
// that cannot be read ends the parse at once with a run-log line.
void ParseActivityLog(RunContext& ctx, ActivityParserState& state, std::string_view path,
                      const FileList& fileList, int position, db::Recordset& activityRs);

// Splits the tail of one data line into LineWindowName, LineAppName and
// LineKeyCounts. With appsNoPresent the names are not looked for; pairs are
// read while the last key read is below keysMax.
void ParseActivityCounts(ActivityParserState& state, std::string_view line, bool appsNoPresent,
                         int16_t keysMax);

}  // namespace prax

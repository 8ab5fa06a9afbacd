#pragma once
// The Activity log (.PXT) of one day, parsed. Activity logs hold, per line,
// the time of day, the window and application in use and how often each key
// was struck ("data lines"), and the project, task and notes the user
// declared. Of the key counts only the two error keys, Backspace (8) and
// Delete (46), are kept. Names are the log's Windows-1252 bytes; nothing here
// touches a database or a file.
//
// Data line: positions 1-3 a number above 0, 5-6 the hour (00-23), 7-8 the
// minute, from 10 on the tail: optional quoted window name, optional
// ,"application name", a number that is not used, then key,count pairs
// separated by spaces. Project line: "User Project:" name "(" task ")".
// Notes line: "User Notes:", one separator, the note text.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "logs/line_ref.h"

namespace prax {

inline constexpr int kKeySlots = 257;   // keys 0..256
inline constexpr int kHourSlots = 25;   // slot 0 the whole day, slot h the clock hour h - 1
inline constexpr int kBackspaceKey = 8;
inline constexpr int kDeleteKey = 46;

// What carries over from one Activity log to the next, across days and
// users, for the whole job: the names of the last data line and the project,
// task and note last read.
struct ActivityCarry {
  std::string LineAppName, LineWindowName;
  std::string ProjName, TaskName, NoteText;

  // Fields 0 to 4 in the order above: those of `set` taken from `from`.
  void Apply(const ActivityCarry& from, uint32_t set);
};

struct ActivityOptions {
  bool appsNoPresent = false;  // APPS.NO: data lines hold no names
  int16_t keysMax = 260;       // pairs are read while the last key read is below it
};

// A name, note or time text of the day's events: where it stands in
// ActivityDay::names (ActivityDay::Text gives it).
struct DayText {
  uint32_t offset = 0, size = 0;
};

// A data line: the application and window its counts are booked to are
// looked up (application first); then, when the hour already held error
// keys, its own error-key counts become ActivitySystem rows under the
// current ids (key 8 first; a zero count writes nothing; a refused row ends
// the line's rows).
struct LineBooked {
  DayText app, window;
  bool writeKeys = false;
  int16_t hourSlot = 0;  // may lie outside 0..24
  int32_t backspaces = 0, deletes = 0;
};
// "User Project:": the project and then the task are looked up (each only
// when its name is not empty).
struct ProjectDeclared {
  DayText project, task;  // the names carried; empty: no lookup
};
// "User Notes:": the note is looked up, then a ProjectNotes row is written.
struct NoteDeclared {
  DayText note;    // never empty
  DayText hour;    // the clock hour as the row stores it
  DayText minute;  // of the last data line; empty: none yet (Null)
};
using ActivityEvent = std::variant<LineBooked, ProjectDeclared, NoteDeclared>;

struct ActivityDay {
  std::vector<ActivityEvent> events;  // in the order of the lines
  // The day's error-key counts per hour slot, slot 0 the day's totals:
  // [slot][0] Backspace, [slot][1] Delete.
  std::array<std::array<int32_t, 2>, kHourSlots> errorKeys{};
  std::vector<LineRef> lines;  // the line of each event
  // The data lines whose counts are out of range (their ActivitySystem rows).
  std::vector<LineFailure> failures;
  // The texts of the events one after the other; a name repeated from line
  // to line is kept once.
  std::string names;

  std::string_view Text(DayText t) const { return std::string_view(names).substr(t.offset, t.size); }
};

// Parses one day's log bytes. How the carry was used goes to `use` when given.
ActivityDay ParseActivityDay(std::string_view bytes, const ActivityOptions& options, ActivityCarry& carry,
                             CarryUse* use = nullptr);

// The counts of one data line's tail: the names it gives (into `carry`) and
// its key counts. With appsNoPresent the names are not looked for.
void ParseActivityCounts(std::string_view line, const ActivityOptions& options, ActivityCarry& carry,
                         std::array<int32_t, kKeySlots>& counts);

}  // namespace prax

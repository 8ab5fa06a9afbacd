#pragma once
// The Alert log (.PXL) of one day, parsed: its hourly counters and the
// events its lines record, with names as the log writes them (Windows-1252
// bytes). Nothing here touches a database or a file.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "logs/line_ref.h"

namespace prax {

// The day's counters: 32-bit counts indexed by hour slot (0 To 24), row
// (0 To 12) and level (0 To 6). Slot 0 holds the events before the first
// sample line while a log is read and the day's totals after the fold; slots
// 1 to 24 are the clock hours 00 to 23.
class AlertCounts {
 public:
  static constexpr int kSlots = 25, kRows = 13, kLevels = 7;

  // Rows of the counters.
  enum Row : int {
    kKeyGiven = 0, kKeyTaken = 1, kKeySkipped = 2, kKeyWorkMins = 3, kKeystrokes = 4,
    kMouseGiven = 5, kMouseTaken = 6, kMouseSkipped = 7, kMouseWorkMins = 8, kMouseSeconds = 9,
    kStretch = 10, kRestarts = 11, kCycled = 12,
  };

  // Error 9 (subscript out of range) outside the bounds.
  int32_t At(long long slot, long long row, long long level) const;
  int32_t& At(long long slot, long long row, long long level);

  // count := count + delta, the sum rounded to a 32-bit integer (halves to
  // even). Returns false and changes nothing when the index is outside the
  // bounds or the sum leaves the 32-bit range.
  bool Add(long long slot, long long row, long long level, double delta);
  // The same for a whole delta, without going through a double.
  bool AddWhole(long long slot, long long row, long long level, int64_t delta);

  // Every count 0.
  void Clear() { std::fill(c_.begin(), c_.end(), 0); }
  // Whether any of the slot's 13 x 7 counts is not 0.
  bool SlotHasCount(int slot) const;

 private:
  static bool InBounds(long long slot, long long row, long long level) {
    return slot >= 0 && slot < kSlots && row >= 0 && row < kRows && level >= 0 && level < kLevels;
  }
  static std::size_t Index(long long slot, long long row, long long level) {
    return static_cast<std::size_t>((slot * kRows + row) * kLevels + level);
  }
  // On the heap: a day passes through queues between threads, most of them
  // days that carry no counts at all, and moves in a few bytes.
  std::vector<int32_t> c_ = std::vector<int32_t>(kSlots * kRows * kLevels);
};

// What carries over from one Alert log to the next, across days and users,
// for the whole job: the words of the last sample lines and the names last
// read.
struct AlertCarry {
  std::array<std::string, 12> AlertFields;
  std::string ToolName, DiscomfortName, BodyPartName, NoteText;

  // Fields 0 to 11 are AlertFields, then ToolName, DiscomfortName,
  // BodyPartName, NoteText: those of `set` taken from `from`.
  void Apply(const AlertCarry& from, uint32_t set);
};

// "User Action: <tool>*<yymmdd> <hh>...": an EMSSystemUsage row, after the
// tool is looked up.
struct ToolUsed {
  std::string tool;                 // never empty
  std::optional<int64_t> date;      // yyyymmdd; nullopt when the six characters are no date number
  std::optional<std::string> hour;  // nullopt when empty
};
// "User Entry: <discomfort>-- <body part>": a UserNotes row, after the body
// part and then the discomfort are looked up.
struct DiscomfortEntered {
  std::string bodyPart;  // never empty
  std::string discomfort;
  std::string hour;                   // the clock hour as the row stores it
  std::optional<std::string> minute;  // nullopt when empty
};
// "User Notes: <note>": the note is looked up and given to the row of the
// day's last stored entry.
struct EntryNoted {
  std::string note;  // never empty
};
using AlertEvent = std::variant<ToolUsed, DiscomfortEntered, EntryNoted>;

struct AlertDay {
  AlertCounts counts;  // folded: slot 0 holds the day's totals
  std::vector<AlertEvent> events;  // in the order of the lines
  std::vector<LineRef> lines;      // the line of each event
  // The lines whose counts could not be added (their AlertSystem counts).
  std::vector<LineFailure> failures;
};

// Cuts the first twelve space-ended words of `buffer` into fields 0 to 11 and
// leaves the rest in `buffer`. A field whose word has no space after it gets
// "0" and ends the cutting; the fields after it keep their earlier words, and
// the buffer keeps that last word. The fields view `buffer` (or a constant "0").
void SplitAlertFields(std::array<std::string_view, 12>& fields, std::string_view& buffer);

// Parses one day's log bytes. Reading stops at the first empty line. How the
// carry was used goes to `use` when given.
AlertDay ParseAlertDay(std::string_view bytes, AlertCarry& carry, CarryUse* use = nullptr);

// Folds slots 1 to 24: level totals into column 0, taken = given - skipped
// (skipped never above given), and every slot added into slot 0.
void FoldAlertCounts(AlertCounts& counts);

}  // namespace prax

#pragma once
// Reading one Alert log (.PXL) into the day's hourly counters, with the
// EMSSystemUsage and UserNotes rows its event lines add on the way.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "alerts/load_alert_logs.h"

namespace prax {

struct RunContext;

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

  // Every count 0.
  void Clear() { c_.fill(0); }
  // Whether any of the slot's 13 x 7 counts is not 0.
  bool SlotHasCount(int slot) const;

 private:
  static bool InBounds(long long slot, long long row, long long level) {
    return slot >= 0 && slot < kSlots && row >= 0 && row < kRows && level >= 0 && level < kLevels;
  }
  static std::size_t Index(long long slot, long long row, long long level) {
    return static_cast<std::size_t>((slot * kRows + row) * kLevels + level);
  }
  std::array<int32_t, kSlots * kRows * kLevels> c_{};
};

// Cuts the first twelve space-ended words of `buffer` into fields 0 to 11 and
// leaves the rest in `buffer`. A field whose word has no space after it gets
// "0" and ends the cutting; the fields after it keep their earlier words, and
// the buffer keeps that last word.
void SplitAlertFields(std::array<std::string, 12>& fields, std::string_view& buffer);

// What became of the log file.
enum class AlertLogRead {
  kParsed,      // read to its end (or to the first empty buffer) and folded
  kMissing,     // no file at the path: nothing counted, no row added
  kUnreadable,  // the file exists but could not be read: nothing counted, no row added
};
struct AlertLogOutcome {
  AlertLogRead read = AlertLogRead::kParsed;
  std::string reason;  // why an existing file could not be read
};

// Parses the log at `pathText` for the day of file-list entry `entry`
// (yy-mm-dd & tag), adding to `counts` (cleared by the caller) and appending
// rows through ctx.SystemUsageRs and ctx.UserNotesRs with the lookups of
// ctx.Tools, ctx.BodyParts, ctx.Discomforts and ctx.Notes. A failing step of a
// line is passed over and the step after it runs; nothing is thrown.
AlertLogOutcome ParseAlertLog(RunContext& ctx, AlertParserState& state, AlertCounts& counts,
                              std::string_view pathText, std::string_view entry);

// The reading and folding part of ParseAlertLog, on the log's bytes.
void ParseAlertBytes(RunContext& ctx, AlertParserState& state, AlertCounts& counts, std::string bytes,
                     std::string_view entry);

// Folds slots 1 to 24: level totals into column 0, taken = given - skipped
// (skipped never above given), and every slot added into slot 0.
void FoldAlertCounts(AlertCounts& counts);

}  // namespace prax

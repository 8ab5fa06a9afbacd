#include "logs/activity_day.h"

#include <cmath>
#include <limits>
#include <optional>

#include "load/write_error_keys.h"
#include "platform/run_context.h"
#include "platform/status.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/lines.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

namespace {

constexpr std::string_view kProjectMark = "User Project:";  // 13 characters
constexpr std::string_view kNotesMark = "User Notes:";      // 11 characters

// Rounds half to even into 16 bits; false when the value does not fit.
bool ToInt16(double value, int16_t& out) {
  const double r = std::nearbyint(value);
  if (!(r >= -32768.0 && r <= 32767.0)) return false;
  out = static_cast<int16_t>(r);
  return true;
}

// Adds into a 32-bit count; false (count unchanged) when the sum leaves the range.
bool AddCount(int32_t& count, int64_t add) {
  const int64_t sum = int64_t{count} + add;
  if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) return false;
  count = static_cast<int32_t>(sum);
  return true;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

// Windows-1252 bytes to the UTF-8 the database holds (no copy for plain ASCII).
int16_t Lookup(LookupList& list, std::string_view raw) {
  if (IsAscii(raw)) return list.Get(raw);
  return list.Get(text::Cp1252ToUtf8(raw));
}

// The text after the first `n` characters (SliceAt(s, n + 1)).
std::string_view After(std::string_view s, std::size_t n) { return n >= s.size() ? std::string_view{} : s.substr(n); }

// Appends one ProjectNotes row, each column its own step: a column that
// cannot be set stays Null, a refused row is lost.
void AppendProjectNote(RunContext& ctx, ActivityParserState& state, const FileList& fileList, int position) {
  db::Recordset* rs = ctx.ProjectNotesRs.get();
  if (rs == nullptr) return;
  if (!TryStep([&] { rs->AddNew(); })) return;
  TryStep([&] { rs->Set("User_Num", ctx.CurrentUser); });
  TryStep([&] {
    if (position < 1 || static_cast<std::size_t>(position) >= fileList.size()) {
      throw Error(err::kSubscript, "Subscript out of range");
    }
    rs->Set("Data_Date", EntryDateKey(fileList[static_cast<std::size_t>(position)]));
  });
  // The clock hour as text with a leading blank, its last two characters.
  TryStep([&] { rs->Set("Data_Hour", std::string(text::LastChars(num::SpacedNumberText(int64_t{state.HourSlot} - 1), 2))); });
  TryStep([&] {
    if (state.Minute.empty()) {
      rs->Set("Data_Minute", nullptr);  // no data line yet: no minute
    } else {
      rs->Set("Data_Minute", text::Cp1252ToUtf8(state.Minute));
    }
  });
  TryStep([&] { rs->Set("Project_Id", int{ctx.CurProjId}); });
  TryStep([&] { rs->Set("Task_Id", int{ctx.CurTaskId}); });
  TryStep([&] { rs->Set("Note_Id", int{ctx.CurNoteId}); });
  if (!TryStep([&] { rs->Update(); })) TryStep([&] { rs->CancelUpdate(); });
}

void ParseDataLine(RunContext& ctx, ActivityParserState& state, std::string_view line, const FileList& fileList,
                   int position, db::Recordset& activityRs) {
  // Hour slot: the clock hour plus one; the minute stays text.
  int16_t h = state.HourSlot;
  if (ToInt16(num::LeadingNumber(text::SliceAt(line, 5, 2)) + 1, h)) state.HourSlot = h;
  state.Minute.assign(text::SliceAt(line, 7, 2));
  h = state.HourSlot;

  ParseActivityCounts(state, line, ctx.AppsNoPresent, ctx.KeysMax);

  // The first data line of a file books its counts to its own names.
  if (state.CurAppName.empty()) state.CurAppName = state.LineAppName;
  if (state.CurWindowName.empty()) state.CurWindowName = state.LineWindowName;

  TryStep([&] { ctx.CurAppId = Lookup(ctx.Apps, state.CurAppName); });
  TryStep([&] { ctx.CurWindowId = Lookup(ctx.Windows, state.CurWindowName); });

  const bool slotValid = h >= 0 && h < kHourSlots;
  // Per-line rows only once the hour already holds error keys. For a slot
  // outside the day the test cannot be made and the rows are written anyway.
  bool write = true;
  if (slotValid) {
    const auto& hour = state.HourKeyCounts[static_cast<std::size_t>(h)];
    const int64_t before = int64_t{hour[kBackspaceKey]} + hour[kDeleteKey];
    const bool fits = before >= std::numeric_limits<int32_t>::min() && before <= std::numeric_limits<int32_t>::max();
    write = !fits || before > 0;
  }
  if (write) TryStep([&] { WriteLineErrorKeys(ctx, state, fileList, position, h, activityRs); });

  if (slotValid) {
    auto& hour = state.HourKeyCounts[static_cast<std::size_t>(h)];
    for (std::size_t k = 1; k < kKeySlots; ++k) {
      if (state.LineKeyCounts[k] != 0) AddCount(hour[k], state.LineKeyCounts[k]);
    }
  }

  state.CurAppName = state.LineAppName;
  state.CurWindowName = state.LineWindowName;
}

// Project line, then notes line (the notes test sees what the project test
// left of the line).
void ParseOtherLine(RunContext& ctx, ActivityParserState& state, std::string_view line, const FileList& fileList,
                    int position) {
  if (line.size() > kProjectMark.size() && text::StartsWith(line, kProjectMark)) {
    line = text::Trim(After(line, kProjectMark.size()));
    const std::size_t p = line.find('(');
    if (p != std::string_view::npos) state.ProjName.assign(text::Trim(line.substr(0, p)));
    // Without "(" the previous project name is looked up again.
    if (!state.ProjName.empty()) TryStep([&] { ctx.CurProjId = Lookup(ctx.Projects, state.ProjName); });
    if (p != std::string_view::npos) line = text::Trim(After(line, p + 1));
    const std::size_t q = line.find(')');
    if (q != std::string_view::npos) state.TaskName.assign(text::Trim(line.substr(0, q)));
    if (!state.TaskName.empty()) TryStep([&] { ctx.CurTaskId = Lookup(ctx.Tasks, state.TaskName); });
  }

  if (line.size() >= kNotesMark.size() + 1 && text::StartsWith(line, kNotesMark)) {
    state.NoteText.assign(text::Trim(After(line, kNotesMark.size() + 1)));
    if (state.NoteText.empty()) return;
    TryStep([&] { ctx.CurNoteId = Lookup(ctx.Notes, state.NoteText); });
    AppendProjectNote(ctx, state, fileList, position);
  }
}

}  // namespace

void ParseActivityCounts(ActivityParserState& state, std::string_view line, bool appsNoPresent, int16_t keysMax) {
  state.LineKeyCounts.fill(0);
  // The tail, followed by two blanks so that the last count always ends in one.
  state.Tail.assign(After(line, 9));
  state.Tail += "  ";
  std::string_view t = state.Tail;

  if (t.front() == '"' && !appsNoPresent) {
    t.remove_prefix(1);
    const std::size_t close = t.find('"');
    if (close == std::string_view::npos) return;  // unclosed window name: nothing more is read
    state.LineWindowName.assign(t.substr(0, close));
    state.LineAppName = state.LineWindowName;
    t = text::LTrim(After(t, close + 1));
    if (!t.empty() && t.front() == ',') {
      t = After(t, 2);  // the comma and the opening quote
      const std::size_t appClose = t.find('"');
      if (appClose == std::string_view::npos) return;  // unclosed application name
      const std::string_view app = t.substr(0, appClose);
      if (!text::Trim(app).empty()) state.LineAppName.assign(app);
      t = text::LTrim(After(t, appClose + 1));
    }
  } else {
    state.LineAppName.assign(1, ' ');
    state.LineWindowName.assign(1, ' ');
  }

  // The number before the pairs is not used.
  const std::size_t blank = t.find(' ');
  t = blank == std::string_view::npos ? std::string_view{} : text::LTrim(After(t, blank + 1));

  int16_t key = 0;
  while (!t.empty() && key < keysMax) {
    const std::size_t comma = t.find(',');
    if (comma == std::string_view::npos) return;  // a pair without a comma ends the split
    if (!ToInt16(num::LeadingNumber(t.substr(0, comma)), key)) return;
    t = text::LTrim(After(t, comma + 1));

    const std::size_t end = t.find(' ');
    int16_t count = 0;
    if (!ToInt16(num::LeadingNumber(end == std::string_view::npos ? std::string_view{} : t.substr(0, end)), count)) return;
    if (end != std::string_view::npos) t = text::LTrim(After(t, end + 1));

    if (key < 0 || key >= kKeySlots) return;
    if (!AddCount(state.LineKeyCounts[static_cast<std::size_t>(key)], count)) return;
  }
}

void ParseActivityLog(RunContext& ctx, ActivityParserState& state, std::string_view path, const FileList& fileList,
                      int position, db::Recordset& activityRs) {
  ctx.CurWindowId = -1;
  ctx.CurProjId = -1;
  ctx.CurTaskId = -1;
  state.CurAppName.clear();
  state.CurWindowName.clear();
  state.HourSlot = 0;
  state.Minute.clear();

  std::optional<LineReader> opened;
  try {
    opened.emplace(LineReader::OpenLog(path));
  } catch (const Error& e) {
    RethrowEnvironment(e);
    if (ctx.status != nullptr) {
      ctx.status->PassedOver("    Activity log not read: " + fs::ForDisplay(path) + " (" + e.what() + ")");
      // A day without an activity log is usual; anything else is shown.
      if (e.Number() != err::kFileNotFound) ctx.status->SetStatus("Activity log skipped: " + std::string(e.what()));
    }
    return;
  }

  LineReader& lines = *opened;
  while (!lines.AtEnd()) {
    const std::string_view line = lines.Next();
    if (num::LeadingNumber(text::FirstChars(line, 3)) > 0) {
      ParseDataLine(ctx, state, line, fileList, position, activityRs);
    } else {
      ParseOtherLine(ctx, state, line, fileList, position);
    }
  }

  lines.CheckUnchanged();

  // Day totals into slot 0.
  auto& day = state.HourKeyCounts[0];
  for (std::size_t h = 1; h < kHourSlots; ++h) {
    const auto& hour = state.HourKeyCounts[h];
    for (std::size_t k = 0; k < kKeySlots; ++k) {
      if (hour[k] != 0) AddCount(day[k], hour[k]);
    }
  }
}

}  // namespace prax

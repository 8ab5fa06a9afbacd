#include "logs/activity_day.h"

#include <cmath>
#include <limits>

#include "platform/error.h"
#include "platform/lines.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace prax {

namespace {

constexpr std::string_view kProjectMark = "User Project:";  // 13 characters
constexpr std::string_view kNotesMark = "User Notes:";      // 11 characters

// Rounds half to even into 16 bits; false when the value does not fit. Whole
// numbers, which nearly all are, need no rounding.
bool ToInt16(double value, int16_t& out) {
  if (value >= -32768.0 && value <= 32767.0 && static_cast<double>(static_cast<int16_t>(value)) == value) {
    out = static_cast<int16_t>(value);
    return true;
  }
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

// The text after the first `n` characters (SliceAt(s, n + 1)).
std::string_view After(std::string_view s, std::size_t n) { return n >= s.size() ? std::string_view{} : s.substr(n); }

constexpr std::size_t kErrorKeys[] = {kBackspaceKey, kDeleteKey};

// A pair of one to four digits each, "key,count", with blanks after the
// comma, the count ended by a blank or the end of `t`: the characters it
// takes with the blanks after it, or 0 for any other text. Nearly every pair
// is such, and the full reading of numbers would give the same values.
std::size_t PlainPair(std::string_view t, int16_t& key, int16_t& count) {
  const char* const begin = t.data();
  const char* const end = begin + t.size();
  const char* p = begin;
  const auto digits = [&](int16_t& value) {
    const char* const first = p;
    int v = 0;
    while (p != end && p - first < 5) {
      const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
      if (digit > 9) break;
      v = v * 10 + static_cast<int>(digit);
      ++p;
    }
    value = static_cast<int16_t>(v);
    return p - first >= 1 && p - first <= 4;
  };
  int16_t k = 0, c = 0;
  if (!digits(k) || p == end || *p != ',') return 0;
  ++p;
  while (p != end && *p == ' ') ++p;
  if (!digits(c) || (p != end && *p != ' ')) return 0;
  while (p != end && *p == ' ') ++p;
  key = k;
  count = c;
  return static_cast<std::size_t>(p - begin);
}

// text::LTrim for the short runs of blanks between pairs.
std::string_view SkipBlanks(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  return t.substr(i);
}

// The names a data line gives: views into the day's bytes, the blank name,
// or (until the day's first line names them) the carry's own texts.
struct LineNames {
  std::string_view app, window;
};
constexpr std::string_view kBlankName = " ";

// The names and key counts of a data line's tail, added into `counts`; each
// key whose count was 0 before goes to `touched`, so that the caller can
// empty the counts again without clearing all of them. Returns the kind of
// failure of a key or count out of range (the pairs after it are not read),
// else kNone. A count ends at the next blank or at the end of the line.
ErrorKind SplitCounts(std::string_view line, const ActivityOptions& options, LineNames& names,
                      std::array<int32_t, kKeySlots>& counts, std::vector<int16_t>& touched) {
  std::string_view t = After(line, 9);

  if (!t.empty() && t.front() == '"' && !options.appsNoPresent) {
    t.remove_prefix(1);
    const std::size_t close = t.find('"');
    if (close == std::string_view::npos) return err::kNone;  // unclosed window name: nothing more is read
    names.window = names.app = t.substr(0, close);
    t = text::LTrim(After(t, close + 1));
    if (!t.empty() && t.front() == ',') {
      t = After(t, 2);  // the comma and the opening quote
      const std::size_t appClose = t.find('"');
      if (appClose == std::string_view::npos) return err::kNone;  // unclosed application name
      const std::string_view app = t.substr(0, appClose);
      if (!text::Trim(app).empty()) names.app = app;
      t = text::LTrim(After(t, appClose + 1));
    }
  } else {
    names.app = names.window = kBlankName;
  }

  // The number before the pairs is not used.
  const std::size_t blank = t.find(' ');
  t = blank == std::string_view::npos ? std::string_view{} : text::LTrim(After(t, blank + 1));

  int16_t key = 0;
  while (!t.empty() && key < options.keysMax) {
    int16_t count = 0;
    if (const std::size_t used = PlainPair(t, key, count)) {
      t.remove_prefix(used);
    } else {
      const std::size_t comma = t.find(',');
      if (comma == std::string_view::npos) return err::kNone;  // a pair without a comma ends the split
      if (!ToInt16(num::LeadingNumber(t.substr(0, comma)), key)) return err::kOverflow;
      t = SkipBlanks(After(t, comma + 1));

      const std::size_t end = t.find(' ');
      if (!ToInt16(num::LeadingNumber(t.substr(0, end)), count)) return err::kOverflow;
      t = end == std::string_view::npos ? std::string_view{} : SkipBlanks(After(t, end + 1));
    }

    if (key < 0 || key >= kKeySlots) return err::kSubscript;
    int32_t& sum = counts[static_cast<std::size_t>(key)];
    if (sum == 0) touched.push_back(key);
    if (!AddCount(sum, count)) return err::kOverflow;
  }
  return err::kNone;
}

// Hands the names back to the carry, where they did not come from it.
void KeepNames(const LineNames& names, ActivityCarry& carry) {
  if (names.app.data() != carry.LineAppName.data()) carry.LineAppName.assign(names.app);
  if (names.window.data() != carry.LineWindowName.data()) carry.LineWindowName.assign(names.window);
}

// One file's lines. The names of the data lines and the project, task and
// note carry over from file to file; the rest starts afresh with each file.
// The texts of the events are copied into the day's names as they reach an
// event (a name repeated from the event before is not copied again).
class ActivityLineParser {
 public:
  ActivityLineParser(const ActivityOptions& options, ActivityCarry& carry, ActivityDay& day)
      : opt_(options), st_(carry), day_(day), names_{carry.LineAppName, carry.LineWindowName} {}

  void Line(std::string_view line, LineRef at) {
    at_ = at;
    int64_t sample = 0;
    const std::string_view first = text::FirstChars(line, 3);
    if (num::DigitsOnly(first, sample) ? sample > 0 : num::LeadingNumber(first) > 0) {
      DataLine(line);
    } else {
      OtherLine(line);
    }
  }

  // Day totals into slot 0; the names of the last data line to the carry.
  void Finish() {
    auto& whole = day_.errorKeys[0];
    for (std::size_t h = 1; h < kHourSlots; ++h) {
      for (std::size_t k = 0; k < 2; ++k) {
        if (day_.errorKeys[h][k] != 0) AddCount(whole[k], day_.errorKeys[h][k]);
      }
    }
    if (names_.app.data() != st_.LineAppName.data()) use_.set |= kAppField;
    if (names_.window.data() != st_.LineWindowName.data()) use_.set |= kWindowField;
    KeepNames(names_, st_);
  }

  const CarryUse& Use() const { return use_; }

 private:
  void DataLine(std::string_view line) {
    // Hour slot: the clock hour plus one; the minute stays text.
    int16_t h = hourSlot_;
    int64_t hour = 0;
    if (num::DigitsOnly(text::SliceAt(line, 5, 2), hour)) {
      hourSlot_ = static_cast<int16_t>(hour + 1);
    } else if (ToInt16(num::LeadingNumber(text::SliceAt(line, 5, 2)) + 1, h)) {
      hourSlot_ = h;
    }
    minute_ = text::SliceAt(line, 7, 2);
    h = hourSlot_;

    // The counts of the line before are emptied first.
    for (const int16_t key : touched_) lineCounts_[static_cast<std::size_t>(key)] = 0;
    touched_.clear();
    const ErrorKind failed = SplitCounts(line, opt_, names_, lineCounts_, touched_);
    if (failed != err::kNone) Fail(failed);
    // A line that names nothing books to (or hands on) the names the carry holds.
    if (names_.app.data() == st_.LineAppName.data() || names_.window.data() == st_.LineWindowName.data())
      use_.read = true;

    // The first data line of a file books its counts to its own names; every
    // later one to the names of the line before it.
    if (curApp_.empty()) curApp_ = names_.app;
    if (curWindow_.empty()) curWindow_ = names_.window;

    LineBooked booked{Keep(curApp_, lastApp_), Keep(curWindow_, lastWindow_), true, h, lineCounts_[kBackspaceKey],
                      lineCounts_[kDeleteKey]};
    const bool slotValid = h >= 0 && h < kHourSlots;
    // Per-line rows only once the hour already holds error keys. For a slot
    // outside the day the test cannot be made and the rows are written anyway.
    if (slotValid) {
      auto& hour = day_.errorKeys[static_cast<std::size_t>(h)];
      const int64_t before = int64_t{hour[0]} + hour[1];
      const bool fits = before >= std::numeric_limits<int32_t>::min() && before <= std::numeric_limits<int32_t>::max();
      booked.writeKeys = !fits || before > 0;
      for (std::size_t k = 0; k < 2; ++k) {
        if (lineCounts_[kErrorKeys[k]] != 0 && !AddCount(hour[k], lineCounts_[kErrorKeys[k]])) Fail(err::kOverflow);
      }
    }
    day_.events.emplace_back(booked);

    curApp_ = names_.app;
    curWindow_ = names_.window;
  }

  // Project line, then notes line (the notes test sees what the project test
  // left of the line).
  void OtherLine(std::string_view line) {
    if (line.size() > kProjectMark.size() && text::StartsWith(line, kProjectMark)) {
      line = text::Trim(After(line, kProjectMark.size()));
      // Without "(" the previous project name stands again, without ")" the task.
      const std::size_t p = line.find('(');
      if (p != std::string_view::npos) st_.ProjName.assign(text::Trim(line.substr(0, p)));
      if (p != std::string_view::npos) line = text::Trim(After(line, p + 1));
      const std::size_t q = line.find(')');
      if (q != std::string_view::npos) st_.TaskName.assign(text::Trim(line.substr(0, q)));
      Used(p != std::string_view::npos, kProjectField);
      Used(q != std::string_view::npos, kTaskField);
      day_.events.emplace_back(ProjectDeclared{Copy(st_.ProjName), Copy(st_.TaskName)});
    }

    if (line.size() >= kNotesMark.size() + 1 && text::StartsWith(line, kNotesMark)) {
      st_.NoteText.assign(text::Trim(After(line, kNotesMark.size() + 1)));
      use_.set |= kNoteField;
      if (st_.NoteText.empty()) return;
      // The clock hour as text with a leading blank, its last two characters.
      const std::string hour = num::SpacedNumberText(int64_t{hourSlot_} - 1);
      day_.events.emplace_back(NoteDeclared{Copy(st_.NoteText), Copy(text::LastChars(hour, 2)), Copy(minute_)});
    }
  }

  // A carried name the line either sets or uses.
  void Used(bool set, uint32_t field) {
    if (set) use_.set |= field;
    if (!set && (use_.set & field) == 0) use_.read = true;
  }

  // The text copied into the day's names.
  DayText Copy(std::string_view s) {
    const DayText t{static_cast<uint32_t>(day_.names.size()), static_cast<uint32_t>(s.size())};
    day_.names.append(s);
    return t;
  }
  // A name of a booked line: the copy made for the line before when it is the same.
  DayText Keep(std::string_view name, DayText& last) {
    if (day_.Text(last) != name) last = Copy(name);
    return last;
  }

  // The line fails its step (once).
  void Fail(ErrorKind kind) {
    if (day_.failures.empty() || day_.failures.back().at.line != at_.line) day_.failures.push_back({at_, kind});
  }

  static constexpr uint32_t kAppField = 1, kWindowField = 2, kProjectField = 4, kTaskField = 8, kNoteField = 16;

  const ActivityOptions& opt_;
  ActivityCarry& st_;
  CarryUse use_;
  ActivityDay& day_;
  LineNames names_;                     // of the last data line
  std::string_view curApp_, curWindow_;  // the names the next data line books to
  DayText lastApp_, lastWindow_;        // the copies of the last booked names
  int16_t hourSlot_ = 0;                // of the last data line
  std::string_view minute_;
  std::array<int32_t, kKeySlots> lineCounts_{};
  std::vector<int16_t> touched_;  // the keys lineCounts_ holds
  LineRef at_;  // the line being read
};

}  // namespace

void ParseActivityCounts(std::string_view line, const ActivityOptions& options, ActivityCarry& carry,
                         std::array<int32_t, kKeySlots>& counts) {
  LineNames names{carry.LineAppName, carry.LineWindowName};
  std::vector<int16_t> touched;
  counts.fill(0);
  SplitCounts(line, options, names, counts, touched);
  KeepNames(names, carry);
}

ActivityDay ParseActivityDay(std::string_view bytes, const ActivityOptions& options, ActivityCarry& carry,
                             CarryUse* use) {
  ActivityDay day;
  ActivityLineParser parser(options, carry, day);
  LineReader lines = LineReader::Over(bytes);
  for (int32_t n = 1; !lines.AtEnd(); ++n) {
    const std::string_view line = lines.Next();
    parser.Line(line, {n, static_cast<uint32_t>(line.data() - bytes.data())});
    // Nearly every line adds one event: push_back is the cheap way to grow.
    while (day.lines.size() < day.events.size()) {
      day.lines.push_back(LineRef{n, static_cast<uint32_t>(line.data() - bytes.data())});
    }
  }
  parser.Finish();
  if (use != nullptr) *use = parser.Use();
  return day;
}

void ActivityCarry::Apply(const ActivityCarry& from, uint32_t set) {
  std::string* const fields[] = {&LineAppName, &LineWindowName, &ProjName, &TaskName, &NoteText};
  const std::string* const given[] = {&from.LineAppName, &from.LineWindowName, &from.ProjName, &from.TaskName,
                                      &from.NoteText};
  for (std::size_t i = 0; i < 5; ++i) {
    if ((set >> i & 1u) != 0) *fields[i] = *given[i];
  }
}

}  // namespace prax

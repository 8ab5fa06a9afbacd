#include "logs/alert_day.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "platform/error.h"
#include "platform/lines.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace prax {

namespace {

using R = AlertCounts::Row;

// Rounding to 16 and 32 bits, halves to the even neighbour, without throwing:
// nothing when the result leaves the range. Whole numbers, which nearly all
// are, need no rounding.
std::optional<int16_t> RoundInt(double v) {
  if (v >= -32768.0 && v <= 32767.0 && static_cast<double>(static_cast<int16_t>(v)) == v) {
    return static_cast<int16_t>(v);
  }
  const double r = std::nearbyint(v);
  if (!(r >= -32768.0 && r <= 32767.0)) return std::nullopt;
  return static_cast<int16_t>(r);
}
std::optional<int32_t> RoundLong(double v) {
  if (v >= -2147483648.0 && v <= 2147483647.0 && static_cast<double>(static_cast<int32_t>(v)) == v) {
    return static_cast<int32_t>(v);
  }
  const double r = std::nearbyint(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return std::nullopt;
  return static_cast<int32_t>(r);
}
// The same for whole numbers.
std::optional<int16_t> RoundInt(int64_t v) {
  if (v < -32768 || v > 32767) return std::nullopt;
  return static_cast<int16_t>(v);
}
std::optional<int32_t> RoundLong(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(v);
}

// 1-based cut of what exists of the range (start >= 1).
std::string_view Sub(std::string_view s, std::size_t start, std::size_t length = std::string_view::npos) {
  if (start > s.size()) return {};
  return s.substr(start - 1, length);
}

bool Begins(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The date of a "User Action:" line: the century put before yymmdd; none
// when the six characters are not a date number.
std::optional<int64_t> ActionDate(std::string_view yymmdd) {
  if (yymmdd.size() != 6) return std::nullopt;
  int64_t v = 0;
  for (char ch : yymmdd) {
    if (ch < '0' || ch > '9') return std::nullopt;
    v = v * 10 + (ch - '0');
  }
  const int64_t century = (yymmdd[0] - '0') * 10 + (yymmdd[1] - '0') > 90 ? 19 : 20;
  return century * 1000000 + v;
}

// Text that is absent when empty.
std::optional<std::string> NonEmpty(std::string_view s) {
  if (s.empty()) return std::nullopt;
  return std::string(s);
}

class AlertLineParser {
 public:
  AlertLineParser(AlertCarry& carry, AlertDay& day) : st_(carry), c_(day.counts), events_(day.events), day_(day) {
    for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i] = carry.AlertFields[i];
  }

  void Run(LineReader& reader, std::string_view bytes) {
    buf_ = " ";
    while (!reader.AtEnd() && !buf_.empty()) {
      buf_ = reader.Next();
      at_ = {at_.line + 1, static_cast<uint32_t>(buf_.data() - bytes.data())};
      int64_t sample = 0;
      if (num::DigitsOnly(buf_.substr(0, 3), sample) ? sample > 0 : num::LeadingNumber(buf_.substr(0, 3)) > 0) {
        if (buf_.find("RECOV") == std::string_view::npos) SampleLine();
      } else {
        EventLine();
      }
      while (day_.lines.size() < events_.size()) day_.lines.push_back(at_);
    }
    // The words of the last sample lines to the carry, where they did not come from it.
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].data() != st_.AlertFields[i].data()) {
        st_.AlertFields[i].assign(fields_[i]);
        use_.set |= 1u << i;
      }
    }
  }

  const CarryUse& Use() const { return use_; }

 private:
  // A count of the line; one that cannot be added fails the line (once).
  // A whole delta is added without going through floating point.
  template <class Delta>
  void Count(long long slot, long long row, long long level, Delta delta) {
    bool added = false;
    if constexpr (std::is_integral_v<Delta>) {
      added = c_.AddWhole(slot, row, level, delta);
    } else {
      added = c_.Add(slot, row, level, delta);
    }
    if (added) return;
    if (!day_.failures.empty() && day_.failures.back().at.line == at_.line) return;
    const bool inside = slot >= 0 && slot < AlertCounts::kSlots && level >= 0 && level < AlertCounts::kLevels;
    day_.failures.push_back({at_, inside ? err::kOverflow : err::kSubscript});
  }

  void SampleLine() {
    // The hour slot and minute stand at fixed positions.
    int64_t hour = 0;
    if (num::DigitsOnly(Sub(buf_, 5, 2), hour)) {
      h_ = static_cast<int16_t>(hour + 1);
    } else if (auto v = RoundInt(num::LeadingNumber(Sub(buf_, 5, 2)) + 1)) {
      h_ = *v;
    }
    mm_ = Sub(buf_, 7, 2);
    // The words of the line, into the fields kept from line to line.
    SplitAlertFields(fields_, buf_);
    const auto& w = fields_;
    // A line with fewer words counts the words the carry holds.
    for (const std::size_t i : kCountedWords) {
      if (w[i].data() == st_.AlertFields[i].data()) use_.read = true;
    }
    // The six numbers are plain digits nearly always: whole numbers then,
    // which give what their reading as numbers gives.
    int64_t whole[6] = {};
    if (num::DigitsOnly(w[2], whole[0]) && num::DigitsOnly(w[3], whole[1]) && num::DigitsOnly(w[4], whole[2]) &&
        num::DigitsOnly(w[6], whole[3]) && num::DigitsOnly(w[7], whole[4]) && num::DigitsOnly(w[8], whole[5])) {
      Sample(whole[0], whole[1], whole[2], whole[3], whole[4], whole[5]);
    } else {
      Sample(num::LeadingNumber(w[2]), num::LeadingNumber(w[3]), num::LeadingNumber(w[4]), num::LeadingNumber(w[6]),
             num::LeadingNumber(w[7]), num::LeadingNumber(w[8]));
    }
  }

  template <class N>
  void Sample(N keys, N keyLevel, N keyWork, N mouseSecs, N mouseLevel, N mouseWork) {
    // Keystrokes and mouse seconds go to the hour.
    Count(h_, R::kKeystrokes, 0, keys);
    Count(h_, R::kMouseSeconds, 0, mouseSecs);
    // Alert levels: rises, falls and skipped alerts.
    Level(keyLevel, prevKeyLevel_, keyFell_, R::kKeyGiven, R::kKeySkipped);
    Level(mouseLevel, prevMouseLevel_, mouseFell_, R::kMouseGiven, R::kMouseSkipped);
    // A work counter that moved on is one more work minute.
    if (keyWork > prevKeyWork_) Count(h_, R::kKeyWorkMins, 0, 1);
    if (mouseWork > prevMouseWork_) Count(h_, R::kMouseWorkMins, 0, 1);
    // The values the next sample compares with; each is kept when its rounding fails.
    if (auto v = RoundInt(keyWork)) prevKeyWork_ = *v;
    if (auto v = RoundInt(mouseWork)) prevMouseWork_ = *v;
    if (auto v = RoundInt(keyLevel)) prevKeyLevel_ = *v;
    if (auto v = RoundInt(mouseLevel)) prevMouseLevel_ = *v;
  }

  // A fall marks the break taken; a rise counts an alert given at the new
  // level and, without a fall since the last rise, one skipped at the old one.
  template <class N>
  void Level(N level, int16_t prev, bool& fell, int givenRow, int skippedRow) {
    if (level < prev) fell = true;
    if (level > prev) {
      if (auto l = RoundLong(level)) Count(h_, givenRow, *l, 1);
      if (!fell) Count(h_, skippedRow, prev, 1);
      fell = false;
    }
  }

  void EventLine() {
    if (buf_.size() > 12 && Begins(buf_, "User Action:")) UserAction();
    if (buf_.size() > 11 && Begins(buf_, "User Entry:")) UserEntry();
    if (buf_.size() > 11 && Begins(buf_, "User Notes:")) UserNotes();
    if (buf_ == "Stretch Alert") Count(h_, R::kStretch, 0, 1);
    if (buf_ == "CYCLED") Count(h_, R::kCycled, 0, 1);
    if (Begins(buf_, "STA")) Count(h_, R::kRestarts, 0, 1);
    if (buf_.size() > 20) {
      if (Begins(buf_, "Mouse Warning")) Warning(prevMouseLevel_, R::kMouseGiven, R::kMouseSkipped);
      if (Begins(buf_, "Keyboard Warning")) Warning(prevKeyLevel_, R::kKeyGiven, R::kKeySkipped);
    }
  }

  // "User Action: <tool>*<yymmdd> <hh>...": the tool used and when.
  void UserAction() {
    buf_ = text::Trim(Sub(buf_, 14));
    const std::size_t star = buf_.find('*');
    if (star != std::string_view::npos) {
      st_.ToolName.assign(text::Trim(buf_.substr(0, star)));
      use_.set |= kToolField;
    }
    buf_ = text::Trim(star == std::string_view::npos ? buf_ : buf_.substr(star + 1));
    if (star == std::string_view::npos || st_.ToolName.empty()) return;
    events_.emplace_back(ToolUsed{st_.ToolName, ActionDate(buf_.substr(0, 6)), NonEmpty(Sub(buf_, 8, 2))});
  }

  // "User Entry: <discomfort>-- <body part>": at the hour and minute of the
  // last sample line.
  void UserEntry() {
    buf_ = text::Trim(Sub(buf_, 14));
    const std::size_t dash = buf_.find("--");
    if (dash != std::string_view::npos) {
      st_.DiscomfortName.assign(text::Trim(buf_.substr(0, dash)));
      use_.set |= kDiscomfortField;
    }
    st_.BodyPartName.assign(text::Trim(Sub(buf_, dash == std::string_view::npos ? 3 : dash + 4)));
    use_.set |= kBodyPartField;
    if (dash == std::string_view::npos || st_.BodyPartName.empty()) return;
    events_.emplace_back(DiscomfortEntered{st_.BodyPartName, st_.DiscomfortName,
                                           std::string(text::LastChars(num::SpacedNumberText(h_ - 1), 2)),
                                           NonEmpty(mm_)});
  }

  // "User Notes: <note>": for the entry before it.
  void UserNotes() {
    st_.NoteText.assign(text::Trim(Sub(buf_, 13)));
    use_.set |= kNoteField;
    if (!st_.NoteText.empty()) events_.emplace_back(EntryNoted{st_.NoteText});
  }

  // A warning at level 5 while the samples stand at level 5 is one more
  // alert given and skipped at the top level.
  void Warning(int16_t prevLevel, int givenRow, int skippedRow) {
    const std::size_t q = buf_.find("level");
    const std::size_t start = (q == std::string_view::npos ? 0 : q + 1) + 5;
    if (auto v = RoundInt(num::LeadingNumber(Sub(buf_, start)))) warnLevel_ = *v;
    if (warnLevel_ == 5 && prevLevel == 5) {
      Count(h_, givenRow, 5, 1);
      Count(h_, skippedRow, 5, 1);
    }
  }

  // The words of a sample line that are counted.
  static constexpr std::array<std::size_t, 6> kCountedWords = {2, 3, 4, 6, 7, 8};
  // The carry's fields after the twelve words.
  static constexpr uint32_t kToolField = 1u << 12, kDiscomfortField = 1u << 13, kBodyPartField = 1u << 14,
                            kNoteField = 1u << 15;

  AlertCarry& st_;
  CarryUse use_;
  AlertCounts& c_;
  std::vector<AlertEvent>& events_;
  AlertDay& day_;
  LineRef at_;  // the line being read

  std::string_view buf_;
  // The words of the last sample lines: views into the day's bytes, or (until
  // the day's sample lines replace them) into the carry.
  std::array<std::string_view, 12> fields_;
  int16_t h_ = 0;
  std::string_view mm_;
  int16_t prevKeyLevel_ = 0, prevMouseLevel_ = 0, prevKeyWork_ = 0, prevMouseWork_ = 0;
  bool keyFell_ = false, mouseFell_ = false;
  int16_t warnLevel_ = 0;
};

}  // namespace

int32_t AlertCounts::At(long long slot, long long row, long long level) const {
  if (!InBounds(slot, row, level)) throw Error(err::kSubscript, "Subscript out of range", Cause::kData);
  return c_[Index(slot, row, level)];
}

int32_t& AlertCounts::At(long long slot, long long row, long long level) {
  if (!InBounds(slot, row, level)) throw Error(err::kSubscript, "Subscript out of range", Cause::kData);
  return c_[Index(slot, row, level)];
}

bool AlertCounts::Add(long long slot, long long row, long long level, double delta) {
  if (!InBounds(slot, row, level)) return false;
  int32_t& c = c_[Index(slot, row, level)];
  const auto sum = RoundLong(static_cast<double>(c) + delta);
  if (!sum) return false;
  c = *sum;
  return true;
}

bool AlertCounts::AddWhole(long long slot, long long row, long long level, int64_t delta) {
  if (!InBounds(slot, row, level)) return false;
  int32_t& c = c_[Index(slot, row, level)];
  const int64_t sum = c + delta;
  if (sum < INT32_MIN || sum > INT32_MAX) return false;
  c = static_cast<int32_t>(sum);
  return true;
}

bool AlertCounts::SlotHasCount(int slot) const {
  if (!InBounds(slot, 0, 0)) throw Error(err::kSubscript, "Subscript out of range", Cause::kData);
  const auto first = c_.begin() + static_cast<std::ptrdiff_t>(Index(slot, 0, 0));
  return std::any_of(first, first + kRows * kLevels, [](int32_t n) { return n != 0; });
}

void SplitAlertFields(std::array<std::string_view, 12>& fields, std::string_view& buffer) {
  // Words are short: a plain scan beats a search call per word.
  const char* p = buffer.data();
  const char* const end = p + buffer.size();
  for (std::string_view& field : fields) {
    const char* blank = p;
    while (blank != end && *blank != ' ') ++blank;
    if (blank == end) {
      field = "0";
      break;
    }
    field = std::string_view(p, static_cast<std::size_t>(blank - p));
    p = blank + 1;
  }
  buffer = std::string_view(p, static_cast<std::size_t>(end - p));
}

void FoldAlertCounts(AlertCounts& c) {
  // A difference that leaves the 32-bit range keeps the old count.
  const auto setDifference = [&c](int slot, int row, int level, int64_t a, int64_t b) {
    const int64_t d = a - b;
    if (d >= INT32_MIN && d <= INT32_MAX) c.At(slot, row, level) = static_cast<int32_t>(d);
  };
  for (int h = 1; h < AlertCounts::kSlots; ++h) {
    // An hour without counts changes nothing.
    if (!c.SlotHasCount(h)) continue;
    // The level-0 rows of the hour are rebuilt as the sums of its levels.
    for (int r = 0; r < AlertCounts::kRows; ++r) {
      if (r == R::kKeyGiven || r == R::kKeyTaken || r == R::kKeySkipped || r == R::kMouseGiven ||
          r == R::kMouseTaken || r == R::kMouseSkipped) {
        c.At(h, r, 0) = 0;
      }
      for (int l = 1; l <= 5; ++l) c.AddWhole(h, r, 0, c.At(h, r, l));
    }
    // Skipped alerts are held to those given; the rest were taken.
    for (int l = 0; l <= 5; ++l) {
      if (c.At(h, R::kKeySkipped, l) > c.At(h, R::kKeyGiven, l)) c.At(h, R::kKeySkipped, l) = c.At(h, R::kKeyGiven, l);
      setDifference(h, R::kKeyTaken, l, c.At(h, R::kKeyGiven, l), c.At(h, R::kKeySkipped, l));
      if (c.At(h, R::kMouseSkipped, l) > c.At(h, R::kMouseGiven, l)) {
        c.At(h, R::kMouseSkipped, l) = c.At(h, R::kMouseGiven, l);
      }
      setDifference(h, R::kMouseTaken, l, c.At(h, R::kMouseGiven, l), c.At(h, R::kMouseSkipped, l));
    }
    // The hour adds to the day-total slot.
    for (int r = 0; r < AlertCounts::kRows; ++r) {
      for (int l = 0; l < AlertCounts::kLevels; ++l) c.AddWhole(0, r, l, c.At(h, r, l));
    }
  }
}

AlertDay ParseAlertDay(std::string_view bytes, AlertCarry& carry, CarryUse* use) {
  AlertDay day;
  LineReader reader = LineReader::Over(bytes);
  AlertLineParser parser(carry, day);
  parser.Run(reader, bytes);
  FoldAlertCounts(day.counts);
  if (use != nullptr) *use = parser.Use();
  return day;
}

void AlertCarry::Apply(const AlertCarry& from, uint32_t set) {
  for (std::size_t i = 0; i < AlertFields.size(); ++i) {
    if ((set >> i & 1u) != 0) AlertFields[i] = from.AlertFields[i];
  }
  std::string* const names[] = {&ToolName, &DiscomfortName, &BodyPartName, &NoteText};
  const std::string* const given[] = {&from.ToolName, &from.DiscomfortName, &from.BodyPartName, &from.NoteText};
  for (std::size_t i = 0; i < 4; ++i) {
    if ((set >> (12 + i) & 1u) != 0) *names[i] = *given[i];
  }
}

}  // namespace prax

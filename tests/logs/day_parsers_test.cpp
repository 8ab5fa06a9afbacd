// Alert log bytes into the day's counts and events, activity log bytes into its events and error-key counts.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "logs/activity_day.h"
#include "logs/alert_day.h"
#include "platform/error.h"

namespace {

using Row = prax::AlertCounts::Row;

// A sample line at hhmm: keystrokes, keyboard and mouse level and work counter; twelve spaces and a last word.
std::string S(const char* hhmm, const std::string& keys, int keyLevel, int keyWork, int mouseLevel = 0,
              int mouseWork = 0) {
  return std::string("001 ") + hhmm + " " + keys + " " + std::to_string(keyLevel) + " " + std::to_string(keyWork) +
         " 0 0 " + std::to_string(mouseLevel) + " " + std::to_string(mouseWork) + " 0 0 0 end\r\n";
}

prax::AlertDay Parse(std::string_view log, prax::AlertCarry* carry = nullptr) {
  prax::AlertCarry local;
  return prax::ParseAlertDay(log, carry ? *carry : local);
}

// The events, one per line: T tool|date|hour, E discomfort|body part|hour|minute, N note; "-" for none.
std::string Events(const prax::AlertDay& day) {
  std::string out;
  for (const prax::AlertEvent& e : day.events) {
    if (const auto* t = std::get_if<prax::ToolUsed>(&e))
      out += "T " + t->tool + "|" + (t->date ? std::to_string(*t->date) : "-") + "|" + t->hour.value_or("-");
    if (const auto* d = std::get_if<prax::DiscomfortEntered>(&e))
      out += "E " + d->discomfort + "|" + d->bodyPart + "|" + d->hour + "|" + d->minute.value_or("-");
    if (const auto* n = std::get_if<prax::EntryNoted>(&e)) out += "N " + n->note;
    out += "\n";
  }
  return out;
}

TEST(AlertCounts, BoundsAndFold) {
  prax::AlertCounts c;
  EXPECT_THROW((void)c.At(25, 0, 0), prax::Error);
  c.At(1, Row::kKeystrokes, 0) = 2147483647;
  EXPECT_FALSE(c.Add(1, Row::kKeystrokes, 0, 1));
  EXPECT_TRUE(c.Add(1, Row::kKeystrokes, 0, -0.5));  // halves to even
  EXPECT_EQ(c.At(1, Row::kKeystrokes, 0), 2147483646);

  // Level 0 is clamped against the total given before the single levels.
  prax::AlertCounts d;
  d.At(3, Row::kKeyGiven, 1) = 2;
  d.At(3, Row::kKeyGiven, 2) = 1;
  d.At(3, Row::kKeySkipped, 2) = 3;
  d.At(3, Row::kMouseSkipped, 0) = 9;  // rebuilt from the levels
  d.At(7, Row::kRestarts, 0) = 3;
  prax::FoldAlertCounts(d);
  for (const auto& [row, level, n] : std::vector<std::array<int, 3>>{
           {Row::kKeySkipped, 0, 3}, {Row::kKeyTaken, 0, 0}, {Row::kKeySkipped, 2, 1}, {Row::kKeyTaken, 1, 2},
           {Row::kMouseSkipped, 0, 0}})
    EXPECT_EQ(d.At(3, row, level), n) << row << "," << level;
  EXPECT_EQ(d.At(0, Row::kRestarts, 0), 3);
}

TEST(AlertDay, CountsOfLogs) {
  // Logs and the counts {slot, row, level, count} they give.
  const struct { const char* what; std::string log; std::vector<std::array<int, 4>> want; } cases[] = {
      {"hour slots; 10 + 2.5 rounds to 12", S("0905", "10", 0, 0) + S("0959", "2.5", 0, 0) + S("2359", "4", 0, 0),
       {{10, Row::kKeystrokes, 0, 12}, {24, Row::kKeystrokes, 0, 4}, {0, Row::kKeystrokes, 0, 16}}},
      {"levels 0, 1, 2, 0, 1 and work counters 5, 5, 6, 8; RECOV lines pass",
       S("1000", "0", 0, 5, 3, 1) + S("1001", "0", 1, 5, 4, 1) + S("1002", "0", 2, 6) + S("1003", "0", 0, 8) +
           "001 1004 99 0 9 0 0 0 0 0 0 0 RECOV\r\n" + S("1004", "0", 1, 8),
       {{11, Row::kKeyGiven, 1, 2}, {11, Row::kKeyGiven, 2, 1}, {11, Row::kKeySkipped, 1, 1},
        {11, Row::kKeyTaken, 1, 1}, {11, Row::kKeyTaken, 2, 1}, {11, Row::kKeyGiven, 0, 3},
        {11, Row::kKeySkipped, 0, 1}, {11, Row::kKeyTaken, 0, 2}, {11, Row::kKeyWorkMins, 0, 3},
        {11, Row::kMouseGiven, 3, 1}, {11, Row::kMouseGiven, 4, 1}, {11, Row::kMouseSkipped, 3, 1},
        {11, Row::kMouseSkipped, 0, 1}, {11, Row::kMouseWorkMins, 0, 1}, {11, Row::kKeystrokes, 0, 0}}},
      {"event lines; a warning at 5 counts only while the samples stand at 5",
       "Stretch Alert\r\nStretch Alert \r\nstretch alert\r\nCYCLED\r\nSTARTED\r\n" + S("1400", "0", 5, 0) +
           "Stretch Alert\r\nKeyboard Warning at level 5\r\nKeyboard Warning at level 4\r\n"
           "Mouse Warning at level 5 ...\r\n" + S("1401", "0", 4, 0, 5) +
           "Keyboard Warning at level 5\r\nMouse Warning at level 5 ...\r\n",
       {{0, Row::kStretch, 0, 2}, {15, Row::kStretch, 0, 1}, {0, Row::kCycled, 0, 1}, {0, Row::kRestarts, 0, 1},
        {15, Row::kKeyGiven, 5, 2}, {15, Row::kKeySkipped, 5, 1}, {15, Row::kMouseGiven, 5, 2},
        {15, Row::kMouseSkipped, 5, 1}}},
      {"the rest of a User Action: line is read as a line of its own", "User Action: STARTED\r\n",
       {{0, Row::kRestarts, 0, 1}}},
      {"an empty line ends the reading", S("0900", "1", 0, 0) + "\r\n" + S("1000", "7", 0, 0),
       {{10, Row::kKeystrokes, 0, 1}, {11, Row::kKeystrokes, 0, 0}}},
      {"so does a sample line consumed to its end",
       S("0900", "1", 0, 0) + "001 0905 0 0 0 0 0 0 0 \r\n" + S("1000", "7", 0, 0), {{11, Row::kKeystrokes, 0, 0}}},
      {"so does a User Action: with nothing after the star",
       S("0900", "1", 0, 0) + "User Action: Drill*\r\n" + S("1000", "7", 0, 0), {{11, Row::kKeystrokes, 0, 0}}},
      {"blank lines and a lone LF do not end it; the last line may lack its end",
       "   \r\n\n\r001 1000 3 0 0 0 0 0 0 0 0 0 x\n001 1100 4 0 0 0 0 0 0 0 0 0 x\r002 1200 5 0",
       {{11, Row::kKeystrokes, 0, 3}, {13, Row::kKeystrokes, 0, 5}}},
      // Hours 24 and -5 and levels 7 and -1 count nothing where they fail, yet
      // previous values and flags move on; level 6 is counted but never summed.
      {"out-of-range hours and levels",
       S("2400", "5", 6, 1) + S("0900", "1", 7, 1) + S("0901", "1", 6, 1) + S("0902", "1", 7, 1) +
           S("0903", "1", -1, 1) + S("0904", "1", 6, 1) + S("0905", "1", 7, 1) + S("-500", "9", 0, 9),
       {{10, Row::kKeySkipped, 6, 2}, {10, Row::kKeyGiven, 6, 1}, {10, Row::kKeyGiven, 0, 0},
        {10, Row::kKeyWorkMins, 0, 0}, {0, Row::kKeystrokes, 0, 6}, {0, Row::kKeySkipped, 6, 2}}},
  };
  for (const auto& c : cases) {
    const prax::AlertCounts counts = Parse(c.log).counts;
    for (const auto& [slot, row, level, n] : c.want)
      EXPECT_EQ(counts.At(slot, row, level), n) << c.what << ": " << slot << "," << row << "," << level;
  }
}

TEST(AlertDay, EventsOfLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"User Action: Drill*021203 14\r\nUser Action: drill *910101 09\r\nUser Action: S\xE4ge*021203 15",
       "T Drill|20021203|14\nT drill|19910101|09\nT S\xE4ge|20021203|15\n"},
      {"User Action: Saw * 9912 5\r\nUser Action: Saw*02120x 1", "T Saw|-|-\nT Saw|-|1\n"},
      // No star, or an empty tool: no event.
      {"User Action: Hammer 021203 14\r\nUser Action:  *021203 14\r\nUser Action: User Notes: hi", "N hi\n"},
      // Before the first sample line the hour is -1 and there is no minute.
      {"User Entry:  Ache-- Wrist\r\nUser Notes: Sore after lunch\r\n" + S("0905", "0", 0, 0) +
           "User Entry:  Ache-- Neck\r\nUser Entry:  Numb--\r\nUser Entry:  Tingling Wrist\r\n" + S("1430", "0", 0, 0) +
           "User Entry:  -- Back\r\nUser Notes:  sore AFTER lunch \r\nUser Notes: \r\n",
       "E Ache|Wrist|-1|-\nN Sore after lunch\nE Ache|Neck| 9|05\nE |Back|14|30\nN sore AFTER lunch\n"},
  };
  for (const auto& [log, events] : cases) EXPECT_EQ(Events(Parse(log)), events) << log;
}

TEST(AlertDay, WordsAndNamesCarryOver) {
  // Seven spaces: word 7 becomes "0", word 8 keeps 9 from the line before, and the fields carry into the next log.
  prax::AlertCarry carry;
  Parse("001 0900 1 2 3 4 5 6 9 0 0 0 x\r\n001 0901 1 1 1 1 1 1\r\n"
        "User Action: Saw*021203 14\r\nUser Entry:  Numb--\r\nUser Notes: n\r\n", &carry);
  EXPECT_EQ(carry.AlertFields[7] + "|" + carry.AlertFields[8], "0|9");
  EXPECT_EQ(Parse("001 0900 5 0\r\n", &carry).counts.At(10, Row::kMouseWorkMins, 0), 1);
  EXPECT_EQ(carry.ToolName + "|" + carry.DiscomfortName + "|" + carry.BodyPartName + "|" + carry.NoteText,
            "Saw|Numb||n");
}

using Opt = prax::ActivityOptions;

// The events, one per line: B app|window|writeKeys|slot|backspaces|deletes, P project|task, N note|hour|minute.
std::string Events(const prax::ActivityDay& day) {
  std::string out;
  const auto T = [&day](prax::DayText t) { return std::string(day.Text(t)); };
  for (const prax::ActivityEvent& e : day.events) {
    if (const auto* b = std::get_if<prax::LineBooked>(&e))
      out += "B " + T(b->app) + "|" + T(b->window) + "|" + std::to_string(b->writeKeys) + "|" +
             std::to_string(b->hourSlot) + "|" + std::to_string(b->backspaces) + "|" + std::to_string(b->deletes);
    if (const auto* p = std::get_if<prax::ProjectDeclared>(&e)) out += "P " + T(p->project) + "|" + T(p->task);
    if (const auto* n = std::get_if<prax::NoteDeclared>(&e)) out += "N " + T(n->note) + "|" + T(n->hour) + "|" + T(n->minute);
    out += "\n";
  }
  return out;
}

// The error-key counts that are not 0: slot -> {backspaces, deletes}.
std::map<int, std::array<int32_t, 2>> ErrorKeys(const prax::ActivityDay& day) {
  std::map<int, std::array<int32_t, 2>> out;
  for (int h = 0; h < prax::kHourSlots; ++h) {
    const auto& k = day.errorKeys[static_cast<std::size_t>(h)];
    if (k[0] != 0 || k[1] != 0) out[h] = k;
  }
  return out;
}

TEST(ActivityCounts, NamesAndCounts) {
  // A line, then the names and the non-zero counts expected after its split.
  const struct { const char* what; std::string line, window, app; std::map<int, int> counts; bool appsNoPresent = false;
                 int16_t keysMax = 260; } cases[] = {
      {"window and application", "001 0915 \"Doc1 - Editor\",\"EDITOR\" 12 8,2 65,10", "Doc1 - Editor", "EDITOR",
       {{8, 2}, {65, 10}}},
      {"blanks between the names", "001 0915 \"Win\"  ,\"App\" 3 46,4", "Win", "App", {{46, 4}}},
      {"window only serves as application", "001 0915 \"Win\" 3 8,1", "Win", "Win", {{8, 1}}},
      {"blank application name", "001 0915 \"Win\",\"  \" 3 8,1", "Win", "Win", {{8, 1}}},
      {"application kept untrimmed", "001 0915 \"Win\",\" App \" 3 8,1", "Win", " App ", {{8, 1}}},
      {"no names", "001 0915 12 8,2 65,10", " ", " ", {{8, 2}, {65, 10}}},
      {"blanks after the comma, repeated key", "001 0915 x 8,  3   8,4", " ", " ", {{8, 7}}},
      {"line ends before the tail", "001 0915", " ", " ", {}},
      {"tail without pairs", "001 0915 \"W\",\"A\"", "W", "A", {}},
      // With application names switched off the quoted names are not skipped: the unused number is "\"W\",\"A\"",
      // then "9 8" reads as key 98; a blank inside a name moves everything by one word.
      {"names switched off", "001 0915 \"W\",\"A\" 9 8,2", " ", " ", {{98, 2}}, true},
      {"names switched off, blank in the window name", "001 0915 \"A B\" 9 8,2", " ", " ", {{0, 2}}, true},
      {"KeysMax ends the pairs after the first key at or above it", "001 0915 x 8,1 70,2 46,3", " ", " ",
       {{8, 1}, {70, 2}}, false, 66},
      {"KeysMax 0 reads no pair", "001 0915 x 8,1", " ", " ", {}, false, 0},
      {"a count ends at a blank and a key at its comma", "001 0915 x 8,1x 9;2 46,3", " ", " ", {{8, 1}, {9, 3}}},
      {"key 0 and key 256 are keys", "001 0915 x 0,5 256,6", " ", " ", {{0, 5}, {256, 6}}, false, 300},
      // Failures end the split; what was read before stays.
      {"pair without a comma", "001 0915 \"W\" 9 8,1 46", "W", "W", {{8, 1}}},
      {"key 257", "001 0915 x 8,1 257,2 46,3", " ", " ", {{8, 1}}, false, 300},
      {"negative key", "001 0915 x 8,1 -1,2 46,3", " ", " ", {{8, 1}}},
      {"key beyond 16 bits", "001 0915 x 8,1 40000,2 46,3", " ", " ", {{8, 1}}},
      {"count beyond 16 bits", "001 0915 x 8,1 46,40000 65,3", " ", " ", {{8, 1}}},
      {"unclosed window name", "001 0915 \"Win 9 8,1", "prev window", "prev app", {}},
      {"unclosed application name", "001 0915 \"Win\",\"App 9 8,1", "Win", "Win", {}},
      {"numbers read with blanks and fractions", "001 0915 x 4 6,2.5 65,1e1", " ", " ", {{46, 2}, {65, 10}}}};
  std::array<int32_t, prax::kKeySlots> counts{};
  for (const auto& c : cases) {
    prax::ActivityCarry carry;
    carry.LineAppName = "prev app";
    carry.LineWindowName = "prev window";
    counts[99] = 7;  // emptied by every split
    prax::ParseActivityCounts(c.line, Opt{c.appsNoPresent, c.keysMax}, carry, counts);
    std::map<int, int> got;
    for (int k = 0; k < prax::kKeySlots; ++k) if (const int n = counts[static_cast<std::size_t>(k)]) got[k] = n;
    EXPECT_EQ(carry.LineWindowName + "|" + carry.LineAppName, c.window + "|" + c.app) << c.what;
    EXPECT_EQ(got, c.counts) << c.what;
  }
}

TEST(ActivityDay, EventsAndErrorKeys) {
  std::string huge = "001 0900 1";  // 65538 x 32767 is the largest sum of a line below 2^31
  for (int i = 0; i < 65540; ++i) huge += " 8,32767";
  const struct { const char* what; std::string log, events; std::map<int, std::array<int32_t, 2>> errorKeys;
                 bool appsNoPresent = false; } cases[] = {
      {"the first line of an hour asks for no rows", "001 0915 \"Win\",\"App\" 12 8,2 46,1 65,10\r\n",
       "B App|Win|0|10|2|1\n", {{10, {2, 1}}, {0, {2, 1}}}},
      {"a line books to the previous line's names, with rows once the hour holds error keys",
       "001 0900 \"W1\",\"A1\" 1 65,1\r\n001 0901 \"W2\",\"A2\" 1 8,1\r\n001 0902 \"W3\",\"A3\" 1 8,1 46,2\r\n"
       "001 1000 \"W3\",\"A3\" 1 46,4\r\n",
       "B A1|W1|0|10|0|0\nB A1|W1|0|10|1|0\nB A2|W2|1|10|1|2\nB A3|W3|0|11|0|4\n", {{10, {2, 2}}, {11, {0, 4}}, {0, {2, 6}}}},
      {"project and notes lines",
       "User Project: Alpha (Design)\r\nUser Notes: Back at desk\r\n001 0905 1 65,1\r\n"
       "User Notes: Coffee \r\nUser Notes:X\r\nUser Notes: \r\n001 1415 1 65,1\r\nUser Notes: Back at desk\r\n",
       "P Alpha|Design\nN Back at desk|-1|\nB  | |0|10|0|0\nN Coffee| 9|05\nB  | |0|15|0|0\nN Back at desk|14|15\n", {}},
      {"only a positive number in 1-3 makes a data line",
       "000 0915 1 8,5\r\n-01 0915 1 8,5\r\nabc 0915 1 8,5\r\n    0915 1 8,5\r\n 01 1015 1 8,7\r\n",
       "B  | |0|11|7|0\n", {{11, {7, 0}}, {0, {7, 0}}}},
      {"hours outside the day count nothing and ask for rows; no number is hour 00",
       "001 3015 1 8,1\r\n001 9915 1 8,4\r\n001 xx15 1 8,4\r\n", "B  | |1|31|1|0\nB  | |1|100|4|0\nB  | |0|1|4|0\n",
       {{1, {4, 0}}, {0, {4, 0}}}},
      {"hour -1 books into slot 0, before the day's totals", "001 -100 1 8,3\r\n001 0900 1 8,2\r\n",
       "B  | |0|0|3|0\nB  | |0|10|2|0\n", {{10, {2, 0}}, {0, {5, 0}}}},
      // A lone LF joins lines: "1<LF>001" reads 1001, "0917 1 8" is a key beyond 16 bits.
      {"lines end at CR", "001 0915 1 8,1\r001 0916 1 8,1\n001 0917 1 8,1\r\n",
       "B  | |0|10|1|0\nB  | |1|10|1001|0\n", {{10, {1002, 0}}, {0, {1002, 0}}}},
      {"an add beyond 32 bits leaves the count", huge + "\r\n001 0901 1 8,2\r\n",
       "B  | |0|10|2147483646|0\nB  | |1|10|2|0\n", {{10, {2147483646, 0}}, {0, {2147483646, 0}}}},
      {"application names switched off: \"1 8\" reads as key 18",
       "001 0900 \"W1\",\"A1\" 1 8,1\r\nUser Notes: n\r\n", "B  | |0|10|0|0\nN n| 9|00\n", {}, true},
  };
  for (const auto& c : cases) {
    prax::ActivityCarry carry;
    const prax::ActivityDay day = prax::ParseActivityDay(c.log, Opt{c.appsNoPresent, 260}, carry);
    EXPECT_EQ(Events(day), c.events) << c.what;
    EXPECT_EQ(ErrorKeys(day), c.errorKeys) << c.what;
  }
}

TEST(ActivityDay, ProjectLines) {
  // Each follows "User Project: Alpha (Design)".
  const std::pair<const char*, const char*> cases[] = {
      {"User Project: Beta(Build)", "P Beta|Build\n"},
      {"User Project: Beta", "P Alpha|Design\n"},  // no "(" nor ")": both carried
      {"User Project:  ( Review )", "P |Review\n"},
      {"User Project: Gamma (", "P Gamma|Design\n"},  // no ")": the task is carried
      {"User Project: (x) User Notes: n", "P |x\n"},  // the notes test sees "x) User Notes: n"
      {"User Project: User Notes: n", "P Alpha|Design\nN n|-1|\n"}, {"user project: Beta (Build)", ""},
      {"User Project:", ""}};  // not longer than the mark
  for (const auto& [line, events] : cases) {
    prax::ActivityCarry carry;
    const std::string all = Events(prax::ParseActivityDay("User Project: Alpha (Design)\r\n" + std::string(line), {}, carry));
    EXPECT_EQ(all.substr(std::string("P Alpha|Design\n").size()), events) << line;
  }
}

TEST(ActivityDay, EachFileStartsAfreshWhileNamesAndTextsCarryOver) {
  prax::ActivityCarry carry;
  (void)prax::ParseActivityDay("001 1000 \"W1\",\"A1\" 1 8,1\r\nUser Project: Alpha (Design)\r\n", {}, carry);
  const prax::ActivityDay day =
      prax::ParseActivityDay("User Notes: n\r\n001 0900 \"W3\",\"A3\" 1 8,1\r\n001 0901 1 8,1\r\n", {}, carry);
  EXPECT_EQ(Events(day), "N n|-1|\nB A3|W3|0|10|1|0\nB A3|W3|1|10|1|0\n");
  EXPECT_EQ(ErrorKeys(day), (std::map<int, std::array<int32_t, 2>>{{10, {2, 0}}, {0, {2, 0}}}));
  EXPECT_EQ(carry.ProjName + "|" + carry.TaskName + "|" + carry.NoteText + "|" + carry.LineAppName, "Alpha|Design|n| ");
}

// Random and malformed logs, fixed seed: nothing escapes and the day totals add up.
TEST(ActivityDay, RandomLogs) {
  std::mt19937 rng(7);
  const char* templates[] = {"001 0915 \"W\",\"A\" 12 8,2 46,1 65,3", "001 2359 \"W", "001 1200 \"A\",\"B 3 8,1",
                             "User Project: P (T)", "User Notes: n", "User Project: (", "  1 2330 1 8,,,1 46,1"};
  const std::string noise = "0123456789 ,\"'()-.eE:\t\n\r\x80\xff";
  prax::ActivityCarry carry;
  for (int file = 0; file < 60; ++file) {
    std::string log;
    for (int i = 1 + static_cast<int>(rng() % 40); i > 0; --i) {
      std::string line = templates[rng() % std::size(templates)];
      for (int e = static_cast<int>(rng() % 4); e > 0 && !line.empty(); --e) {
        const std::size_t at = rng() % line.size();
        if (rng() % 2) line.erase(at, 1 + rng() % 3);
        else line.insert(at, 1, noise[rng() % noise.size()]);
      }
      log += line + (rng() % 5 == 0 ? "\r" : "\r\n");
    }
    prax::ActivityDay day;
    ASSERT_NO_THROW(day = prax::ParseActivityDay(log, Opt{file % 2 == 1, 260}, carry)) << log;
    if (log.find('-') != std::string::npos) continue;  // a "-1" hour books straight into slot 0
    for (int k = 0; k < 2; ++k) {
      int64_t sum = 0;
      for (int h = 1; h < prax::kHourSlots; ++h) sum += day.errorKeys[static_cast<std::size_t>(h)][k];
      ASSERT_EQ(day.errorKeys[0][k], sum) << "key " << k << " of\n" << log;
    }
  }
}

}  // namespace

// A day that says it read nothing of its carry parses alike from a blank and from a full carry, and leaves the full one
// as the blank one's fields it set make it.
TEST(CarryUse, DaysThatReadNothingOfTheirCarry) {
  const struct { std::string alert, activity; bool alertRead, activityRead; } cases[] = {
      {S("0900", "5", 1, 2), "User Project: P (T)\r\n001 0910 \"W\",\"A\" 1 8,1\r\n001 0911 \"V 1 8,1\r\n", false, false},
      {"001 0900 5 1\r\n", "001 0910 \"W 1 8,1\r\nUser Notes: n\r\n", true, true},
      {"User Action: Saw*021203 14\r\nUser Entry:  Ache-- Wrist\r\nUser Notes: n\r\n", "User Project: P\r\n", false, true},
      {"User Entry:  Numb\r\n", "User Project: (T)\r\n001 0910 x 1 8,1\r\nUser Notes: m\r\n", false, false}};
  const auto alertText = [](const prax::AlertCarry& c) {
    std::string s = c.ToolName + "|" + c.DiscomfortName + "|" + c.BodyPartName + "|" + c.NoteText;
    for (const std::string& f : c.AlertFields) s += "|" + f;
    return s;
  };
  const auto activityText = [](const prax::ActivityCarry& c) {
    return c.LineAppName + "|" + c.LineWindowName + "|" + c.ProjName + "|" + c.TaskName + "|" + c.NoteText;
  };
  for (const auto& c : cases) {
    prax::AlertCarry blank, full{{"7", "7", "7", "7", "7", "7", "7", "7", "7", "7", "7", "7"}, "a", "b", "c", "d"};
    prax::AlertCarry expected = full;
    prax::CarryUse use, fullUse;
    const prax::AlertDay fromBlank = prax::ParseAlertDay(c.alert, blank, &use), fromFull = Parse(c.alert, &full);
    EXPECT_EQ(use.read, c.alertRead) << c.alert;
    expected.Apply(blank, use.set);
    for (int row = 0; row < prax::AlertCounts::kRows * prax::AlertCounts::kLevels && !use.read; ++row)
      EXPECT_EQ(fromBlank.counts.At(0, row / 7, row % 7), fromFull.counts.At(0, row / 7, row % 7)) << c.alert;
    EXPECT_TRUE(use.read || Events(fromBlank) + alertText(expected) == Events(fromFull) + alertText(full)) << c.alert;

    prax::ActivityCarry blankActivity, fullActivity{"app", "window", "project", "task", "note"};
    prax::ActivityCarry expectedActivity = fullActivity;
    const prax::ActivityDay a = prax::ParseActivityDay(c.activity, {}, blankActivity, &use);
    const prax::ActivityDay b = prax::ParseActivityDay(c.activity, {}, fullActivity, &fullUse);
    EXPECT_EQ(use.read, c.activityRead) << c.activity;
    expectedActivity.Apply(blankActivity, use.set);
    EXPECT_TRUE(use.read || Events(a) + activityText(expectedActivity) == Events(b) + activityText(fullActivity))
        << c.activity;
  }
}

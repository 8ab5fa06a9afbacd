// Alert log bytes into the day's counts and events.
#include <gtest/gtest.h>

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
  const struct {
    const char* what;
    std::string log;
    std::vector<std::array<int, 4>> want;  // {slot, row, level, count}
  } cases[] = {
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
  EXPECT_EQ(carry.AlertFields[7], "0");
  EXPECT_EQ(carry.AlertFields[8], "9");
  EXPECT_EQ(Parse("001 0900 5 0\r\n", &carry).counts.At(10, Row::kMouseWorkMins, 0), 1);
  EXPECT_EQ(carry.ToolName + "|" + carry.DiscomfortName + "|" + carry.BodyPartName + "|" + carry.NoteText,
            "Saw|Numb||n");
}

}  // namespace

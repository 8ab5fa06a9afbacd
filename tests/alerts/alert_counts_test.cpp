// Counting rules of the alert parser, without a database.
#include <gtest/gtest.h>

#include <string>

#include "alert_fixture.h"
#include "platform/error.h"

namespace {

using praxtest::CountsOf;
using Row = prax::AlertCounts::Row;

// A sample line at hhmm: keystrokes, keyboard level and work counter, mouse
// level and work counter; twelve spaces and a last word.
std::string S(const char* hhmm, const std::string& keys, int keyLevel, int keyWork, int mouseLevel = 0,
              int mouseWork = 0) {
  return std::string("001 ") + hhmm + " " + keys + " " + std::to_string(keyLevel) + " " + std::to_string(keyWork) +
         " 0 0 " + std::to_string(mouseLevel) + " " + std::to_string(mouseWork) + " 0 0 0 end\r\n";
}

TEST(AlertCounts, BoundsSplitAndFold) {
  prax::AlertCounts c;
  EXPECT_THROW((void)c.At(25, 0, 0), prax::Error);
  EXPECT_FALSE(c.Add(0, 0, 7, 1));
  EXPECT_FALSE(c.Add(-1, 0, 0, 1));
  c.At(1, Row::kKeystrokes, 0) = 2147483647;
  EXPECT_FALSE(c.Add(1, Row::kKeystrokes, 0, 1));
  EXPECT_TRUE(c.Add(1, Row::kKeystrokes, 0, -0.5));  // halves to even
  EXPECT_EQ(c.At(1, Row::kKeystrokes, 0), 2147483646);

  std::array<std::string, 12> f;
  f.fill("old");
  std::string_view buf = "a b  c";
  prax::SplitAlertFields(f, buf);
  EXPECT_EQ((std::vector<std::string>(f.begin(), f.begin() + 5)), (std::vector<std::string>{"a", "b", "", "0", "old"}));
  EXPECT_EQ(buf, "c");
  buf = "0 1 2 3 4 5 6 7 8 9 10 11 rest of it";
  prax::SplitAlertFields(f, buf);
  EXPECT_EQ(buf, "rest of it");

  // Level 0 is clamped against the total given before the single levels.
  prax::AlertCounts d;
  d.At(3, Row::kKeyGiven, 1) = 2;
  d.At(3, Row::kKeyGiven, 2) = 1;
  d.At(3, Row::kKeySkipped, 2) = 3;
  d.At(3, Row::kMouseSkipped, 0) = 9;  // rebuilt from the levels
  d.At(7, Row::kRestarts, 0) = 3;
  prax::FoldAlertCounts(d);
  EXPECT_EQ(d.At(3, Row::kKeySkipped, 0), 3);
  EXPECT_EQ(d.At(3, Row::kKeyTaken, 0), 0);
  EXPECT_EQ(d.At(3, Row::kKeySkipped, 2), 1);
  EXPECT_EQ(d.At(3, Row::kKeyTaken, 1), 2);
  EXPECT_EQ(d.At(3, Row::kMouseSkipped, 0), 0);
  EXPECT_EQ(d.At(0, Row::kRestarts, 0), 3);
}

TEST(AlertParser, SamplesIntoHourSlots) {
  auto c = CountsOf(S("0905", "10", 0, 0) + S("0959", "2.5", 0, 0) + S("2359", "4", 0, 0));
  EXPECT_EQ(c.At(10, Row::kKeystrokes, 0), 12);  // 10 + 2.5 rounds to 12
  EXPECT_EQ(c.At(24, Row::kKeystrokes, 0), 4);
  EXPECT_EQ(c.At(0, Row::kKeystrokes, 0), 16);
  // Levels 0, 1, 2, 0, 1 and work counters 5, 5, 6, 8.
  c = CountsOf(S("1000", "0", 0, 5, 3, 1) + S("1001", "0", 1, 5, 4, 1) + S("1002", "0", 2, 6) + S("1003", "0", 0, 8) +
               "001 1004 99 0 9 0 0 0 0 0 0 0 RECOV\r\n" + S("1004", "0", 1, 8));
  const std::pair<std::pair<int, int>, int> expected[] = {
      {{Row::kKeyGiven, 1}, 2},  {{Row::kKeyGiven, 2}, 1},      {{Row::kKeySkipped, 1}, 1}, {{Row::kKeyTaken, 1}, 1},
      {{Row::kKeyTaken, 2}, 1},  {{Row::kKeyGiven, 0}, 3},      {{Row::kKeySkipped, 0}, 1}, {{Row::kKeyTaken, 0}, 2},
      {{Row::kKeyWorkMins, 0}, 3}, {{Row::kMouseGiven, 3}, 1},  {{Row::kMouseGiven, 4}, 1},
      {{Row::kMouseSkipped, 3}, 1}, {{Row::kMouseSkipped, 0}, 1}, {{Row::kMouseWorkMins, 0}, 1},
      {{Row::kKeystrokes, 0}, 0}};
  for (const auto& [at, n] : expected) EXPECT_EQ(c.At(11, at.first, at.second), n) << at.first << "," << at.second;
}

TEST(AlertParser, EventLines) {
  const auto c = CountsOf("Stretch Alert\r\nStretch Alert \r\nstretch alert\r\nCYCLED\r\nSTARTED\r\n" +
                          S("1400", "0", 5, 0) + "Stretch Alert\r\nKeyboard Warning at level 5\r\n"
                          "Keyboard Warning at level 4\r\nMouse Warning at level 5 ...\r\n" + S("1401", "0", 4, 0, 5) +
                          "Keyboard Warning at level 5\r\nMouse Warning at level 5 ...\r\n");
  EXPECT_EQ(c.At(0, Row::kStretch, 0), 2);  // one before the first sample, one at 14:00
  EXPECT_EQ(c.At(15, Row::kStretch, 0), 1);
  EXPECT_EQ(c.At(0, Row::kCycled, 0), 1);
  EXPECT_EQ(c.At(0, Row::kRestarts, 0), 1);
  EXPECT_EQ(c.At(15, Row::kKeyGiven, 5), 2);  // the rise to 5 and one warning
  EXPECT_EQ(c.At(15, Row::kKeySkipped, 5), 1);
  EXPECT_EQ(c.At(15, Row::kMouseGiven, 5), 2);
  EXPECT_EQ(c.At(15, Row::kMouseSkipped, 5), 1);
}

TEST(AlertParser, WhereReadingEnds) {
  // The empty line, a sample line consumed to its end, a "User Action:" with nothing after "*".
  for (const char* stopper : {"\r\n", "001 0905 0 0 0 0 0 0 0 \r\n", "User Action: Drill*\r\n"}) {
    const auto c = CountsOf(S("0900", "1", 0, 0) + stopper + S("1000", "7", 0, 0));
    EXPECT_EQ(c.At(10, Row::kKeystrokes, 0), 1) << stopper;
    EXPECT_EQ(c.At(11, Row::kKeystrokes, 0), 0) << stopper;
  }
  // Blank lines and a lone line feed do not end it; the last line may lack its end.
  const auto c = CountsOf("   \r\n\n\r001 1000 3 0 0 0 0 0 0 0 0 0 x\n001 1100 4 0 0 0 0 0 0 0 0 0 x\r002 1200 5 0");
  EXPECT_EQ(c.At(11, Row::kKeystrokes, 0), 3);  // the line after the lone line feed belongs to it
  EXPECT_EQ(c.At(13, Row::kKeystrokes, 0), 5);
}

TEST(AlertParser, WordsOfEarlierLinesAndOutOfRangeValues) {
  prax::AlertParserState state;
  // Seven spaces: word 7 becomes "0", word 8 keeps 9 from the line before,
  // and the fields carry into the next log.
  CountsOf("001 0900 1 2 3 4 5 6 9 0 0 0 x\r\n001 0901 1 1 1 1 1 1\r\n", &state);
  EXPECT_EQ(state.AlertFields[7], "0");
  EXPECT_EQ(state.AlertFields[8], "9");
  auto c = CountsOf("001 0900 5 0\r\n", &state);
  EXPECT_EQ(c.At(10, Row::kMouseWorkMins, 0), 1);

  // Hours 24 and -5 and levels 7 and -1 count nothing where they fail, yet
  // previous values and flags move on; level 6 is counted but never summed.
  c = CountsOf(S("2400", "5", 6, 1) + S("0900", "1", 7, 1) + S("0901", "1", 6, 1) + S("0902", "1", 7, 1) +
               S("0903", "1", -1, 1) + S("0904", "1", 6, 1) + S("0905", "1", 7, 1) + S("-500", "9", 0, 9));
  EXPECT_EQ(c.At(10, Row::kKeySkipped, 6), 2);  // 6 -> 7 twice without a fall
  EXPECT_EQ(c.At(10, Row::kKeyGiven, 6), 1);    // the rise from -1
  EXPECT_EQ(c.At(10, Row::kKeyGiven, 0), 0);
  EXPECT_EQ(c.At(10, Row::kKeyWorkMins, 0), 0);  // 1 came from the hour-24 line
  EXPECT_EQ(c.At(0, Row::kKeystrokes, 0), 6);
  EXPECT_EQ(c.At(0, Row::kKeySkipped, 6), 2);
}

}  // namespace

// The split of a data line's tail into names and key counts.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "activity/parse_activity_log.h"

namespace {

using prax::ActivityParserState;
using prax::ParseActivityCounts;

std::map<int, int> NonZero(const ActivityParserState& s) {
  std::map<int, int> out;
  for (int k = 0; k < prax::kKeySlots; ++k) {
    if (s.LineKeyCounts[static_cast<std::size_t>(k)] != 0) out[k] = s.LineKeyCounts[static_cast<std::size_t>(k)];
  }
  return out;
}

struct SplitCase {
  const char* what;
  std::string line;
  bool appsNoPresent;
  int16_t keysMax;
  std::string window, app;       // names expected afterwards
  std::map<int, int> counts;     // non-zero counts expected
};

// Names left by the "previous line" before each case.
constexpr const char* kPrevWindow = "prev window";
constexpr const char* kPrevApp = "prev app";

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.what; }

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, NamesAndCounts) {
  const SplitCase& c = GetParam();
  auto s = std::make_unique<ActivityParserState>();
  s->LineWindowName = kPrevWindow;
  s->LineAppName = kPrevApp;
  s->LineKeyCounts[99] = 7;  // emptied by every split
  ParseActivityCounts(*s, c.line, c.appsNoPresent, c.keysMax);
  EXPECT_EQ(s->LineWindowName, c.window);
  EXPECT_EQ(s->LineAppName, c.app);
  EXPECT_EQ(NonZero(*s), c.counts);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitTest,
    ::testing::Values(
        SplitCase{"window and application", "001 0915 \"Doc1 - Editor\",\"EDITOR\" 12 8,2 65,10", false, 260,
                  "Doc1 - Editor", "EDITOR", {{8, 2}, {65, 10}}},
        SplitCase{"blanks between the names", "001 0915 \"Win\"  ,\"App\" 3 46,4", false, 260, "Win", "App", {{46, 4}}},
        SplitCase{"window only serves as application", "001 0915 \"Win\" 3 8,1", false, 260, "Win", "Win", {{8, 1}}},
        SplitCase{"blank application name", "001 0915 \"Win\",\"  \" 3 8,1", false, 260, "Win", "Win", {{8, 1}}},
        SplitCase{"application kept untrimmed", "001 0915 \"Win\",\" App \" 3 8,1", false, 260, "Win", " App ",
                  {{8, 1}}},
        SplitCase{"no names", "001 0915 12 8,2 65,10", false, 260, " ", " ", {{8, 2}, {65, 10}}},
        SplitCase{"blanks after the comma, repeated key", "001 0915 x 8,  3   8,4", false, 260, " ", " ", {{8, 7}}},
        SplitCase{"line ends before the tail", "001 0915", false, 260, " ", " ", {}},
        SplitCase{"tail without pairs", "001 0915 \"W\",\"A\"", false, 260, "W", "A", {}},
        // With application names switched off the quoted names are not skipped:
        // the unused number is "\"W\",\"A\"", then "9 8" reads as key 98; a
        // blank inside a name moves everything by one word.
        SplitCase{"names switched off", "001 0915 \"W\",\"A\" 9 8,2", true, 260, " ", " ", {{98, 2}}},
        SplitCase{"names switched off, blank in the window name", "001 0915 \"A B\" 9 8,2", true, 260, " ", " ",
                  {{0, 2}}},
        SplitCase{"KeysMax ends the pairs after the first key at or above it", "001 0915 x 8,1 70,2 46,3", false, 66,
                  " ", " ", {{8, 1}, {70, 2}}},
        SplitCase{"KeysMax 0 reads no pair", "001 0915 x 8,1", false, 0, " ", " ", {}},
        SplitCase{"key 0 and key 256 are keys", "001 0915 x 0,5 256,6", false, 300, " ", " ", {{0, 5}, {256, 6}}},
        // Failures end the split; what was read before stays.
        SplitCase{"pair without a comma", "001 0915 \"W\" 9 8,1 46", false, 260, "W", "W", {{8, 1}}},
        SplitCase{"key 257", "001 0915 x 8,1 257,2 46,3", false, 300, " ", " ", {{8, 1}}},
        SplitCase{"negative key", "001 0915 x 8,1 -1,2 46,3", false, 260, " ", " ", {{8, 1}}},
        SplitCase{"key beyond 16 bits", "001 0915 x 8,1 40000,2 46,3", false, 260, " ", " ", {{8, 1}}},
        SplitCase{"count beyond 16 bits", "001 0915 x 8,1 46,40000 65,3", false, 260, " ", " ", {{8, 1}}},
        SplitCase{"unclosed window name", "001 0915 \"Win 9 8,1", false, 260, kPrevWindow, kPrevApp, {}},
        SplitCase{"unclosed application name", "001 0915 \"Win\",\"App 9 8,1", false, 260, "Win", "Win", {}},
        SplitCase{"numbers read with blanks and fractions", "001 0915 x 4 6,2.5 65,1e1", false, 260, " ", " ",
                  {{46, 2}, {65, 10}}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return "Case" + std::to_string(info.index); });

}  // namespace

// The split of a data line's tail into names and key counts.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "logs/activity_day.h"

namespace {

struct SplitCase {
  const char* what;
  std::string line;
  bool appsNoPresent;
  int16_t keysMax;
  std::string window, app;    // names expected afterwards
  std::map<int, int> counts;  // non-zero counts expected
};

// Names left by the "previous line" before each case.
constexpr const char* kPrevWindow = "prev window";
constexpr const char* kPrevApp = "prev app";

TEST(ActivityCounts, NamesAndCounts) {
  const SplitCase cases[] = {
      {"window and application", "001 0915 \"Doc1 - Editor\",\"EDITOR\" 12 8,2 65,10", false, 260, "Doc1 - Editor",
       "EDITOR", {{8, 2}, {65, 10}}},
      {"blanks between the names", "001 0915 \"Win\"  ,\"App\" 3 46,4", false, 260, "Win", "App", {{46, 4}}},
      {"window only serves as application", "001 0915 \"Win\" 3 8,1", false, 260, "Win", "Win", {{8, 1}}},
      {"blank application name", "001 0915 \"Win\",\"  \" 3 8,1", false, 260, "Win", "Win", {{8, 1}}},
      {"application kept untrimmed", "001 0915 \"Win\",\" App \" 3 8,1", false, 260, "Win", " App ", {{8, 1}}},
      {"no names", "001 0915 12 8,2 65,10", false, 260, " ", " ", {{8, 2}, {65, 10}}},
      {"blanks after the comma, repeated key", "001 0915 x 8,  3   8,4", false, 260, " ", " ", {{8, 7}}},
      {"line ends before the tail", "001 0915", false, 260, " ", " ", {}},
      {"tail without pairs", "001 0915 \"W\",\"A\"", false, 260, "W", "A", {}},
      // With application names switched off the quoted names are not skipped:
      // the unused number is "\"W\",\"A\"", then "9 8" reads as key 98; a
      // blank inside a name moves everything by one word.
      {"names switched off", "001 0915 \"W\",\"A\" 9 8,2", true, 260, " ", " ", {{98, 2}}},
      {"names switched off, blank in the window name", "001 0915 \"A B\" 9 8,2", true, 260, " ", " ", {{0, 2}}},
      {"KeysMax ends the pairs after the first key at or above it", "001 0915 x 8,1 70,2 46,3", false, 66, " ", " ",
       {{8, 1}, {70, 2}}},
      {"KeysMax 0 reads no pair", "001 0915 x 8,1", false, 0, " ", " ", {}},
      {"key 0 and key 256 are keys", "001 0915 x 0,5 256,6", false, 300, " ", " ", {{0, 5}, {256, 6}}},
      // Failures end the split; what was read before stays.
      {"pair without a comma", "001 0915 \"W\" 9 8,1 46", false, 260, "W", "W", {{8, 1}}},
      {"key 257", "001 0915 x 8,1 257,2 46,3", false, 300, " ", " ", {{8, 1}}},
      {"negative key", "001 0915 x 8,1 -1,2 46,3", false, 260, " ", " ", {{8, 1}}},
      {"key beyond 16 bits", "001 0915 x 8,1 40000,2 46,3", false, 260, " ", " ", {{8, 1}}},
      {"count beyond 16 bits", "001 0915 x 8,1 46,40000 65,3", false, 260, " ", " ", {{8, 1}}},
      {"unclosed window name", "001 0915 \"Win 9 8,1", false, 260, kPrevWindow, kPrevApp, {}},
      {"unclosed application name", "001 0915 \"Win\",\"App 9 8,1", false, 260, "Win", "Win", {}},
      {"numbers read with blanks and fractions", "001 0915 x 4 6,2.5 65,1e1", false, 260, " ", " ",
       {{46, 2}, {65, 10}}}};
  auto s = std::make_unique<prax::ActivityParserState>();
  for (const SplitCase& c : cases) {
    s->LineWindowName = kPrevWindow;
    s->LineAppName = kPrevApp;
    s->LineKeyCounts[99] = 7;  // emptied by every split
    prax::ParseActivityCounts(*s, c.line, c.appsNoPresent, c.keysMax);
    std::map<int, int> counts;
    for (int k = 0; k < prax::kKeySlots; ++k) {
      if (const int n = s->LineKeyCounts[static_cast<std::size_t>(k)]) counts[k] = n;
    }
    EXPECT_EQ(s->LineWindowName + "|" + s->LineAppName, c.window + "|" + c.app) << c.what;
    EXPECT_EQ(counts, c.counts) << c.what;
  }
}

}  // namespace

// Random and malformed alert logs: nothing escapes the parser and it ends.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "alert_fixture.h"
#include "job/file_list.h"
#include "platform/vbnum.h"

namespace {

struct Junk {
  std::mt19937 rng;
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  std::string Bytes(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(Pick(0, 255));
    return s;
  }
  std::string Number() {
    const char* odd[] = {"24", "-5", "6", "-1", "99999999999", "1e308", "-1e308", "32768", "2.5", "", "x", "1e"};
    return Pick(0, 2) ? std::to_string(Pick(-3, 70)) : odd[Pick(0, 11)];
  }
  std::string Line() {
    switch (Pick(0, 10)) {
      case 0: return Bytes(Pick(0, 40));
      case 1: return std::string(10000, static_cast<char>(Pick(32, 126)));
      case 2: return Pick(0, 3) ? "   " : "";
      case 3: return "User Action: " + Bytes(Pick(0, 6)) + (Pick(0, 1) ? "*" : "") + Number() + " " + Number();
      case 4: return "User Entry:  " + Bytes(Pick(0, 5)) + (Pick(0, 1) ? "--" : "") + " " + Bytes(Pick(0, 5));
      case 5: return "User Notes: " + Bytes(Pick(0, 8));
      case 6: return (Pick(0, 1) ? "Mouse Warning level " : "Keyboard Warning at level ") + Number() + "     x";
      default: {
        std::string s = "00" + std::to_string(Pick(1, 9)) + " " + Number() + Number() + " ";
        for (int w = Pick(0, 14); w > 0; --w) s += Number() + (Pick(0, 8) ? " " : "\n");
        return s + (Pick(0, 9) ? "" : "RECOV");
      }
    }
  }
  std::string Log() {
    std::string out;
    const char* ends[] = {"\r\n", "\r\n", "\r", "\n", ""};
    for (int i = Pick(0, 60); i > 0; --i) out += Line() + ends[Pick(0, 4)];
    return out;
  }
};

TEST(AlertFuzz, WithoutDatabase) {
  Junk junk{std::mt19937(20021203)};
  prax::AlertParserState state;
  for (int i = 0; i < 300; ++i) EXPECT_NO_THROW(praxtest::CountsOf(junk.Log(), &state));
}

using AlertFuzzDb = praxtest::AlertDbTest;

TEST_F(AlertFuzzDb, WithDatabaseAndLoader) {
  Junk junk{std::mt19937(42)};
  for (int i = 0; i < 40; ++i) EXPECT_NO_THROW(Parse(junk.Log()));
  // Over junk logs only the writer may refuse (a count too large for its column), naming the log.
  prax::FileList files(1);
  for (int d = 1; d <= 20; ++d) {
    files.push_back("03-01-" + prax::vb::Format(d, "00") + "20*");
    dir.Write("PX000005.DIR/" + prax::EntryFileName(files.back(), "PXL"), junk.Log());
  }
  try {
    prax::LoadAlertLogs(ctx, state, UserDir(), files, *alertRs);
  } catch (const prax::Error& e) {
    EXPECT_NE(std::string(e.what()).find(".PXL: "), std::string::npos) << e.what();
  }
  EXPECT_EQ(Query("SELECT count(*) > 0 FROM EMSToolsList;"), "1\n");
}

}  // namespace

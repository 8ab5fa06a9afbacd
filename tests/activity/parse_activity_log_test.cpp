// Reading whole activity logs, writing their error-key rows, and the loader.
#include <array>
#include <random>

#include "load/load_activity_logs.h"
#include "load/write_error_keys.h"
#include "load/loader_fixture.h"

namespace {

using praxtest::LoaderTest;

struct LogCase {
  const char* what;
  std::string log;
  bool appsNoPresent;
  std::string activity, notes;            // rows expected afterwards
  std::vector<std::array<int, 3>> hours;  // slot, key, count; every other count is 0
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.what; }

class ParseLogTest : public LoaderTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(ParseLogTest, RowsAndCounts) {
  const LogCase& c = GetParam();
  SCOPED_TRACE(c.what);
  ctx.AppsNoPresent = c.appsNoPresent;
  ParseActivity(c.log);
  EXPECT_EQ(Rows("ActivitySystem"), c.activity);
  EXPECT_EQ(NoteRows("ProjectNotes"), c.notes);
  int64_t listed = 0, all = 0;
  for (const auto& [slot, key, count] : c.hours) {
    EXPECT_EQ(Hour(slot, key), count) << slot << "," << key;
    listed += count;
  }
  for (const auto& hour : act->HourKeyCounts) {
    for (int32_t v : hour) all += v;
  }
  EXPECT_EQ(all, listed);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, ParseLogTest,
    ::testing::Values(
        LogCase{"first line of an hour writes no row", "001 0915 \"Win\",\"App\" 12 8,2 65,10\r\n", false, "", "",
                {{10, 8, 2}, {0, 8, 2}, {10, 65, 10}, {0, 65, 10}}},
        LogCase{"a line's counts go to the previous line's names, once the hour holds error keys",
                "001 0900 \"W1\",\"A1\" 1 8,1\r\n001 0901 \"W2\",\"A2\" 1 8,1 46,2\r\n001 0902 \"W3\",\"A3\" 1 46,4\r\n",
                false, "5|20020615|10|1|1|-1|-1|8|1\n5|20020615|10|1|1|-1|-1|46|2\n5|20020615|10|2|2|-1|-1|46|4\n",
                "", {{10, 8, 2}, {0, 8, 2}, {10, 46, 6}, {0, 46, 6}}},
        LogCase{"project and notes lines",
                "User Project: Alpha (Design)\r\nUser Notes: Back at desk\r\n001 0905 1 65,1\r\n"
                "User Notes: Coffee \r\nUser Notes:X\r\nUser Notes: \r\n001 1415 1 65,1\r\nUser Notes: Back at desk\r\n",
                false, "",
                "5|20020615|'-1'|NULL|1|1|1\n5|20020615|' 9'|'05'|1|1|2\n5|20020615|'14'|'15'|1|1|1\n",
                {{10, 65, 1}, {15, 65, 1}, {0, 65, 2}}},
        LogCase{"only a positive number in 1-3 makes a data line",
                "000 0915 1 8,5\r\n-01 0915 1 8,5\r\nabc 0915 1 8,5\r\n    0915 1 8,5\r\n 01 1015 1 8,7\r\n", false,
                "", "", {{11, 8, 7}, {0, 8, 7}}},
        // Hour "30" is slot 31: no counts, its row written untested; slot 100's
        // Data_Hour "100" is refused. Blank names find no id: App_Id keeps 0.
        LogCase{"hour outside the day", "001 3015 1 8,1\r\n001 9915 1 8,4\r\n", false,
                "5|20020615|31|0|-1|-1|-1|8|1\n", "", {}},
        // A lone LF joins lines: "1<LF>001" reads 1001, "0917 1 8" is a key beyond 16 bits.
        LogCase{"lines end at CR", "001 0915 1 8,1\r001 0916 1 8,1\n001 0917 1 8,1\r\n", false,
                "5|20020615|10|0|-1|-1|-1|8|1001\n", "", {{10, 8, 1002}, {0, 8, 1002}}},
        LogCase{"a quote in a name keeps the previous ids",
                "001 0900 \"W1\",\"A1\" 1 8,1\r\n001 0901 \"O'Hara\",\"O'Hara\" 1 8,1\r\n001 0902 \"W1\",\"A1\" 1 8,1\r\n",
                false, "5|20020615|10|1|1|-1|-1|8|1\n5|20020615|10|1|1|-1|-1|8|1\n", "", {{10, 8, 3}, {0, 8, 3}}},
        // Names not skipped: "1 8" reads as key 18.
        LogCase{"application names switched off", "001 0900 \"W1\",\"A1\" 1 8,1\r\n001 0901 \"W1\",\"A1\" 1 8,1\r\n",
                true, "", "", {{10, 18, 2}, {0, 18, 2}}}));

// Windows-1252 names that differ only in the case of accented letters share
// one list row, also in a later run, and are stored as UTF-8.
TEST_F(LoaderTest, AccentedNamesShareOneRowWhateverTheirCase) {
  ParseActivity("User Project: \xDC" "bersicht (Entwurf)\r\n001 0900 \"\xDC" "bersicht\",\"\xC9" "diteur\" 1 8,1\r\n");
  for (prax::LookupList* list : {&ctx.Apps, &ctx.Windows, &ctx.Projects}) {
    list->Close();
    list->Open(*ctx.Db, &status);
  }
  ParseActivity("User Project: \xFC" "BERSICHT (Entwurf)\r\n001 0900 \"\xDC" "BERSICHT\",\"\xE9" "DITEUR\" 1 8,1\r\n"
                "001 0901 \"\xFC" "bersicht\",\"\xC9" "diteur\" 1 8,1\r\n");
  EXPECT_EQ(Rows("WindowsList") + Rows("ApplicationsList") + Rows("ProjectsList"),
            "1|\xC3\x9C" "bersicht\n1|\xC3\x89" "diteur\n1|\xC3\x9C" "bersicht\n");
}

TEST_F(LoaderTest, ProjectLineVariants) {
  struct Case {
    const char* line;
    std::string projTask;
    int ids;  // project id * 100 + task id
  };
  // Each follows "User Project: Alpha (Design)" (ids 1, 1); the lists grow from case to case.
  const Case cases[] = {{"User Project: Beta(Build)", "Beta/Build", 202},
                        {"User Project: Beta", "Alpha/Design", 101},  // no "(" nor ")": both kept and looked up again
                        {"User Project:  ( Review )", "/Review", 103},  // an empty project keeps its id
                        {"User Project: Gamma (", "Gamma/Design", 301},  // no ")": the task is kept
                        {"User Project:", "Alpha/Design", 101},          // not longer than 13
                        {"user project: Beta (Build)", "Alpha/Design", 101}};  // letter case counts
  for (const Case& c : cases) {
    ParseActivity("User Project: Alpha (Design)\r\n" + std::string(c.line) + "\r\n");
    EXPECT_EQ(act->ProjName + "/" + act->TaskName, c.projTask) << c.line;
    EXPECT_EQ(ctx.CurProjId * 100 + ctx.CurTaskId, c.ids) << c.line;
  }
}

TEST_F(LoaderTest, EachActivityFileStartsAfreshWhileNamesAndTextsCarryOver) {
  ParseActivity("001 0900 \"W1\",\"A1\" 1 8,1\r\nUser Project: Alpha (Design)\r\n001 0901 \"W2\",\"A2\" 1 8,1\r\n");
  ParseActivity("001 0900 \"W3\",\"A3\" 1 8,1\r\n001 0901 \"W3\",\"A3\" 1 8,1\r\nUser Notes: n\r\n");
  // The second file's first line books to its own names; project and task are -1 again.
  EXPECT_EQ(Rows("ActivitySystem"), "5|20020615|10|1|1|1|1|8|1\n5|20020615|10|2|2|-1|-1|8|1\n");
  EXPECT_EQ(NoteRows("ProjectNotes"), "5|20020615|' 9'|'01'|-1|-1|1\n");
  EXPECT_EQ(act->ProjName, "Alpha");

  // A missing log is reported and parses as empty.
  prax::ParseActivityLog(ctx, *act, UserDir() + "\\20020616.PXT", files, 1, *activityRs);
  ASSERT_EQ(status.log.size(), 1u);
  EXPECT_NE(status.log[0].find("20020616.PXT"), std::string::npos);
  EXPECT_EQ(ctx.CurWindowId, -1);
}

TEST_F(LoaderTest, ErrorKeyRowsOfDaysAndLines) {
  ParseActivity("001 0915 1 8,3\r\n001 1440 1 8,2 65,9\r\n");
  act->HourKeyCounts[24][46] = -3;  // negative counts are written too
  act->HourKeyCounts[24][8] = 1;
  prax::WriteDayErrorKeys(ctx, *act, files, 1, *activityRs);
  EXPECT_EQ(Rows("ActivitySystem"), "5|20020615|00|-1|-1|-1|-1|8|5\n5|20020615|10|-1|-1|-1|-1|8|3\n"
                                    "5|20020615|15|-1|-1|-1|-1|8|2\n5|20020615|24|-1|-1|-1|-1|8|1\n"
                                    "5|20020615|24|-1|-1|-1|-1|46|-3\n");

  ctx.Db->Execute("DELETE FROM ActivitySystem WHERE User_Num = 5");
  act->LineKeyCounts.fill(0);
  act->LineKeyCounts[46] = 4;
  ctx.CurAppId = 3;
  ctx.CurWindowId = 7;
  EXPECT_THROW(prax::WriteLineErrorKeys(ctx, *act, files, 2, 1, *activityRs), prax::Error);    // no entry 2
  EXPECT_THROW(prax::WriteLineErrorKeys(ctx, *act, files, 1, 100, *activityRs), prax::Error);  // "100"
  prax::WriteLineErrorKeys(ctx, *act, files, 1, 15, *activityRs);
  EXPECT_EQ(Rows("ActivitySystem"), "5|20020615|15|3|7|-1|-1|46|4\n");
}

// Random and malformed logs, fixed seed: the parse returns, throws nothing,
// writes only error-key rows, and the day totals add up.
TEST_F(LoaderTest, RandomActivityLogs) {
  std::mt19937 rng(7);
  const char* templates[] = {"001 0915 \"W\",\"A\" 12 8,2 46,1 65,3", "001 2359 \"W", "001 1200 \"A\",\"B 3 8,1",
                             "User Project: P (T)", "User Notes: n", "User Project: (", "  1 2330 1 8,,,1 46,1"};
  const std::string noise = "0123456789 ,\"'()-.eE:\t\n\r\x80\xff";
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
    ASSERT_NO_THROW(ParseActivity(log)) << log;
    if (log.find('-') != std::string::npos) continue;  // a "-1" hour books straight into slot 0
    for (int k = 0; k < prax::kKeySlots; ++k) {
      int64_t sum = 0;
      for (int h = 1; h < prax::kHourSlots; ++h) sum += Hour(h, k);
      ASSERT_EQ(Hour(0, k), sum) << "key " << k << " of\n" << log;
    }
  }
  EXPECT_EQ(Query("SELECT count(*) FROM ActivitySystem WHERE Key_Num NOT IN (8, 46);"), "0\n");
}

class LoadActivityTest : public LoaderTest {
 protected:
  int Load(const prax::FileList& list) {
    status.captions.clear();
    return prax::LoadActivityLogs(ctx, *act, UserDir(), list, *activityRs);
  }
};

TEST_F(LoadActivityTest, LoadsNewDaysOnceFromBothNameForms) {
  dir.Write("PX000005.DIR/20020615.PXT", "001 0915 1 8,3\r\n001 1440 1 46,2\r\n");
  dir.Write("PX000005.DIR/PRAX365.PXT", "001 0000 1 8,1\r\n");
  // A missing log is parsed as empty and reported; it writes nothing.
  const prax::FileList list{"", "02-06-1520*", "99-12-31365", "03-01-0220*"};
  EXPECT_EQ(Load(list), 3);
  const std::string rows =
      "20020615|00|8|3\n20020615|00|46|2\n20020615|10|8|3\n20020615|15|46|2\n19991231|00|8|1\n19991231|01|8|1\n";
  EXPECT_EQ(Query("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM ActivitySystem;"), rows);
  ASSERT_EQ(status.log.size(), 1u);
  EXPECT_NE(status.log[0].find("20030102.PXT"), std::string::npos);
  EXPECT_EQ(status.captions, (std::vector<std::string>{" 33% ", " 66% ", " 100% "}));
  EXPECT_FALSE(status.Busy());

  // Again: only the day without rows is parsed; nothing is added.
  EXPECT_EQ(Load(list), 1);
  EXPECT_EQ(Query("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM ActivitySystem;"), rows);

  // A day without error keys leaves no row, so it is parsed again on every run.
  dir.Write("PX000005.DIR/20020616.PXT", "001 0915 1 65,3\r\nUser Notes: hello\r\n");
  EXPECT_EQ(Load({"", "02-06-1620*"}) + Load({"", "02-06-1620*"}), 2);
  EXPECT_EQ(Query("SELECT count(*) FROM ProjectNotes;"), "2\n");
}

}  // namespace

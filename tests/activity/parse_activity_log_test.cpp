// Reading whole activity logs and writing their error-key rows.

#include <array>
#include <random>

#include "activity/write_error_keys.h"
#include "activity_fixture.h"

namespace {

using praxtest::ActivityDbTest;

struct LogCase {
  const char* what;
  std::string log;
  bool appsNoPresent;
  std::string activity, notes;  // rows expected afterwards
  std::vector<std::array<int, 3>> hours;  // slot, key, count; every other count is 0
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.what; }

class ParseLogTest : public ActivityDbTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(ParseLogTest, RowsAndCounts) {
  const LogCase& c = GetParam();
  ctx.AppsNoPresent = c.appsNoPresent;
  Parse(c.log);
  EXPECT_EQ(ActivityRows(), c.activity);
  EXPECT_EQ(NoteRows(), c.notes);
  int64_t listed = 0, all = 0;
  for (const auto& [slot, key, count] : c.hours) {
    EXPECT_EQ(Hour(slot, key), count) << slot << "," << key;
    listed += count;
  }
  for (const auto& hour : state->HourKeyCounts) {
    for (int32_t v : hour) all += v;
  }
  EXPECT_EQ(all, listed);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, ParseLogTest,
    ::testing::Values(
        LogCase{"first line of an hour writes no row", "001 0915 \"Win\",\"App\" 12 8,2 65,10\r\n", false, "", "",
                {{10, 8, 2}, {0, 8, 2}, {10, 65, 10}, {0, 65, 10}}},
        LogCase{"second line of the hour writes its error keys",
                "001 0915 \"Win\",\"App\" 1 8,1\r\n001 0916 \"Win\",\"App\" 1 8,1\r\n", false,
                "5|20020615|10|1|1|-1|-1|8|1\n", "", {{10, 8, 2}, {0, 8, 2}}},
        LogCase{"a line's counts go to the previous line's names",
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
                true, "", "", {{10, 18, 2}, {0, 18, 2}}}),
    [](const ::testing::TestParamInfo<LogCase>& info) { return "Case" + std::to_string(info.index); });

// Windows-1252 names that differ only in the case of accented letters share
// one list row, also in a later run, and stay readable by a plain query.
TEST_F(ActivityDbTest, AccentedNamesShareOneRowWhateverTheirCase) {
  Parse("User Project: \xDC" "bersicht (Entwurf)\r\n001 0900 \"\xDC" "bersicht\",\"\xC9" "diteur\" 1 8,1\r\n");
  for (prax::LookupList* list : {&ctx.Apps, &ctx.Windows, &ctx.Projects}) {
    list->Close();
    list->Open(*ctx.Db, &status);
  }
  Parse("User Project: \xFC" "BERSICHT (Entwurf)\r\n001 0900 \"\xDC" "BERSICHT\",\"\xE9" "DITEUR\" 1 8,1\r\n"
        "001 0901 \"\xFC" "bersicht\",\"\xC9" "diteur\" 1 8,1\r\n");
  EXPECT_EQ(Query("SELECT Window_Id, Window_Name FROM WindowsList; SELECT App_Id, App_Name FROM ApplicationsList; "
                  "SELECT Proj_Id, Proj_Name FROM ProjectsList;"),
            "1|\xC3\x9C" "bersicht\n1|\xC3\x89" "diteur\n1|\xC3\x9C" "bersicht\n");
  EXPECT_EQ(Query("SELECT Window_Id FROM WindowsList WHERE Window_Name = '\xC3\x9C" "bersicht';"), "1\n");
}

TEST_F(ActivityDbTest, ProjectLineVariants) {
  struct Case {
    const char* line;
    std::string proj, task;
    int16_t projId, taskId;
  };
  // Each follows "User Project: Alpha (Design)" (ids 1, 1); the lists grow from case to case.
  const Case cases[] = {
      {"User Project: Beta(Build)", "Beta", "Build", 2, 2},
      {"User Project: Beta", "Alpha", "Design", 1, 1},           // no "(" nor ")": both kept and looked up again
      {"User Project:  ( Review )", "", "Review", 1, 3},          // an empty project keeps its id
      {"User Project: Gamma (", "Gamma", "Design", 3, 1},        // no ")": the task is kept
      {"User Project:", "Alpha", "Design", 1, 1},                // not longer than 13
      {"user project: Beta (Build)", "Alpha", "Design", 1, 1}};  // letter case counts
  for (const Case& c : cases) {
    Parse("User Project: Alpha (Design)\r\n" + std::string(c.line) + "\r\n");
    EXPECT_EQ(state->ProjName + "/" + state->TaskName, c.proj + "/" + c.task) << c.line;
    EXPECT_EQ(ctx.CurProjId * 100 + ctx.CurTaskId, c.projId * 100 + c.taskId) << c.line;
  }
}

TEST_F(ActivityDbTest, EachFileStartsAfreshWhileNamesAndTextsCarryOver) {
  Parse("001 0900 \"Caf\xe9\",\"A1\" 1 8,1\r\nUser Project: Alpha (Design)\r\n001 0901 \"W2\",\"A2\" 1 8,1\r\n");
  Parse("001 0900 \"W3\",\"A3\" 1 8,1\r\n001 0901 \"W3\",\"A3\" 1 8,1\r\nUser Notes: n\r\n");
  // The second file's first line books to its own names; project and task are -1 again.
  EXPECT_EQ(ActivityRows(), "5|20020615|10|1|1|1|1|8|1\n5|20020615|10|2|2|-1|-1|8|1\n");
  EXPECT_EQ(NoteRows(), "5|20020615|' 9'|'01'|-1|-1|1\n");
  EXPECT_EQ(state->ProjName, "Alpha");
  EXPECT_EQ(Query("SELECT Window_Name FROM WindowsList;"), "Caf\xc3\xa9\nW3\n");  // stored as UTF-8
}

TEST_F(ActivityDbTest, UnreadableLogEndsTheParseWithARunLogLine) {
  ctx.CurWindowId = 4;
  state->ClearHourKeyCounts();
  prax::ParseActivityLog(ctx, *state, UserDir() + "\\20020615.PXT", files, 1, *activityRs);
  ASSERT_EQ(status.log.size(), 1u);
  EXPECT_NE(status.log[0].find("20020615.PXT"), std::string::npos);
  EXPECT_EQ(ctx.CurWindowId, -1);
}

TEST_F(ActivityDbTest, DayRows) {
  Parse("001 0915 1 8,3\r\n001 1440 1 8,2 65,9\r\n");
  prax::WriteDayErrorKeys(ctx, *state, files, 1, *activityRs);
  EXPECT_EQ(ActivityRows(),
            "5|20020615|00|-1|-1|-1|-1|8|5\n5|20020615|10|-1|-1|-1|-1|8|3\n5|20020615|15|-1|-1|-1|-1|8|2\n");
  // Every slot and both keys: 50 rows, slot 0 first, key 8 before key 46; negative counts too.
  for (int h = 0; h < prax::kHourSlots; ++h) {
    state->HourKeyCounts[static_cast<std::size_t>(h)][8] = h + 1;
    state->HourKeyCounts[static_cast<std::size_t>(h)][46] = -(h + 1);
  }
  ctx.Db->Execute("DELETE FROM ActivitySystem WHERE User_Num = 5");
  prax::WriteDayErrorKeys(ctx, *state, files, 1, *activityRs);
  EXPECT_EQ(Query("SELECT count(*) FROM ActivitySystem;"), "50\n");
  EXPECT_EQ(Query("SELECT Data_Hour, Key_Num, Key_Count FROM ActivitySystem LIMIT 3;"), "00|8|1\n00|46|-1\n01|8|2\n");
}

TEST_F(ActivityDbTest, LineRowsAndWriterFailures) {
  state->LineKeyCounts.fill(0);
  state->LineKeyCounts[46] = 4;
  ctx.CurAppId = 3;
  ctx.CurWindowId = 7;
  ctx.CurProjId = ctx.CurTaskId = -1;
  EXPECT_THROW(prax::WriteLineErrorKeys(ctx, *state, files, 2, 1, *activityRs), prax::Error);    // no entry 2
  EXPECT_THROW(prax::WriteLineErrorKeys(ctx, *state, files, 1, 100, *activityRs), prax::Error);  // "100"
  prax::WriteLineErrorKeys(ctx, *state, files, 1, 15, *activityRs);
  EXPECT_EQ(ActivityRows(), "5|20020615|15|3|7|-1|-1|46|4\n");
}

// Random and malformed logs: the parse returns, throws nothing, writes only
// error-key rows, and the day totals add up. Fixed seed.
TEST_F(ActivityDbTest, RandomLogsNeverEscapeTheParser) {
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
        const char ch = noise[rng() % noise.size()];
        switch (rng() % 3) {
          case 0: line[at] = ch; break;
          case 1: line.erase(at, 1 + rng() % 3); break;
          default: line.insert(at, 1, ch); break;
        }
      }
      log += line + (rng() % 5 == 0 ? "\r" : "\r\n");
    }
    ASSERT_NO_THROW(Parse(log)) << log;
    if (log.find('-') != std::string::npos) continue;  // a "-1" hour books straight into slot 0
    for (int k = 0; k < prax::kKeySlots; ++k) {
      int64_t sum = 0;
      for (int h = 1; h < prax::kHourSlots; ++h) sum += Hour(h, k);
      ASSERT_EQ(Hour(0, k), sum) << "key " << k << " of\n" << log;
    }
  }
  EXPECT_EQ(Query("SELECT count(*) FROM ActivitySystem WHERE Key_Num NOT IN (8, 46);"), "0\n");
}

}  // namespace

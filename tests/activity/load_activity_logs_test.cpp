// The per-user loader: which days are parsed, which files are opened, progress.

#include <algorithm>

#include "activity/load_activity_logs.h"
#include "activity_fixture.h"

namespace {

class LoadActivityTest : public praxtest::ActivityDbTest {
 protected:
  int Load(const prax::FileList& list) { return prax::LoadActivityLogs(ctx, *state, UserDir(), list, *activityRs); }
};

TEST_F(LoadActivityTest, LoadsNewDaysOnceFromBothNameForms) {
  dir.Write("PX000005.DIR/20020615.PXT", "001 0915 1 8,3\r\n001 1440 1 46,2\r\n");
  dir.Write("PX000005.DIR/PRAX365.PXT", "001 0000 1 8,1\r\n");
  // A missing log is parsed as empty and reported; it writes nothing.
  const prax::FileList list{"", "02-06-1520*", "99-12-31365", "03-01-0220*"};
  EXPECT_EQ(Load(list), 3);
  const std::string rows = Query("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM ActivitySystem;");
  EXPECT_EQ(rows,
            "20020615|00|8|3\n20020615|00|46|2\n20020615|10|8|3\n20020615|15|46|2\n"
            "19991231|00|8|1\n19991231|01|8|1\n");
  ASSERT_EQ(status.log.size(), 1u);
  EXPECT_NE(status.log[0].find("20030102.PXT"), std::string::npos);
  EXPECT_EQ(status.Message(), "Status: Updating history database from Activity System...");
  EXPECT_NE(std::find(status.captions.begin(), status.captions.end(), " 33% "), status.captions.end());
  EXPECT_EQ(status.FileCaption(), " 100% ");
  EXPECT_FALSE(status.Busy());

  // Again: only the day without rows is parsed; nothing is added.
  EXPECT_EQ(Load(list), 1);
  EXPECT_EQ(Query("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM ActivitySystem;"), rows);
  EXPECT_EQ(status.FileCaption(), " 100% ");
}

TEST_F(LoadActivityTest, DayWithoutErrorKeysIsParsedOnEveryRun) {
  dir.Write("PX000005.DIR/20020615.PXT", "001 0915 1 65,3\r\nUser Notes: hello\r\n");
  const prax::FileList list{"", "02-06-1520*"};
  EXPECT_EQ(Load(list), 1);
  EXPECT_EQ(Load(list), 1);
  EXPECT_EQ(ActivityRows(), "");
  EXPECT_EQ(Query("SELECT count(*) FROM ProjectNotes;"), "2\n");
}

}  // namespace

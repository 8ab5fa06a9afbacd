// The error-keys step of a later run works out only the days it loads, and leaves what working out every day leaves.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "support/programs.h"

namespace {

namespace stdfs = std::filesystem;
using praxtest::Network;

// Every AlertSystem row, sorted: the days' rows whatever order they came in.
std::vector<std::string> AlertRows(const Network& n) {
  std::vector<std::string> rows = praxtest::Query(n.History(), "SELECT * FROM AlertSystem");
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Moves the activity logs of 6 January 2026 and the alert logs of 7 January
// (both name forms) of every user between two folders.
void MoveHalfDays(const stdfs::path& from, const stdfs::path& to) {
  std::vector<stdfs::path> logs;
  for (const auto& e : stdfs::recursive_directory_iterator(from)) logs.push_back(e.path());
  for (const stdfs::path& log : logs) {
    std::string name = log.filename().string();
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    if (name != "20260106.PXT" && name != "PRAX006.PXT" && name != "20260107.PXL" && name != "PRAX007.PXL") continue;
    const stdfs::path target = to / stdfs::relative(log, from);
    stdfs::create_directories(target.parent_path());
    stdfs::rename(log, target);
  }
}

TEST(ErrorKeys, LaterRunsLeaveWhatWorkingOutEveryDayLeaves) {
  const Network n;
  const stdfs::path aside = n.Root() / "aside";
  MoveHalfDays(n.Net(), aside);  // half of two days arrives after a later day
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  n.AppendDay();
  MoveHalfDays(aside, n.Net());
  ASSERT_EQ(n.Praxload({}).exitCode, 0);
  const auto later = AlertRows(n);
  for (const char* day : {"20260106", "20260107"})
    EXPECT_GT(n.Count(std::string("SELECT count(*) FROM AlertSystem WHERE Error_Keys > 0 AND Data_Date = ") + day + ";"), 0);
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  EXPECT_EQ(AlertRows(n), later);
  EXPECT_EQ(n.Count("SELECT count(*) FROM ErrorKeysPending;"), 0);

  // Another tool adds 5 Backspaces to an hour: a run with nothing new keeps
  // the stored error keys, a recomputation takes the edit in.
  const std::string pick = praxtest::Sqlite3(
      n.History(),
      "SELECT ac.rowid || ' ' || al.rowid || ' ' || al.Error_Keys FROM ActivitySystem ac JOIN AlertSystem al ON "
      "al.User_Num = ac.User_Num AND al.Data_Date = ac.Data_Date AND al.Data_Hour = ac.Data_Hour "
      "WHERE ac.App_Id = -1 AND ac.Key_Num = 8 AND ac.Data_Hour <> '00' LIMIT 1;");
  long activityRow = 0, alertRow = 0, before = 0;
  std::istringstream(pick) >> activityRow >> alertRow >> before;
  ASSERT_GT(activityRow, 0) << pick;
  praxtest::Sqlite3(n.History(),
                    "UPDATE ActivitySystem SET Key_Count = Key_Count + 5 WHERE rowid = " + std::to_string(activityRow));
  const std::string errorKeys = "SELECT Error_Keys FROM AlertSystem WHERE rowid = " + std::to_string(alertRow) + ";";
  ASSERT_EQ(n.Praxload({}).exitCode, 0);
  EXPECT_EQ(n.Count(errorKeys), before);
  ASSERT_EQ(n.Praxload({"--recompute-error-keys"}).exitCode, 0);
  EXPECT_EQ(n.Count(errorKeys), before + 5);

  // A file of a version that kept no pending marks, with a stale value: the next run adds what the load keeps beside
  // the tables and works out every user-day once.
  praxtest::Sqlite3(n.History(), "DROP TABLE ErrorKeysPending; DROP INDEX AlertSystem_Day_Ix; DROP INDEX "
                                 "ActivitySystem_Day_Ix; UPDATE AlertSystem SET Error_Keys = 0 WHERE rowid = " +
                                     std::to_string(alertRow) + ";");
  ASSERT_EQ(n.Praxload({}).exitCode, 0);
  EXPECT_EQ(n.Count(errorKeys), before + 5);
  EXPECT_EQ(n.Count("SELECT count(*) FROM sqlite_master WHERE name IN ('ErrorKeysPending', 'AlertSystem_Day_Ix', "
                    "'ActivitySystem_Day_Ix');"),
            3);
}

}  // namespace

// The load job over hand-made network directories, checked row by row
// against values worked out by hand, and the error-keys step.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <tuple>

#include "load/history_location.h"
#include "load/error_keys.h"
#include "load/run_load_job.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "logs/user_dir.h"
#include "store/history_store.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/recording_status.h"

namespace {

namespace fs = std::filesystem;

using praxtest::RecordingStatus;

// An AlertSystem row: the 38 columns after Data_Hour (0-16 keyboard, 17-33
// mouse, 34 StretchTimers_Given, 35 Restarts, 37 Error_Keys) are 0 except those given.
std::string AlertRow(int user, int date, const char* hour, const std::map<int, int>& values) {
  std::string row = std::to_string(user) + "|" + std::to_string(date) + "|" + hour;
  for (int c = 0; c < 38; ++c) (row += "|") += std::to_string(values.count(c) ? values.at(c) : 0);
  return row + "\n";
}

// User 2: alert and activity logs of 15 June 2002, and day-number logs of the same day listed after them (the day is
// loaded by then: they are passed over, also while the logs are read ahead of the writing). User 3: an activity log
// only. User 1001 (in the thousand sub-folder): day-number alert and lower-case activity logs of 1 Feb 2003.
void WriteNetwork(const praxtest::TempDir& dir) {
  dir.Write("PX000002.DIR/20020615.PXL",
            "001 0905 10 0 1 x 4 0 1 x x x end\r\n"
            "001 0906 20 1 2 x 6 0 1 x x x end\r\n"
            "User Action: Wrist rest*020615 09\r\n"
            "User Entry:  Ache -- Wrist\r\n"
            "User Notes: Typing a lot\r\n");
  dir.Write("PX000002.DIR/20020615.PXT",
            "User Project: Payroll (Review)\r\n"
            "001 0910 \"Doc - Editor\",\"EDITOR\" 7 8,3 65,10\r\n"
            "001 0920 \"Mail\",\"MAILER\" 7 8,2 46,2\r\n"
            "User Notes: Typing a lot\r\n"
            "001 2300 \"Mail\",\"MAILER\" 7 8,1\r\n");
  for (const char* log : {"PX000002.DIR/PRAX166.PXL", "PX000002.DIR/PRAX166.PXT"})
    praxtest::SetMTime(dir.Write(log, "STARTED\r\n001 0915 1 8,5\r\n"), 2002, 6, 20);
  dir.Write("PX000003.DIR/20020616.PXT",
            "User Notes: Start\r\n"
            "001 1400 \"Mail\",\"MAILER\" 3 46,1\r\n"
            "001 1430 \"Doc - Editor\",\"EDITOR\" 3 46,4\r\n");
  praxtest::SetMTime(dir.Write("001000/PX001001.DIR/PRAX032.PXL", "STARTED\r\n001 1505 5 0 0 x 0 0 0 x x x end\r\n"),
                     2003, 2, 1);
  praxtest::SetMTime(dir.Write("001000/PX001001.DIR/prax032.pxt",
                               "001 1510 \"Doc - Editor\",\"EDITOR\" 2 8,1\r\n"
                               "001 1520 \"Doc - Editor\",\"EDITOR\" 2 8,1\r\n"),
                     2003, 2, 1);
}

// Every History table after loading that network, worked out by hand.
std::map<std::string, std::string> NetworkRows() {
  const std::map<int, int> user2Hour = {{0, 1}, {5, 1}, {15, 2}, {16, 30}, {32, 1}, {33, 10}};
  std::map<int, int> user2Day = user2Hour, user2Ten = user2Hour;
  user2Day[37] = 8;  // 6 Backspace (one at 23:00, an hour without alert row) + 2 Delete
  user2Ten[37] = 7;  // 5 + 2
  return {{"AlertSystem", AlertRow(2, 20020615, "00", user2Day) + AlertRow(2, 20020615, "10", user2Ten) +
                              AlertRow(1001, 20030201, "00", {{16, 5}, {35, 1}, {37, 2}}) +
                              AlertRow(1001, 20030201, "16", {{16, 5}, {37, 2}})},
          {"ActivitySystem",
           "2|20020615|10|1|1|1|1|8|2\n2|20020615|10|1|1|1|1|46|2\n2|20020615|00|-1|-1|-1|-1|8|6\n"
           "2|20020615|00|-1|-1|-1|-1|46|2\n2|20020615|10|-1|-1|-1|-1|8|5\n2|20020615|10|-1|-1|-1|-1|46|2\n"
           "2|20020615|24|-1|-1|-1|-1|8|1\n3|20020616|15|2|2|-1|-1|46|4\n3|20020616|00|-1|-1|-1|-1|46|5\n"
           "3|20020616|15|-1|-1|-1|-1|46|5\n1001|20030201|16|1|1|-1|-1|8|1\n1001|20030201|00|-1|-1|-1|-1|8|2\n"
           "1001|20030201|16|-1|-1|-1|-1|8|2\n"},
          {"UserNotes", "2|20020615| 9|06|1|1|1\n"}, {"EMSSystemUsage", "2|20020615|09|1\n"},
          {"ProjectNotes", "2|20020615| 9|20|1|1|1\n3|20020616|-1||-1|-1|2\n"},
          {"ApplicationsList", "1|EDITOR\n2|MAILER\n"}, {"WindowsList", "1|Doc - Editor\n2|Mail\n"},
          {"ProjectsList", "1|Payroll\n"}, {"ProjectTasksList", "1|Review\n"}, {"BodyPartsList", "1|Wrist\n"},
          {"NotesList", "1|Typing a lot\n2|Start\n"}, {"DiscomfortsList", "1|Ache\n"},
          {"EMSToolsList", "1|Wrist rest\n"}};
}

class LoadJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.NetworkDir = dir.Text();
    ctx.UserSlotCount = 1001;
    WriteNetwork(dir);
    CreateDatabase();
  }
  void CreateDatabase() {
    prax::CreateHistoryDatabase(ctx, status);
    status.phases.clear();
    status.log.clear();
  }
  fs::path DbFile() const { return fs::path(ctx.NetworkDir) / "PRAXDATA.MDB"; }
  std::string Dump(const std::string& table) { return praxtest::Sqlite3(DbFile(), "SELECT * FROM " + table + ";"); }
  std::map<std::string, std::string> DumpAll() {
    std::map<std::string, std::string> all;
    for (const auto& t : prax::store::HistorySchema()) all[t.name] = Dump(t.name);
    return all;
  }
  // The job's error text; empty when it ends well.
  std::string Failure() {
    const prax::Error e = praxtest::Raised([&] { prax::RunLoadJob(ctx, status, 1, 1001); });
    environment = e.Environment();
    return e.what();
  }

  praxtest::TempDir dir;
  RecordingStatus status;
  prax::RunContext ctx;
  bool environment = false;
};

TEST_F(LoadJobTest, ThreeUsersIntoAFreshDatabase) {
  const prax::LoadSummary summary = prax::RunLoadJob(ctx, status, 1, 1001);
  const auto rows = DumpAll();
  EXPECT_EQ(rows, NetworkRows());
  EXPECT_EQ((std::vector<int>{summary.usersProcessed, summary.alertDaysLoaded, summary.activityDaysLoaded}),
            (std::vector<int>{1001, 2, 3}));
  for (const auto& [table, dump] : rows)
    EXPECT_EQ(summary.rowsAdded.count(table) ? summary.rowsAdded.at(table) : -1, std::ranges::count(dump, '\n')) << table;
  // The run log: the start, every user of pass 1, the loaded alert logs.
  ASSERT_EQ(status.log.size(), 2u + 1001u + 2u);
  EXPECT_TRUE(status.log[0] == " " && status.log[1].starts_with("Starting Job - ")) << status.log[1];
  const auto at = [&](const std::string& line) { return std::ranges::find(status.log, line) - status.log.begin(); };
  EXPECT_EQ(at("    Loading-1: 02-06-1520*"), at("  Pass 1, User 2:") + 1);
  EXPECT_EQ(at("    Loading-2: 03-02-01032"), at("  Pass 1, User 1001:") + 1);
  EXPECT_EQ(status.phases, (std::vector<std::string>{"Loading AlertSystems, Start", "Loading PXTs, Start",
                                                     "Loading error keys, Start", "Done."}));
  EXPECT_TRUE(status.UserCaption() == " 100% " && !status.Running());

  const prax::LoadSummary again = prax::RunLoadJob(ctx, status, 1, 1001);
  EXPECT_EQ(DumpAll(), rows);
  EXPECT_EQ(again.alertDaysLoaded + again.activityDaysLoaded, 0);
  for (const auto& [table, n] : again.rowsAdded) EXPECT_EQ(n, 0) << table;
}

TEST_F(LoadJobTest, ErrorKeysAreTheFreshSumOfBothKeysFromTheWholeApplicationRows) {
  praxtest::Sqlite3(DbFile(),
                    "INSERT INTO AlertSystem (User_Num, Data_Date, Data_Hour, Error_Keys) VALUES"
                    " (5, 20011231, '00', 0), (5, 20011231, '10', 99),"  // a stale value is replaced
                    " (5, 20011231, '11', 0), (5, 20011231, '12', 4),"   // key 46 only; no activity: kept
                    " (5, 20011231, '13', 3), (5, 20011231, '10', 0),"   // a sum beyond the column: kept;
                    " (6, 20011231, '10', 0);"                           // only an hour's first row is matched
                    "INSERT INTO ActivitySystem (User_Num, Data_Date, Data_Hour, App_Id, Key_Num, Key_Count) VALUES"
                    " (5, 20011231, '00', -1, 8, 5), (5, 20011231, '00', -1, 46, 3), (5, 20011231, '10', -1, 8, 5),"
                    " (5, 20011231, '10', -1, 46, 2), (5, 20011231, '10', 3, 8, 50), (5, 20011231, '10', -1, 65, 9),"
                    " (5, 20011231, '11', -1, 46, 1), (5, 20011231, '13', -1, 8, 30000),"
                    " (5, 20011231, '13', -1, 46, 30000), (5, 20020101, '10', -1, 8, 4), (6, 20011231, '10', 3, 8, 1);");
  auto store = prax::store::OpenSqliteHistory(DbFile());
  for (int run = 0; run < 2; ++run) {  // a second run changes nothing
    prax::WriteUserErrorKeys(*store, 5);
    prax::WriteUserErrorKeys(*store, 6);  // no whole-application rows
    store->Commit();
    EXPECT_EQ(praxtest::Sqlite3(DbFile(), "SELECT User_Num, Data_Hour, Error_Keys FROM AlertSystem ORDER BY rowid;"),
              "5|00|8\n5|10|7\n5|11|1\n5|12|4\n5|13|3\n5|10|0\n6|10|0\n");
  }
  store->Close();

  // Pending dates are worked out together, read over their span: a date between them that is not pending keeps
  // its value, and one far away is read on its own.
  praxtest::Sqlite3(DbFile(), "INSERT INTO AlertSystem (User_Num, Data_Date, Data_Hour, Error_Keys) VALUES"
                              " (7, 20011201, '10', 0), (7, 20011202, '10', 0), (7, 20011203, '10', 0), (7, 20030101, '10', 0);"
                              "INSERT INTO ActivitySystem (User_Num, Data_Date, Data_Hour, App_Id, Key_Num, Key_Count) VALUES"
                              " (7, 20011201, '10', -1, 8, 1), (7, 20011202, '10', -1, 8, 2), (7, 20011203, '10', -1, 8, 3),"
                              " (7, 20030101, '10', -1, 46, 4);");
  store = prax::store::OpenSqliteHistory(DbFile());
  for (const int32_t date : {20011201, 20011203, 20030101}) store->MarkErrorKeysPending(7, date);
  prax::WorkOutErrorKeys(*store, 7, false, nullptr);
  store->Commit();
  EXPECT_TRUE(store->ErrorKeysPending(7).empty());
  store->Close();
  EXPECT_EQ(praxtest::Sqlite3(DbFile(), "SELECT Error_Keys FROM AlertSystem WHERE User_Num = 7 ORDER BY rowid;"),
            "1\n0\n3\n4\n");
}

TEST_F(LoadJobTest, UserRangesAndProgress) {
  ctx.UserSlotCount = 200;
  status.SetStatus("Working");
  EXPECT_EQ(prax::RunLoadJob(ctx, status, 5, 5).usersProcessed, 1);
  EXPECT_EQ(status.UserCaption() + std::to_string(status.UserBar()), " 2% 2");  // 5 / 200, not 100
  EXPECT_FALSE(status.Busy());

  ctx.UserSlotCount = 2;  // beyond the slots: the caption passes 100, the bar stops there
  prax::RunLoadJob(ctx, status, 3, 3);
  EXPECT_EQ(status.UserCaption() + std::to_string(status.UserBar()), " 150% 100");
  ctx.UserSlotCount = 0;
  prax::RunLoadJob(ctx, status, 3, 3);
  EXPECT_EQ(status.UserCaption() + std::to_string(status.UserBar()), " 0% 0");
  EXPECT_EQ(prax::RunLoadJob(ctx, status, 1, 0).usersProcessed, 0);

  EXPECT_EQ(prax::UserDirPath("N:\\PRAX\\", 1000), "N:\\PRAX\\PX001000.DIR");
  EXPECT_EQ(prax::UserDirPath("N:\\PRAX\\", 1001), "N:\\PRAX\\001000\\PX001001.DIR");
  EXPECT_EQ(prax::UserDirPath("N:\\PRAX\\", 2000), "N:\\PRAX\\002000\\PX002000.DIR");
}

// 32768 restarts do not fit the Restarts column: user 7's day row is refused, the job ends in pass 1 and what it
// wrote before stays.
TEST_F(LoadJobTest, FailuresEndTheJobNamingWhatFailed) {
  std::string restarts;
  for (int i = 0; i < 32768; ++i) restarts += "STARTED\r\n";
  dir.Write("PX000007.DIR/20020615.PXL", restarts);
  const std::string failure = Failure();
  EXPECT_TRUE(praxtest::Has(failure, "user 7") && praxtest::Has(failure, "20020615.PXL")) << failure;
  EXPECT_TRUE(status.Running());
  EXPECT_EQ(status.phases, std::vector<std::string>{"Loading AlertSystems, Start"});
  EXPECT_EQ(Dump("ActivitySystem") + praxtest::Sqlite3(DbFile(), "SELECT User_Num, count(*) FROM AlertSystem GROUP BY 1;"),
            "2|2\n");
}

// With either journal the History file is left at rest; a file replaced or removed under the run ends it at once
// naming the file, and nothing is written into the file now in its place.
TEST_F(LoadJobTest, JournalDuringTheLoadAndAFileReplacedUnderIt) {
  const std::string file = DbFile().string();
  for (const auto& [journal, action, at] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"wal", "", ""},
           {"delete", "", ""},
           {"wal", "replace", "Pass 1, User 3:"},  // user 2 is committed
           {"delete", "remove", "Pass 1, User 3:"},
           {"delete", "replace", "Pass 3, User 1:"}}) {  // every log is stored, no error key yet
    if (praxtest::kWindows && !action.empty()) continue;  // Windows neither replaces nor removes an open file
    SCOPED_TRACE(journal + " " + action + " " + at);
    fs::remove(DbFile());
    CreateDatabase();
    for (const char* name : {"backup.MDB", "unchanged.MDB"})  // (overwrite_existing fails in MinGW's library)
      fs::remove(dir.Path() / name), fs::copy_file(DbFile(), dir.Path() / name);
    status.onLoading = [&](const std::string& now) {
      if (now != at) return;
      if (action == "replace") fs::rename(dir.Path() / "backup.MDB", DbFile());
      if (action == "remove") fs::remove(DbFile());
    };
    ctx.HistoryJournal = journal == "wal" ? prax::RunContext::Journal::kWal : prax::RunContext::Journal::kRollback;
    const std::string failure = Failure();
    EXPECT_EQ(praxtest::Has(failure, "PRAXDATA.MDB' was removed or replaced"), !action.empty()) << failure;
    EXPECT_EQ(environment, !action.empty());
    EXPECT_TRUE(at.empty() || status.loading.back() == at) << status.loading.back();  // no user after it
    EXPECT_TRUE(action != "replace" || praxtest::Slurp(DbFile()) == praxtest::Slurp(dir.Path() / "unchanged.MDB"));
    for (const char* suffix : {"-wal", "-shm", "-journal"}) EXPECT_FALSE(fs::exists(file + suffix));
    EXPECT_TRUE(!fs::exists(DbFile()) || praxtest::Sqlite3(DbFile(), "PRAGMA journal_mode;") == "delete\n");
  }
}

TEST_F(LoadJobTest, OtherWritersNeverCostRowsOrIds) {
  // A program holds the write lock from user 1001 of pass 1 on, past the wait: the job ends naming the file and user,
  // and that day is not stored; the next run loads it whole.
  std::optional<praxtest::Db> holder(std::in_place, DbFile(), true);
  status.onLoading = [&](const std::string& at) {
    if (at == "Pass 1, User 1001:") holder->Query("BEGIN IMMEDIATE");
  };
  const std::string failure = Failure();
  EXPECT_TRUE(environment);
  EXPECT_TRUE(praxtest::Has(failure, "PRAXDATA.MDB") && praxtest::Has(failure, "user 1001")) << failure;
  holder.reset();
  EXPECT_EQ(praxtest::Sqlite3(DbFile(), "SELECT COUNT(*) FROM AlertSystem WHERE User_Num = 1001;"), "0\n");
  status.onLoading = nullptr;
  prax::RunLoadJob(ctx, status, 1, 1001);
  EXPECT_EQ(DumpAll(), NetworkRows());

  // Another program adds to the notes list between two users of pass 2 (and
  // takes the id the job would give next): the job's next note gets a new id.
  fs::remove(DbFile());
  CreateDatabase();
  status.onLoading = [&](const std::string& at) {
    if (at == "Pass 2, User 3:") praxtest::Query(DbFile(), "INSERT INTO NotesList VALUES (2, 'External note')", true);
  };
  prax::RunLoadJob(ctx, status, 1, 1001);
  EXPECT_EQ(Dump("NotesList"), "1|Typing a lot\n2|External note\n3|Start\n");
  EXPECT_EQ(praxtest::Sqlite3(DbFile(), "SELECT Note_Id FROM ProjectNotes WHERE User_Num = 3;"), "3\n");
}

// A user folder with more activity logs than a run goes through (empty
// files, each a valid day) is named once; nothing of it is read.
TEST_F(LoadJobTest, MoreActivityLogsThanARunTakesAreNamed) {
  // So many files are written on a memory file system where there is one.
  const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  if (fs::is_directory("/dev/shm")) praxtest::SetEnv("TMPDIR", "/dev/shm");
  const praxtest::TempDir many;
  praxtest::SetEnv("TMPDIR", saved);
  ctx.NetworkDir = many.Text();
  CreateDatabase();
  fs::create_directory(many.Path() / "PX000009.DIR");
  for (int day = 0; day < 32768; ++day) {
    const prax::dt::Date d = prax::dt::FromYearDay(1991, day);
    std::ofstream(many.Path() / "PX000009.DIR" / (std::to_string(d.year * 10000 + d.month * 100 + d.day) + ".PXT"));
  }
  const prax::LoadSummary s = prax::RunLoadJob(ctx, status, 9, 9);
  EXPECT_EQ(s.activityDaysLoaded, 0);
  ASSERT_EQ(status.PassedOverCount(), 1);
  EXPECT_TRUE(praxtest::Has(status.passedOver[0], "PX000009.DIR': 32768 activity logs, more than the 32767"))
      << status.passedOver[0];
}

// Between the two days of user 2, in both log passes, another program writes at once (it does not wait): the day
// before is committed with its error-keys mark, and nothing stays open. A default load on a local disk runs in WAL.
TEST_F(LoadJobTest, AnotherProgramWritesBetweenTwoDaysOfAUser) {
  std::vector<std::string> between;
  status.onCaption = [&](const std::string& caption) {
    if (caption != " 50% " || !status.Loading().ends_with(" User 2:")) return;
    between.push_back(status.Loading() + (fs::exists(DbFile().string() + "-wal") ? " wal" : ""));
    const praxtest::Db other(DbFile(), true);
    for (const char* sql : {"PRAGMA busy_timeout = 0", "BEGIN IMMEDIATE", "COMMIT"}) other.Query(sql);
  };
  prax::RunLoadJob(ctx, status, 1, 1001);
  EXPECT_EQ(between, (std::vector<std::string>{"Pass 1, User 2: wal", "Pass 2, User 2: wal"}));
  EXPECT_EQ(DumpAll(), NetworkRows());
}

// Parsed on three threads, each day from a blank carry, the rows are those of one thread: a day that counts what the
// days before it left (a short sample line, a data line naming nothing, a project without a task) is parsed again
// with it, and the fields a day sets reach the days after it.
TEST_F(LoadJobTest, ParsedOnSeveralThreadsTheRowsAreThoseOfOne) {
  const char* days[][2] = {
      {"001 0905 10 2 7 x 9 3 5 x x x end\r\n", "User Project: Payroll (Review)\r\n001 0910 \"Doc\",\"ED\" 7 8,3\r\n"},
      {"001 1000 5 1\r\n", "User Project: Audit\r\n001 0920 \"Doc 7 8,2\r\n"},
      {"001 1100 3 0 2 x 1 0 0 x x x end\r\n", "User Project: Bills (Ledger)\r\n001 0930 \"Sheet\",\"CALC\" 2 46,1\r\n"},
      {"001 1200 4 1\r\n", "User Project: (Close)\r\n001 0940 \"Mail 1 8,1\r\n"}};
  for (int d = 0; d < 4; ++d)
    for (int k = 0; k < 2; ++k) dir.Write("PX000004.DIR/2002061" + std::to_string(d) + (k ? ".PXT" : ".PXL"), days[d][k]);
  std::vector<std::map<std::string, std::string>> rows;
  for (const int threads : {1, 3}) {
    fs::remove(DbFile());
    CreateDatabase();
    ctx.ParseThreads = threads;
    prax::RunLoadJob(ctx, status, 1, 1001);
    rows.push_back(DumpAll());
  }
  EXPECT_EQ(rows[0], rows[1]);
}

// The file is replaced between the two days of user 2 (alert pass), so the commit after the user fails: the days
// the run says it loaded are those stored, each with its error-keys mark, whether days are committed one by one or
// together (a database this command made), and a rerun on the file completes the load. With the rollback journal
// what was committed is in the file moved.
TEST_F(LoadJobTest, AFailedCommitReportsOnlyTheDaysItStored) {
  PRAX_SKIP_ON_WINDOWS("renaming a file that is open");
  const fs::path moved = DbFile().string() + ".moved";
  ctx.HistoryJournal = prax::RunContext::Journal::kRollback;
  for (const bool fresh : {false, true}) {
    SCOPED_TRACE(fresh);
    fs::remove(DbFile());
    CreateDatabase();
    ctx.FreshHistory = fresh;
    status.Summary() = prax::RunSummary{};
    status.onCaption = [&](const std::string& caption) {
      if (caption == " 50% " && status.Loading() == "Pass 1, User 2:") fs::rename(DbFile(), moved);
    };
    EXPECT_TRUE(praxtest::Has(Failure(), "PRAXDATA.MDB") && environment);
    status.onCaption = nullptr;
    fs::rename(moved, DbFile());
    const std::string days = praxtest::Sqlite3(DbFile(), "SELECT COUNT(DISTINCT Data_Date) FROM AlertSystem;");
    EXPECT_EQ(days, fresh ? "0\n" : "1\n");
    EXPECT_EQ(days, std::to_string(status.Summary().passes.at(0).daysLoaded) + "\n");
    EXPECT_EQ(praxtest::Sqlite3(DbFile(), "SELECT COUNT(*) FROM " + std::string(prax::store::kPendingTable) + ";"), days);
    prax::RunLoadJob(ctx, status, 1, 1001);
    EXPECT_EQ(DumpAll(), NetworkRows());
  }
}

// Against a controlled clock: today's and tomorrow's logs wait (a client in
// a time zone ahead); a log dated further ahead is loaded and named.
// The next run finds what a run passed over (a log that was not there yet
// for an old date, a log that could not be read), and loads no day twice.
TEST_F(LoadJobTest, TheNextRunFindsWhatTheLastPassedOver) {
  fs::rename(dir.Path() / "PX000003.DIR/20020616.PXT", dir.Path() / "late.PXT");
  fs::create_directories(dir.Path() / "PX000002.DIR/20020614.PXL");
  const prax::LoadSummary first = prax::RunLoadJob(ctx, status, 1, 1001);
  EXPECT_EQ(first.activityDaysLoaded, 2);
  fs::remove(dir.Path() / "PX000002.DIR/20020614.PXL");
  dir.Write("PX000002.DIR/20020614.PXL", "STARTED\r\n");
  fs::rename(dir.Path() / "late.PXT", dir.Path() / "PX000003.DIR/20020616.PXT");
  for (const int days : {1, 0}) {
    const prax::LoadSummary next = prax::RunLoadJob(ctx, status, 1, 1001);
    EXPECT_EQ(next.alertDaysLoaded, days);
    EXPECT_EQ(next.activityDaysLoaded, days);
  }
  EXPECT_EQ(Dump("ActivitySystem").size(), NetworkRows()["ActivitySystem"].size());
}

TEST_F(LoadJobTest, TodaysLogsAreLeftForALaterRun) {
  const struct {
    int32_t today;
    bool includeToday;
    int loaded, later, future;
    const char *file, *says;
  } cases[] = {
      {20020615, false, 2, 5, 2, "PX000003.DIR/20020616.PXT", ": left for a later run: tomorrow's log"},
      {20020616, false, 4, 1, 2, "PX000003.DIR/20020616.PXT", ": left for a later run: today's log"},
      {20020616, true, 5, 0, 2, "001000/PX001001.DIR/PRAX032.PXL", ": dated in the future, 01/02/2003: loaded"},
      {20030131, false, 3, 2, 0, "001000/PX001001.DIR/PRAX032.PXT", ": left for a later run: tomorrow's log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.today);
    fs::remove(DbFile());
    CreateDatabase();
    status.passedOver.clear();
    ctx.Today = [t = c.today] { return t; };
    ctx.IncludeToday = c.includeToday;
    const int counted = status.PassedOverCount();
    const prax::LoadSummary s = prax::RunLoadJob(ctx, status, 1, 1001);
    EXPECT_EQ(s.alertDaysLoaded + s.activityDaysLoaded, c.loaded);
    const auto lines = [&](const std::string& part) {
      return std::ranges::count_if(status.passedOver, [&](const std::string& l) { return l.find(part) != l.npos; });
    };
    EXPECT_EQ(lines("left for a later run"), c.later);
    EXPECT_EQ(lines("dated in the future"), c.future);
    EXPECT_EQ(status.PassedOverCount() - counted, c.later);  // a future log is loaded, not skipped
    EXPECT_EQ(lines(prax::fs::ForDisplay(c.file) + c.says), 1);
  }
}

}  // namespace

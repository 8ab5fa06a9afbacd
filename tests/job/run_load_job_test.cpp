// The load job over hand-made network directories, checked row by row
// against values worked out by hand.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "app/status.h"
#include "db/create_history_database.h"
#include "job/run_load_job.h"
#include "job/user_dir.h"
#include "platform/error.h"
#include "support/temp_dir.h"

namespace {

class RecordingStatus : public prax::Status {
 public:
  std::vector<std::string> phases, log, loading, passedOver;
  // What another program does meanwhile: when the job reaches a pass and
  // user ("Pass 2, User 3:"), or as a line is logged.
  std::function<void(const std::string&)> onLoading;
  std::function<void(std::string_view)> onLog;

 protected:
  void OnLog(std::string_view line) override {
    log.emplace_back(line);
    if (onLog) onLog(line);
  }
  void OnPassedOver(std::string_view line) override { passedOver.emplace_back(line); }
  void OnPhase(std::string_view label) override { phases.emplace_back(label); }
  void OnChanged() override {
    if (loading.empty() || loading.back() != Loading()) {
      loading.push_back(Loading());
      if (onLoading) onLoading(Loading());
    }
  }
};

// Another program's connection to a database file.
class OtherProgram {
 public:
  explicit OtherProgram(const std::filesystem::path& file) { sqlite3_open(file.c_str(), &db_); }
  ~OtherProgram() { sqlite3_close(db_); }
  int Exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }

 private:
  sqlite3* db_ = nullptr;
};

class LoadJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
  }
  void CreateDatabase() {
    prax::CreateHistoryDatabase(ctx);
    status.phases.clear();
    status.log.clear();
  }
  std::filesystem::path DbFile() const { return std::filesystem::path(ctx.NetworkDir) / "PRAXDATA.MDB"; }
  std::string Dump(const std::string& table) { return praxtest::Sqlite3(DbFile(), "SELECT * FROM " + table + ";"); }
  std::map<std::string, std::string> DumpAll() {
    std::map<std::string, std::string> all;
    for (const auto& t : prax::HistorySchema()) all[t.name] = Dump(t.name);
    return all;
  }

  praxtest::TempDir dir;
  RecordingStatus status;
  prax::RunContext ctx;
};

// An AlertSystem row: the 38 columns after Data_Hour are 0 except those given
// (0-4 keyboard given L1-L5, 5-9 taken, 10-14 skipped, 15 Key_Work_Mins,
// 16 Keystrokes, 17-31 mouse given/taken/skipped, 32 Mouse_Work_Mins,
// 33 Mouse_Seconds, 34 StretchTimers_Given, 35 Restarts, 36 Settings_Cycled,
// 37 Error_Keys).
std::string AlertRow(int user, int date, const char* hour, const std::map<int, int>& values) {
  std::string row = std::to_string(user) + "|" + std::to_string(date) + "|" + hour;
  for (int c = 0; c < 38; ++c) {
    const auto it = values.find(c);
    row += '|';
    row += std::to_string(it == values.end() ? 0 : it->second);
  }
  return row + "\n";
}

// User 2: alert and activity logs of 15 June 2002. User 3: an activity log
// only. User 1001 (in the thousand sub-folder): a day-number alert log and a
// lower-case activity log of 1 February 2003.
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

TEST_F(LoadJobTest, ThreeUsersIntoAFreshDatabase) {
  WriteNetwork(dir);
  CreateDatabase();
  ctx.UserSlotCount = 1001;
  const prax::LoadSummary summary = prax::RunLoadJob(ctx, 1, 1001);

  const std::map<int, int> user2Hour = {{0, 1}, {5, 1}, {15, 2}, {16, 30}, {32, 1}, {33, 10}};
  std::map<int, int> user2Day = user2Hour, user2Ten = user2Hour;
  user2Day[37] = 8;  // 6 Backspace (one at 23:00, an hour without alert row) + 2 Delete
  user2Ten[37] = 7;  // 5 + 2
  EXPECT_EQ(Dump("AlertSystem"), AlertRow(2, 20020615, "00", user2Day) + AlertRow(2, 20020615, "10", user2Ten) +
                                     AlertRow(1001, 20030201, "00", {{16, 5}, {35, 1}, {37, 2}}) +
                                     AlertRow(1001, 20030201, "16", {{16, 5}, {37, 2}}));
  EXPECT_EQ(Dump("ActivitySystem"),
            "2|20020615|10|1|1|1|1|8|2\n"
            "2|20020615|10|1|1|1|1|46|2\n"
            "2|20020615|00|-1|-1|-1|-1|8|6\n"
            "2|20020615|00|-1|-1|-1|-1|46|2\n"
            "2|20020615|10|-1|-1|-1|-1|8|5\n"
            "2|20020615|10|-1|-1|-1|-1|46|2\n"
            "2|20020615|24|-1|-1|-1|-1|8|1\n"
            "3|20020616|15|2|2|-1|-1|46|4\n"
            "3|20020616|00|-1|-1|-1|-1|46|5\n"
            "3|20020616|15|-1|-1|-1|-1|46|5\n"
            "1001|20030201|16|1|1|-1|-1|8|1\n"
            "1001|20030201|00|-1|-1|-1|-1|8|2\n"
            "1001|20030201|16|-1|-1|-1|-1|8|2\n");
  EXPECT_EQ(Dump("UserNotes"), "2|20020615| 9|06|1|1|1\n");
  EXPECT_EQ(Dump("ProjectNotes"), "2|20020615| 9|20|1|1|1\n3|20020616|-1||-1|-1|2\n");
  EXPECT_EQ(Dump("EMSSystemUsage"), "2|20020615|09|1\n");
  const std::map<std::string, std::string> lists = {
      {"ApplicationsList", "1|EDITOR\n2|MAILER\n"}, {"WindowsList", "1|Doc - Editor\n2|Mail\n"},
      {"ProjectsList", "1|Payroll\n"},              {"ProjectTasksList", "1|Review\n"},
      {"NotesList", "1|Typing a lot\n2|Start\n"},  {"BodyPartsList", "1|Wrist\n"},
      {"DiscomfortsList", "1|Ache\n"},              {"EMSToolsList", "1|Wrist rest\n"}};
  for (const auto& [table, rows] : lists) EXPECT_EQ(Dump(table), rows) << table;

  EXPECT_EQ(summary.usersProcessed, 1001);
  EXPECT_EQ(summary.alertDaysLoaded, 2);
  EXPECT_EQ(summary.activityDaysLoaded, 3);
  const std::map<std::string, int64_t> rows = {
      {"ActivitySystem", 13}, {"ProjectNotes", 2},     {"ApplicationsList", 2}, {"WindowsList", 2},
      {"ProjectsList", 1},    {"ProjectTasksList", 1}, {"NotesList", 2},        {"BodyPartsList", 1},
      {"DiscomfortsList", 1}, {"EMSToolsList", 1},     {"AlertSystem", 4},      {"UserNotes", 1},
      {"EMSSystemUsage", 1}};
  for (const auto& [table, n] : rows) {
    EXPECT_EQ(summary.rowsAdded.count(table) ? summary.rowsAdded.at(table) : -1, n) << table;
  }

  // The job's run log: the start, every user of pass 1, the loaded alert logs.
  ASSERT_GE(status.log.size(), 2u);
  EXPECT_EQ(status.log[0], " ");
  EXPECT_EQ(status.log[1].rfind("Starting Job - ", 0), 0u);
  const auto at = [&](const std::string& line) {
    return std::find(status.log.begin(), status.log.end(), line) - status.log.begin();
  };
  EXPECT_EQ(at("    Loading-1: 02-06-1520*"), at("  Pass 1, User 2:") + 1);
  EXPECT_EQ(at("    Loading-2: 03-02-01032"), at("  Pass 1, User 1001:") + 1);
  EXPECT_EQ(status.log.size(), 2u + 1001u + 2u);
  EXPECT_EQ(status.phases, (std::vector<std::string>{"Loading AlertSystems, Start", "Loading PXTs, Start",
                                                     "Loading error keys, Start", "Done."}));
  EXPECT_EQ(status.UserCaption(), " 100% ");
  EXPECT_FALSE(status.Running());
  EXPECT_FALSE(ctx.Db);

  // A second run finds every day loaded: no row is added and no value changes.
  const auto before = DumpAll();
  const prax::LoadSummary again = prax::RunLoadJob(ctx, 1, 1001);
  EXPECT_EQ(DumpAll(), before);
  EXPECT_EQ(again.alertDaysLoaded, 0);
  EXPECT_EQ(again.activityDaysLoaded, 0);
  for (const auto& [table, n] : again.rowsAdded) EXPECT_EQ(n, 0) << table;
}

TEST_F(LoadJobTest, UserRangesAndProgress) {
  CreateDatabase();
  ctx.UserSlotCount = 200;
  status.SetStatus("Working");
  EXPECT_EQ(prax::RunLoadJob(ctx, 5, 5).usersProcessed, 1);
  EXPECT_EQ(status.UserCaption() + std::to_string(status.UserBar()), " 2% 2");  // 5 / 200, not 100
  EXPECT_EQ(status.loading, (std::vector<std::string>{"Current User:", "Pass 1, User 5:", "Pass 2, User 5:",
                                                      "Pass 3, User 5:"}));
  ASSERT_EQ(status.log.size(), 3u);
  EXPECT_EQ(status.log[2], "  Pass 1, User 5:");
  EXPECT_FALSE(status.Busy());

  ctx.UserSlotCount = 2;  // beyond the slots: the caption passes 100, the bar stops there
  prax::RunLoadJob(ctx, 3, 3);
  EXPECT_EQ(status.UserCaption() + std::to_string(status.UserBar()), " 150% 100");
  ctx.UserSlotCount = 0;
  prax::RunLoadJob(ctx, 3, 3);
  EXPECT_EQ(status.UserCaption() + std::to_string(status.UserBar()), " 0% 0");
  EXPECT_EQ(prax::RunLoadJob(ctx, 1, 0).usersProcessed, 0);

  const std::string net = "N:\\PRAX\\";
  EXPECT_EQ(prax::UserDirPath(net, 1000), "N:\\PRAX\\PX001000.DIR");
  EXPECT_EQ(prax::UserDirPath(net, 1001), "N:\\PRAX\\001000\\PX001001.DIR");
  EXPECT_EQ(prax::UserDirPath(net, 2000), "N:\\PRAX\\002000\\PX002000.DIR");
}

// The History file uses the write-ahead log during a load only when chosen,
// and the rollback journal with nothing beside it after; a file replaced or
// removed under the run ends it naming the file.
TEST_F(LoadJobTest, JournalDuringTheLoadAndAFileReplacedUnderIt) {
  WriteNetwork(dir);
  struct Case {
    const char* journal;
    const char* action;
    bool walDuringLoad;
  };
  const Case cases[] = {{"wal", "", true}, {"delete", "", false}, {"wal", "replace", true}, {"delete", "remove", false}};
  const std::string file = DbFile().string();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.journal) + " " + c.action);
    std::filesystem::remove(DbFile());
    CreateDatabase();
    std::filesystem::copy_file(DbFile(), dir.Path() / "backup.MDB", std::filesystem::copy_options::overwrite_existing);
    bool wal = false;
    status.onLog = [&](std::string_view line) {
      if (line != "  Pass 1, User 3:") return;  // user 2 is committed
      wal = std::filesystem::exists(file + "-wal");
      if (c.action == std::string("replace")) std::filesystem::rename(dir.Path() / "backup.MDB", DbFile());
      if (c.action == std::string("remove")) std::filesystem::remove(DbFile());
    };
    ::setenv("PRAX_JOURNAL", c.journal, 1);
    std::string failure;
    try {
      prax::RunLoadJob(ctx, 1, 1001);
    } catch (const prax::Error& e) {
      failure = e.what();
    }
    ::unsetenv("PRAX_JOURNAL");
    status.onLog = nullptr;
    EXPECT_EQ(wal, c.walDuringLoad);
    EXPECT_EQ(failure.find("PRAXDATA.MDB' was removed or replaced") != std::string::npos, *c.action != 0) << failure;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) EXPECT_FALSE(std::filesystem::exists(file + suffix));
    if (std::filesystem::exists(DbFile())) {
      EXPECT_EQ(praxtest::Sqlite3(DbFile(), "PRAGMA journal_mode;"), "delete\n");
    }
  }
}

TEST_F(LoadJobTest, MissingDatabaseStopsBeforeAnythingIsWritten) {
  WriteNetwork(dir);
  ctx.UserSlotCount = 1001;
  try {
    prax::RunLoadJob(ctx, 1, 1001);
    FAIL() << "no error";
  } catch (const prax::Error& e) {
    EXPECT_NE(std::string(e.what()).find("PRAXDATA.MDB"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(DbFile()));
  EXPECT_TRUE(status.phases.empty());
  EXPECT_TRUE(status.log.empty());
}

TEST_F(LoadJobTest, LoaderFailureEndsTheJobNamingTheUser) {
  // 32768 restarts do not fit the Restarts column: the day row is refused.
  std::string log;
  for (int i = 0; i < 32768; ++i) log += "STARTED\r\n";
  dir.Write("PX000007.DIR/20020615.PXL", log);
  dir.Write("PX000002.DIR/20020615.PXT", "001 0910 1 8,3\r\n");
  CreateDatabase();
  ctx.UserSlotCount = 10;
  try {
    prax::RunLoadJob(ctx, 1, 10);
    FAIL() << "no error";
  } catch (const prax::Error& e) {
    EXPECT_NE(std::string(e.what()).find("user 7"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("20020615.PXL"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(status.Running());
  EXPECT_EQ(status.phases, std::vector<std::string>{"Loading AlertSystems, Start"});
  ctx.Db.reset();
  EXPECT_EQ(Dump("AlertSystem") + Dump("ActivitySystem"), "");
}

TEST_F(LoadJobTest, OtherWritersNeverCostRowsOrIds) {
  WriteNetwork(dir);
  CreateDatabase();
  ctx.UserSlotCount = 1001;
  {
    // An uninterrupted load, for comparison.
    praxtest::TempDir plain;
    WriteNetwork(plain);
    prax::RunContext other;
    RecordingStatus quiet;
    other.NetworkDir = plain.Text();
    other.status = &quiet;
    prax::CreateHistoryDatabase(other);
    prax::RunLoadJob(other, 1, 1001);
    ctx.NetworkDir = plain.Text();
    const auto expected = DumpAll();
    ctx.NetworkDir = dir.Text();

    // A program holds the write lock from user 1001 of pass 1 on, past the
    // wait: the job ends naming the file, and that day is not stored.
    OtherProgram holder(DbFile());
    status.onLoading = [&](const std::string& at) {
      if (at == "Pass 1, User 1001:") {
        ASSERT_EQ(holder.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
      }
    };
    try {
      prax::RunLoadJob(ctx, 1, 1001);
      FAIL() << "no error";
    } catch (const prax::Error& e) {
      EXPECT_TRUE(e.Environment());
      EXPECT_NE(std::string(e.what()).find("PRAXDATA.MDB"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("user 1001"), std::string::npos) << e.what();
    }
    holder.Exec("ROLLBACK");
    ctx.Db.reset();
    EXPECT_EQ(praxtest::Sqlite3(DbFile(), "SELECT COUNT(*) FROM AlertSystem WHERE User_Num = 1001;"), "0\n");
    status.onLoading = nullptr;
    prax::RunLoadJob(ctx, 1, 1001);
    EXPECT_EQ(DumpAll(), expected);
  }

  // Another program adds to the notes list between two users of pass 2 (and
  // takes the id the job would give next): the job's next note gets a new id.
  praxtest::TempDir fresh;
  WriteNetwork(fresh);
  ctx.NetworkDir = fresh.Text();
  CreateDatabase();
  OtherProgram writer(fresh.Path() / "PRAXDATA.MDB");
  status.onLoading = [&](const std::string& at) {
    if (at == "Pass 2, User 3:") {
      ASSERT_EQ(writer.Exec("INSERT INTO NotesList VALUES (2, 'External note')"), SQLITE_OK);
    }
  };
  prax::RunLoadJob(ctx, 1, 1001);
  EXPECT_EQ(Dump("NotesList"), "1|Typing a lot\n2|External note\n3|Start\n");
  EXPECT_EQ(praxtest::Sqlite3(DbFile(), "SELECT Note_Id FROM ProjectNotes WHERE User_Num = 3;"), "3\n");
}

TEST_F(LoadJobTest, TodaysLogsAreLeftForALaterRun) {
  WriteNetwork(dir);
  CreateDatabase();
  ctx.UserSlotCount = 1001;
  ctx.Today = [] { return 20020616; };  // user 3's day and user 1001's (later) are not over
  const prax::LoadSummary first = prax::RunLoadJob(ctx, 1, 1001);
  EXPECT_EQ(first.alertDaysLoaded + first.activityDaysLoaded, 2);
  const std::string user3 = dir.Text() + "PX000003.DIR\\20020616.PXT";
  EXPECT_EQ(status.passedOver.size(), 3u);
  EXPECT_NE(std::find(status.passedOver.begin(), status.passedOver.end(),
                      "    " + user3 + ": left for a later run: today's log"),
            status.passedOver.end());

  ctx.IncludeToday = true;  // a run after close of business
  const prax::LoadSummary later = prax::RunLoadJob(ctx, 1, 1001);
  EXPECT_EQ(later.alertDaysLoaded + later.activityDaysLoaded, 3);
  EXPECT_EQ(status.passedOver.size(), 3u);
}

}  // namespace

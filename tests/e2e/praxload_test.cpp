// praxgen and praxload as a scheduler runs them, while report readers poll the
// History file and a second administrator tries a run.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/fs.h"
#include "support/programs.h"

namespace {

namespace stdfs = std::filesystem;
using praxtest::Has;
using praxtest::Network;
using praxtest::Result;
using praxtest::Slurp;

TEST(E2e, FreshRunLoadsEveryTableAndLaterRunsOnlyNewDays) {
  const Network n;
  const Result r = n.Praxload({"--fresh", "--yes", "--master"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Status: Creating new database.\n") &&
              Has(r.out, "History database: " + praxtest::Shown(n.History()) + "\n")) << r.out;
  // The program folder's files, as praxgen wrote them and praxload read them, hold the system's own separators.
  for (const char* file : {"INIPATH.TXT", "PXNET.INI"})
    EXPECT_EQ(Slurp(n.Prog() / file).find(stdfs::path::preferred_separator == '/' ? '\\' : '/'), std::string::npos);
  EXPECT_TRUE(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1)
                  .starts_with("praxload: 6 users processed; days loaded: 15 alert, 15 activity; rows added:"))
      << r.out;
  EXPECT_TRUE(Has(r.out, "\nRun started 20") && Has(r.out, " rows added; 0 lines rejected\n")) << r.out;

  for (std::size_t i = 4; i < 12; ++i)  // the lookup lists
    EXPECT_GT(n.Count("SELECT COUNT(*) FROM " + praxtest::kHistoryTables[i] + ";"), 0) << praxtest::kHistoryTables[i];
  // Five users with logs over three days: one day-total AlertSystem row each,
  // whose keystrokes are those of the hours.
  EXPECT_EQ(n.Count("SELECT COUNT(*) FROM AlertSystem WHERE Data_Hour = '00';"), 15);
  EXPECT_EQ(n.Count("SELECT COUNT(*) FROM (SELECT DISTINCT User_Num, Data_Date FROM ActivitySystem);"), 15);
  EXPECT_EQ(n.Count("SELECT SUM(Keystrokes) FROM AlertSystem WHERE Data_Hour = '00';"),
            n.Count("SELECT SUM(Keystrokes) FROM AlertSystem WHERE Data_Hour <> '00';"));
  EXPECT_GT(n.Count("SELECT COUNT(*) FROM AlertSystem WHERE Error_Keys > 0;"), 0);
  EXPECT_EQ(praxtest::Sqlite3(n.Net() / "MASTER.MDB", "SELECT COUNT(*) FROM Users WHERE Location_Id > 0;"), "5\n");
  for (const stdfs::path& dir : {n.Net(), n.Prog()})
    EXPECT_TRUE(Slurp(dir / "UPDATED.DAT").starts_with("\"        DB Updated Last: ")) << dir;
  EXPECT_FALSE(stdfs::exists(n.Prog() / "PXSERVER.SET") || stdfs::exists(n.Prog() / "Restore.KTR"));

  const std::string before = n.Dump();
  EXPECT_TRUE(Has(n.Praxload({}).out, "days loaded: 0 alert, 0 activity"));
  EXPECT_EQ(n.Dump(), before);
  n.AppendDay();
  const Result third = n.Praxload({"--quiet"});
  EXPECT_FALSE(Has(third.out, "Status:")) << third.out;
  EXPECT_TRUE(Has(third.out, "days loaded: 5 alert, 5 activity")) << third.out;
  EXPECT_EQ(n.Count("SELECT COUNT(*) FROM AlertSystem WHERE Data_Hour = '00';"), 20);
}

TEST(E2e, FilesPassedOverReachStandardErrorTheSummaryAndTheRunLog) {
  PRAX_SKIP_ON_WINDOWS("FIFOs and symbolic-link creation (Wine 8)");
#ifndef _WIN32
  const Network n;
  // A log of today (by this machine's clock), still being written; a file far too large to be a log (sparse: it costs
  // no disk); a name no log has; a FIFO in place of a user folder (named once over both passes); a log of a client
  // whose clock ran ahead (loaded, named, not counted).
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
  const std::string sample = "001 0905 10 0 1 x 4 0 1 x x x end\r\n";
  std::ofstream(n.Net() / "PX000001.DIR" / (std::string(today) + ".PXL")) << sample;
  std::ofstream(n.Net() / "PX000001.DIR" / "20700105.PXL") << sample;
  std::ofstream(n.Net() / "PX000001.DIR" / "PRAX400.PXT") << sample;
  std::ofstream(n.Net() / "PX000002.DIR" / "20260102.PXT") << "x";
  stdfs::resize_file(n.Net() / "PX000002.DIR" / "20260102.PXT", 65ull << 20);
  stdfs::remove_all(n.Net() / "PX000004.DIR");
  ASSERT_EQ(::mkfifo((n.Net() / "PX000004.DIR").c_str(), 0600), 0);
  // A linked log whose name would forge a run-log line and clear the screen.
  stdfs::create_symlink("/nowhere", n.Net() / "PX000005.DIR" / "a\r\nDatabase Updated. 0 files skipped\x1b[2J.PXL");

  // ApplicationsList one id short of full: one new name gets the last id.
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--only-create"}).exitCode, 0);
  praxtest::Sqlite3(n.History(), "INSERT INTO ApplicationsList VALUES (32766, 'Filler');");
  const Result r = n.Praxload({"--full", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto times = [&](const std::string& part) {
    long k = 0;
    for (auto i = r.err.find(part); i != std::string::npos; i = r.err.find(part, i + 1)) ++k;
    return k;
  };
  const std::string todayLine = std::string(today) + ".PXL: left for a later run: today's log";
  for (const std::string& s : {todayLine + "\n", std::string("PX000004.DIR' not read: it is a FIFO"), std::string("Activity log not read: "),
                              std::string("20260102.PXT (File too large to be a log"), std::string("PRAX400.PXT' not read"),
                              std::string("20700105.PXL: dated in the future, 05/01/2070: loaded"),
                              std::string("ApplicationsList is full (it holds id 32767"),
                              std::string("a\\r\\nDatabase Updated. 0 files skipped\\x1b[2J.PXL' not read")})
    EXPECT_EQ(times(s), 1) << s << "\n" << r.err;
  const std::size_t at = r.out.find("ApplicationsList full: ");
  ASSERT_NE(at, std::string::npos) << r.out;
  const long names = std::stol(r.out.substr(at + 23));
  EXPECT_GT(names, 0);
  EXPECT_TRUE(Has(r.out, "days loaded: 13 alert, 12 activity;") && Has(r.out, "; 5 files skipped; ")) << r.out;
  EXPECT_TRUE(Has(r.err, "ApplicationsList is full: " + std::to_string(names) + " names got no id")) << r.err;
  // The rows keep the id looked up before: the list holds the last id only.
  EXPECT_EQ(praxtest::Sqlite3(n.History(), "SELECT App_Id FROM ApplicationsList ORDER BY 1;"), "32766\n32767\n");
  EXPECT_EQ(n.Count("SELECT COUNT(*) FROM ActivitySystem WHERE App_Id NOT IN (-1, 32767);"), 0);
  const std::string kept = Slurp(n.Prog() / "PRAXLOAD.LOG");
  EXPECT_TRUE(Has(kept, todayLine + "\r\n") && Has(kept, "Database Updated. 5 files skipped; ApplicationsList full: ")) << kept;
  // One line per event, each of the run log dated; no raw control character.
  EXPECT_EQ(r.err.find_first_of("\r\x1b"), std::string::npos) << r.err;
  EXPECT_EQ(kept.find('\x1b'), std::string::npos) << kept;
  std::istringstream lines(kept);
  for (std::string line; std::getline(lines, line);) EXPECT_TRUE(std::isdigit(line[0])) << line;
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '\r'), std::count(kept.begin(), kept.end(), '\n')) << kept;

  const Result late = n.Praxload({"--include-today", "--quiet"});
  EXPECT_TRUE(Has(late.out, "days loaded: 1 alert,")) << late.out;
  EXPECT_FALSE(Has(late.err, "today's log")) << late.err;
#endif
}

// Every file of the network directory and the program folder: its bytes and modification time.
std::map<std::string, std::pair<std::string, stdfs::file_time_type>> Snapshot(const Network& n) {
  std::map<std::string, std::pair<std::string, stdfs::file_time_type>> files;
  for (const stdfs::path& root : {n.Net(), n.Prog()})
    for (const auto& e : stdfs::recursive_directory_iterator(root))
      if (e.is_regular_file()) files[e.path().string()] = {Slurp(e.path()), e.last_write_time()};
  return files;
}

TEST(E2e, DryRunListsWhatTheRunThenLoadsAndWritesNothing) {
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--master"}).exitCode, 0);
  n.AppendDay();
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
  std::ofstream(n.Net() / "PX000002.DIR" / (std::string(today) + ".PXL")) << "001 0905 10 0 1 x 4 0 1 x x x end\r\n";
  const auto before = Snapshot(n);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a write would show in the times
  const Result dry = n.Praxload({"--dry-run"});
  EXPECT_EQ(dry.exitCode, 0) << dry.out << dry.err;
  EXPECT_TRUE(Has(dry.out, "User 2: 1 alert day, 1 activity day\n") &&
              Has(dry.out, "Total: 6 users; days a run would load: 5 alert, 5 activity\n")) << dry.out;
  EXPECT_TRUE(Has(dry.err, std::string(today) + ".PXL: left for a later run")) << dry.err;
  EXPECT_TRUE(Snapshot(n) == before);
  EXPECT_TRUE(Has(n.Praxload({}).out, "days loaded: 5 alert, 5 activity")) << "the run loads what was listed";
  EXPECT_TRUE(Has(n.Praxload({"--dry-run", "--range", "1", "3"}).out, "Total: 3 users; days a run would load: 0 alert"));
  for (const char* option : {"--fresh", "--only-create", "--copy-history-to-server"}) {
    const Result r = n.Praxload({"--dry-run", option});
    EXPECT_EQ(r.exitCode, 2) << option;
    EXPECT_TRUE(Has(r.err, option) && Has(r.err, "--dry-run")) << r.err;
  }
}

TEST(E2e, DryRunSeesADayCommittedInTheLogOfAProgramHoldingTheFileInWalModeAndWritesNothing) {
  PRAX_SKIP_ON_WINDOWS("the sqlite3 program's .shell sleep");
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  n.AppendDay();  // 2026-01-08, whose alert day of user 1 the other program stores in its log only
  const stdfs::path input = n.Root() / "hold.sql", wal = n.History().string() + "-wal";
  std::ofstream(input) << "PRAGMA journal_mode=wal;\nPRAGMA wal_autocheckpoint=0;\nINSERT INTO AlertSystem "
                          "(User_Num, Data_Date, Data_Hour) VALUES (1, 20260108, '00');\n.shell touch '" << (n.Root() / "held").string() << "'\n.shell sleep 120\n";
  const praxtest::Pid holder = praxtest::StartSqlite3(n.History(), input, n.Root());
  for (int i = 0; i < 1000 && !stdfs::exists(n.Root() / "held"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(stdfs::exists(wal));
  const auto before = Snapshot(n);
  const Result dry = n.Praxload({"--dry-run"});
  EXPECT_TRUE(Has(dry.out, "User 1: 0 alert days, 1 activity day\n")) << dry.out << dry.err;
  EXPECT_TRUE(Snapshot(n) == before);
  praxtest::Kill(holder);
  praxtest::Wait(holder, n.Root(), "sqlite3");
}

TEST(E2e, OnlyCreateThenNoOptionsRepeatTheSavedChoices) {
  const Network n;
  // The window last closed with the range 2 to 2 and the import ticked.
  const std::string saved = "2\r\n1\r\n\"2\",\"2\"\r\n1\r\n1\r\n";
  std::ofstream(n.Prog() / "PXSERVER.SET", std::ios::binary) << saved;
  // Only Create reads no roster: a damaged MASTER.MDB stays as it is.
  const std::string roster = Slurp(n.Net() / "MASTER.MDB"),
                    damaged = roster.substr(0, 4096) + std::string(4096, '\xff') + roster.substr(8192);
  std::ofstream(n.Net() / "MASTER.MDB", std::ios::binary) << damaged;
  const Result created = n.Praxload({"--fresh", "--yes", "--only-create"});
  ASSERT_EQ(created.exitCode, 0) << created.out << created.err;
  EXPECT_TRUE(Has(created.out, "Status: Database Created.\n")) << created.out;
  EXPECT_EQ(Slurp(n.Net() / "MASTER.MDB"), damaged);
  std::ofstream(n.Net() / "MASTER.MDB", std::ios::binary) << roster;
  for (const std::string& t : praxtest::kHistoryTables) EXPECT_EQ(n.Count("SELECT COUNT(*) FROM " + t + ";"), 0) << t;
  EXPECT_FALSE(stdfs::exists(n.Net() / "UPDATED.DAT") || stdfs::exists(n.Prog() / "UPDATED.DAT"));

  const Result r = n.Praxload({});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Status: Updating Master database.\n")) << r.out;
  EXPECT_EQ(praxtest::Sqlite3(n.History(), "SELECT DISTINCT User_Num FROM AlertSystem;"), "2\n");
  // Options win over the saved choices, which stay as they were.
  ASSERT_EQ(n.Praxload({"--full", "--no-master"}).exitCode, 0);
  EXPECT_EQ(praxtest::Sqlite3(n.History(), "SELECT DISTINCT User_Num FROM AlertSystem ORDER BY 1;"),
            "1\n2\n4\n5\n6\n");
  EXPECT_EQ(Slurp(n.Prog() / "PXSERVER.SET"), saved);
}

TEST(E2e, RefusalsChangeNothing) {
  const Network n;
  const struct { std::vector<std::string> options; int exitCode; const char* stderrText; } cases[] = {
      {{"--range", "0", "5"}, 2, "You have selected a starting record number of less than 1.  Please change the "
                                 "starting record number and try again."},
      {{"--fresh"}, 2, "needs confirmation"},
      {{"--master", "--no-master"}, 2, "excludes"},
      {{"--full", "--networks"}, 2, "excludes"},
      {{"--range", "1"}, 2, "--range"},
      {{"--bogus"}, 2, "bogus"},
      {{"--full"}, 1, "Error "},  // an update without a History database names it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options[0] + " " + c.options.back());
    const Result r = n.Praxload(c.options);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, c.stderrText)) << r.err;
    EXPECT_TRUE(c.exitCode != 1 || (r.err.starts_with("Error ") && Has(r.err, "PRAXDATA.MDB"))) << r.err;
    for (const stdfs::path& p : {n.History(), n.Net() / "UPDATED.DAT", n.Prog() / "UPDATED.DAT"})
      EXPECT_FALSE(stdfs::exists(p)) << p;
  }
}

// A reader polling PRAXDATA.MDB while praxload writes it sees only whole days and never holds the run up; a second
// praxload on the same network is refused at once, naming the holder of the lock.
TEST(E2e, ReadersSeeWholeDaysAndASecondLoaderIsRefused) {
  const Network n({"--users", "30", "--days", "12", "--seed", "5"});
  // Rows per table, user and day, as one read transaction sees them.
  auto readDays = [&] {
    std::map<std::string, std::string> days;
    for (const std::string& row :
         praxtest::Query(n.History(), "SELECT 'A', User_Num, Data_Date, count(*) FROM AlertSystem GROUP BY 2, 3 "
                                      "UNION ALL SELECT 'T', User_Num, Data_Date, count(*) FROM ActivitySystem "
                                      "GROUP BY 2, 3"))
      days[row.substr(0, row.rfind('|'))] = row.substr(row.rfind('|'));
    return days;
  };
  const praxtest::Pid first = praxtest::Start(n.PraxloadArgs({"--fresh", "--yes", "--quiet"}), n.Root(), {}, "1");
  const long firstId = praxtest::ProcessId(first);
  std::vector<std::map<std::string, std::string>> seen;
  Result second{-2, 0, "", ""};
  for (bool ended = false; !ended; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    ended = praxtest::Ended(first);
    if (!stdfs::exists(n.History()) || (seen.push_back(readDays()), seen.back().empty())) continue;
    if (second.exitCode == -2 && !ended)  // rows are in: send a second loader in
      second = praxtest::Run(n.PraxloadArgs({"--quiet"}), n.Root());
  }
  const Result r = praxtest::Wait(first, n.Root(), "1");
  ASSERT_EQ(r.exitCode, 0) << r.err;

  ASSERT_NE(second.exitCode, -2) << "the load ended before a second loader could be started";
  EXPECT_EQ(second.exitCode, 2) << second.err;
  EXPECT_TRUE(Has(second.err, "PRAXSERVER.LCK") && Has(second.err, "process " + std::to_string(firstId))) << second.err;
  const auto final = readDays();
  ASSERT_GE(std::ranges::count_if(seen, [](const auto& s) { return !s.empty(); }), 3) << "the reader saw too little";
  long partial = 0;
  for (const auto& snapshot : seen)
    for (const auto& [day, rows] : snapshot) partial += final.at(day) != rows;
  EXPECT_EQ(partial, 0) << "days seen half-written by a reader";
}

// A console keeping a read open on the roster past the busy wait: the import ends naming the roster as held, not
// UserDefs.Prn as wrong, and claims no stored record.
TEST(E2e, ARosterHeldByAConsoleEndsTheImportSayingSo) {
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--no-master"}).exitCode, 0);  // the roster upgraded, not imported
  const praxtest::Db reader(n.Net() / "MASTER.MDB");
  reader.Query("BEGIN"), reader.Query("SELECT count(*) FROM Users");
  const Result r = n.Praxload({"--master"});
  reader.Query("COMMIT");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_TRUE(Has(r.err, "held by another program") && Has(r.err, "no record was stored") &&
              !Has(r.err, "Correct UserDefs.Prn")) << r.err;
  EXPECT_EQ(praxtest::Sqlite3(n.Net() / "MASTER.MDB", "SELECT COUNT(*) FROM Users WHERE Location_Id > 0;"), "0\n");
}

}  // namespace

// Damaged, foreign, read-only and full databases, databases left at rest, names carrying SQL.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "support/programs.h"

namespace {

namespace stdfs = std::filesystem;
using praxtest::Has;
using praxtest::Network;
using praxtest::Result;
using praxtest::Slurp;

void WriteBytes(const stdfs::path& p, const std::string& bytes, bool append = false) {
  std::ofstream(p, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
}
void ExpectSays(const std::string& text, const std::vector<std::string>& parts) {
  for (const std::string& s : parts) EXPECT_TRUE(Has(text, s)) << s << "\n" << text;
}

TEST(BrokenDatabases, AreRefusedBeforeAnythingWritesToThem) {
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--master"}).exitCode, 0);
  const std::string history = Slurp(n.History());
  std::string access(4096, '\0');  // an Access file of an earlier installation
  access[1] = '\x01';
  access.replace(4, 15, "Standard Jet DB");
  std::string random(4096, '\0');
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>(i * 2654435761u >> 13);

  const struct { const char* file; std::string bytes; std::vector<std::string> says; } cases[] = {
      {"PRAXDATA.MDB", history.substr(0, history.size() / 2),
       {"shorter than its own header", "restore it from a backup", "praxload --fresh"}},
      {"MASTER.MDB", random, {"not a database of this program", "restore it from a backup"}},
      {"PRAXDATA.MDB", access, {"Access database from an earlier installation", "move it out", "praxload --fresh"}},
      {"MASTER.MDB", access, {"Access database from an earlier installation", "restore it from a backup"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.says[0]);
    const stdfs::path file = n.Net() / c.file;
    const std::string good = Slurp(file);
    WriteBytes(file, c.bytes);
    stdfs::remove(n.Net() / "UPDATED.DAT");
    const Result r = n.Praxload({"--master"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(r.err.starts_with("Error 3343: ")) << r.err;
    ExpectSays(r.err, c.says);
    EXPECT_TRUE(Has(r.err, praxtest::Shown(file))) << r.err;
    EXPECT_EQ(Slurp(file), c.bytes);
    for (const char* suffix : {"-wal", "-shm", "-journal"}) EXPECT_FALSE(stdfs::exists(file.string() + suffix));
    EXPECT_FALSE(stdfs::exists(n.Net() / "UPDATED.DAT"));
    WriteBytes(file, good);
  }
}

// A journal or log beside a database that no command of ours left there, built from a copy of the database with rows
// changed, is refused before anything is written: the database keeps its bytes.
TEST(BrokenDatabases, APlantedJournalOrLogIsRefusedAndTheFileKeepsItsRows) {
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--master"}).exitCode, 0);
  n.AppendDay();
  const stdfs::path copy = n.Root() / "copy.MDB";
  const struct { const char* file; std::string change, next; } cases[] = {  // next: a change in the transaction
      {"PRAXDATA.MDB", "UPDATE AlertSystem SET Keystrokes = 7 WHERE User_Num = 2", "DELETE FROM AlertSystem"},
      {"MASTER.MDB", "UPDATE Users SET Last_Name = 'Unassigned'", "DELETE FROM Users"},
  };
  for (const auto& c : cases)
    for (const std::string suffix : {"-journal", "-wal"}) {
      SCOPED_TRACE(c.file + suffix);
      const stdfs::path file = n.Net() / c.file, planted = file.string() + suffix;
      const std::string bytes = Slurp(file);
      stdfs::remove(copy), stdfs::copy_file(file, copy);  // overwrite_existing fails in MinGW's library
      {  // The journal of a transaction on the changed copy holds the changed rows; so does its log.
        const praxtest::Db changed(copy, true);
        const std::vector<std::string> steps = suffix == "-wal"
            ? std::vector<std::string>{"PRAGMA journal_mode = WAL", c.change}
            : std::vector<std::string>{"PRAGMA synchronous = OFF", c.change, "BEGIN", c.next};
        for (const std::string& sql : steps) changed.Query(sql);
        stdfs::copy_file(copy.string() + suffix, planted);
      }
      const Result r = n.Praxload({"--master"}, {.timeoutSeconds = 30});
      EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
      ExpectSays(r.err, {praxtest::Shown(planted) + "' beside the database", "move the journal file out of the folder"});
      stdfs::remove(planted);
      EXPECT_EQ(Slurp(file), bytes);
    }
}

// Run as the unprivileged account: permissions count even for root (Wine runs as one already).
TEST(BrokenDatabases, ReadOnlyPlacesRefuseAndARunAfterTheFixCompletes) {
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  using P = stdfs::perms;
  stdfs::permissions(n.Root(), P::owner_all | P::group_read | P::group_exec | P::others_read | P::others_exec);
  const auto ro = P::owner_read | P::owner_exec | P::others_read | P::others_exec;
  auto netWritable = [&] { stdfs::permissions(n.Net(), P::owner_write, stdfs::perm_options::add); };
  const struct { const char* what; std::function<void()> breakIt, fixIt; int exitCode; std::vector<std::string> says; }
      cases[] = {
      {"read-only PRAXDATA.MDB", [&] { stdfs::permissions(n.History(), P::owner_read); },
       [&] { stdfs::permissions(n.History(), P::owner_read | P::owner_write); }, 1,
       {"PRAXDATA.MDB", "Make the file and its folder writable"}},
      {"read-only network directory", [&] { stdfs::permissions(n.Net(), ro); }, netWritable, 2,
       {std::string("'") + praxtest::Shown(n.Net() / "") + "' is not writable", "Make the folder writable"}},
      {"read-only network directory without a lock file",
       [&] { stdfs::remove(n.Net() / "PRAXSERVER.LCK"), stdfs::permissions(n.Net(), ro); },
       netWritable, 2, {"PRAXSERVER.LCK", "Make the folder writable"}},
  };
  for (const auto& c : cases) {
    if (praxtest::kWindows && Has(c.what, "directory")) continue;  // Windows has no read-only folder
    SCOPED_TRACE(c.what);
    n.AppendDay();
    n.GiveToNobody();
    c.breakIt();
    const std::string before = Slurp(n.History());
    const Result r = n.Praxload({}, {.asUid = praxtest::kNobody, .asGid = praxtest::kNobody});
    if (r.exitCode == praxtest::kCannotDrop) GTEST_SKIP() << "cannot switch to uid 65534 here";
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    ExpectSays(r.err, c.says);
    EXPECT_EQ(Slurp(n.History()), before);
    c.fixIt();
    const Result again = n.Praxload({"--quiet"}, {.asUid = praxtest::kNobody, .asGid = praxtest::kNobody});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(Has(again.out, "days loaded: 5 alert, 5 activity")) << again.out;
  }
}

// A full disk, as a file-size limit: the days committed before the failure
// stay, and a run after the limit is lifted ends as an uninterrupted load.
TEST(BrokenDatabases, FullDiskKeepsTheCommittedDaysAndARerunCompletesTheLoad) {
  PRAX_SKIP_ON_WINDOWS("file-size limits (RLIMIT_FSIZE) to play a full disk");
  auto loadWithTwoNewDays = [](const Network& n) {
    ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
    n.AppendDay();
    n.AppendDay();
  };
  const Network reference;
  loadWithTwoNewDays(reference);
  ASSERT_EQ(reference.Praxload({}).exitCode, 0);
  for (const std::uint64_t limit : {100 * 1024, 400 * 1024}) {  // fails in pass 1, in pass 2
    SCOPED_TRACE(limit);
    const Network n;
    loadWithTwoNewDays(n);
    const Result r = n.Praxload({}, {.maxFileBytes = limit});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(r.err.starts_with("Error 3026: ")) << r.err;
    ExpectSays(r.err, {praxtest::Shown(n.History()), "Not enough space on disk", "Free disk space",
                       "the days stored before are kept"});
    EXPECT_EQ(praxtest::Sqlite3(n.History(), "PRAGMA integrity_check;"), "ok\n");
    EXPECT_GE(n.Count("SELECT COUNT(*) FROM (SELECT DISTINCT User_Num, Data_Date FROM AlertSystem);"), 15);
    const Result again = n.Praxload({"--quiet"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(n.Dump(), reference.Dump());
  }
}

// Journal files below a folder, and databases whose header does not mark the
// rollback journal (bytes 18 and 19 are 2 in WAL mode).
std::vector<std::string> NotAtRest(const stdfs::path& dir) {
  std::vector<std::string> found;
  for (const auto& e : stdfs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    for (const std::string suffix : {"-wal", "-shm", "-journal"})
      if (name.ends_with(suffix)) found.push_back(name);
    std::string ext = e.path().extension().string();
    for (char& ch : ext) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (ext != ".MDB" && ext != ".GRP") continue;
    const std::string header = Slurp(e.path()).substr(0, 20);
    if (header.size() < 20 || header[18] != 1 || header[19] != 1) found.push_back(name + " not in rollback mode");
  }
  return found;
}

// Whatever a command does (finishes, is refused, merges), the databases it leaves use the rollback journal with no
// journal file beside them; files it only reads keep their bytes and modification time.
TEST(AtRest, EveryCommandLeavesPlainFilesAndOnlyReadFilesUntouched) {
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--master"}).exitCode, 0);
  // Two networks to merge. A console holds the first one's roster open in WAL mode with a committed table still only
  // in its log (the merge keeps the first roster's tables other than Users).
  const Network na, nb;
  const stdfs::path a = na.Net(), b = nb.Net(), master = n.Net() / "MASTER.MDB";
  WriteBytes(n.Net() / "Networks.Lst", std::string("\"") + a.generic_string() + "/\",\"A\",\"GroupA\"\r\n\"" + b.generic_string() +
                                           "/\",\"B\",\"GroupB\"\r\n");
  const praxtest::Db console(a / "MASTER.MDB", true);
  for (const char* sql : {"PRAGMA journal_mode = WAL", "CREATE TABLE Annex (Name TEXT)", "INSERT INTO Annex VALUES (1)"})
    console.Query(sql);
  ASSERT_GT(stdfs::file_size(a / "MASTER.MDB-wal"), 0u);

  // The journal forced for the load; rosterInWal: as an older version left
  // it, read as it is and set back by the next writer.
  const struct { const char* journal; std::vector<std::string> args; int exitCode; std::vector<stdfs::path> onlyRead;
                 bool rosterInWal = false; } cases[] = {
      {"wal", {"--full"}, 0, {master}},
      {"wal", {"--range", "0", "5"}, 2, {master, n.History()}, true},
      {"delete", {"--range", "1", "3"}, 0, {}, true},
      {"wal", {"--networks", "--fresh", "--yes"}, 0, {a / "MASTER.MDB", b / "MASTER.MDB"}},
  };
  auto state = [](const stdfs::path& p) { return std::pair{Slurp(p), stdfs::last_write_time(p)}; };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.journal) + " " + c.args[0]);
    if (c.rosterInWal) praxtest::Sqlite3(master, "PRAGMA journal_mode = WAL;");
    std::vector<decltype(state(master))> before;
    for (const auto& f : c.onlyRead) before.push_back(state(f));
    praxtest::SetEnv("PRAX_JOURNAL", c.journal);
    const Result r = n.Praxload(c.args);
    praxtest::SetEnv("PRAX_JOURNAL", "");
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(state(c.onlyRead[i]) == before[i]) << c.onlyRead[i];
    const bool untouchedWal = c.rosterInWal && c.exitCode == 2;
    EXPECT_EQ(NotAtRest(n.Net()),
              untouchedWal ? std::vector<std::string>{"MASTER.MDB not in rollback mode"} : std::vector<std::string>{});
    EXPECT_EQ(NotAtRest(b), std::vector<std::string>{});
  }
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT Name FROM Annex;"), "1\n");
}

// Names from logs that carry SQL: only their own lookup
// fails, nothing of them is stored, and no table is changed otherwise.
TEST(SqlNames, ANameCarryingSqlFailsOnlyItsOwnLookup) {
  const Network plain, named;
  // Every kind of looked-up name in user 2's logs of 2026-01-06: tools, discomforts and body parts, notes, windows
  // and applications, projects and tasks.
  std::string alert, activity;
  int minute = 0;
  for (const std::string name : {"O'Brien's tool", "' OR '1'='1", "x'; DROP TABLE ApplicationsList; --",
                                 "x'; DROP TABLE AppNames; --", "Desk'); DELETE FROM EMSToolsList WHERE ('1'='1"}) {
    alert += "User Action: " + name + "*260106 18\r\nUser Entry: " + name + "-- " + name + "\r\nUser Notes: " + name +
             "\r\n";
    activity += "User Project: " + name + " (" + name + ")\r\nUser Notes: " + name + "\r\n" +
                std::to_string(390 + minute) + " 18" + std::to_string(10 + minute) + " \"" + name +
                " - Notepad\",\"" + name + "\" 5 65,5\r\n";
    ++minute;
  }
  WriteBytes(named.Net() / "PX000002.DIR" / "20260106.PXL", alert, true);
  WriteBytes(named.Net() / "PX000002.DIR" / "20260106.PXT", activity, true);
  for (const Network* n : {&plain, &named})  // the roster upgraded, its import left for below
    EXPECT_TRUE(Has(n->Praxload({"--fresh", "--yes", "--quiet", "--no-master"}).out, "days loaded: 15 alert, 15 activity"));
  // No list holds any of the names or lost a row; the rest of the day and
  // every other day are loaded as without the names.
  std::vector<std::string> same = {"SELECT * FROM AlertSystem;", "SELECT * FROM ActivitySystem WHERE User_Num <> 2;",
                                   "SELECT COUNT(*) FROM ActivitySystem WHERE User_Num = 2 AND Data_Date = 20260105;"};
  for (std::size_t i = 4; i < 12; ++i) same.push_back("SELECT * FROM " + praxtest::kHistoryTables[i] + ";");
  for (const std::string& sql : same)
    EXPECT_EQ(praxtest::Sqlite3(named.History(), sql), praxtest::Sqlite3(plain.History(), sql)) << sql;
  EXPECT_GT(named.Count("SELECT COUNT(*) FROM ActivitySystem WHERE User_Num = 2 AND Data_Date = 20260106;"), 0);

}

}  // namespace

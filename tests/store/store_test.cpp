// Opening and creating database files, the rule every stored value is held to, and the typed stores over files of
// ours and of others: list ids, appends, tables found whatever their letter case, rows counted once committed.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <optional>

#include "store/sqlite_file.h"
#include "store/history_store.h"
#include "store/roster_store.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace {

using namespace prax::store;
using prax::db::SqliteFile;
using praxtest::Has;
using praxtest::Raised;
using prax::ErrorKind;
namespace err = prax::err;


// Files not ours are refused, named; so are a locked file (after the busy wait) and a read-only one (whose
// permissions do not hold for the superuser).
TEST(OpenDatabase, RefusesWhatIsNotOurDatabaseOrCannotBeOpened) {
  praxtest::TempDir dir;
  std::string jet(2048, '\0'), random;
  jet.replace(4, 15, "Standard Jet DB");
  for (int i = 0; i < 4096; ++i) random += static_cast<char>((i * 7919 + 13) % 251);
  const auto other = dir.Path() / "OTHER.DB", locked = dir.Path() / "LOCKED.MDB", readOnly = dir.Path() / "RO.MDB";
  praxtest::Sqlite3(other, "PRAGMA application_id = 42; CREATE TABLE t (a INTEGER);");
  for (const auto& file : {locked, readOnly}) praxtest::Sqlite3(file, "PRAGMA journal_mode = DELETE; CREATE TABLE t (a);");
  std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read, std::filesystem::perm_options::replace);
  const praxtest::Db holder(locked, true);
  for (const char* sql : {"PRAGMA locking_mode = EXCLUSIVE", "BEGIN EXCLUSIVE", "INSERT INTO t VALUES (1)"}) holder.Query(sql);
  const struct { std::filesystem::path file; ErrorKind kind; const char* says; } cases[] = {
      {dir.Write("JET.MDB", jet), err::kUnrecognizedFormat, "earlier installation"},
      {other, err::kUnrecognizedFormat, "another program"},
      {dir.Write("RANDOM.MDB", random), err::kUnrecognizedFormat, "Unrecognized database format"},
      {dir.Write("EMPTY.MDB", ""), err::kUnrecognizedFormat, "Unrecognized database format"},
      {dir.Path() / "MISSING.MDB", err::kCannotFindFile, "Could not find file"},
      {locked, err::kCannotOpenFile, "holds it locked"},
      {readOnly, praxtest::Root() ? err::kNone : err::kCannotOpenFile, "read-only"}};
  for (const auto& c : cases) {
    const auto out = Raised([&] { SqliteFile::Open(c.file); });
    EXPECT_EQ(out.Kind(), c.kind) << c.file;
    EXPECT_TRUE(c.kind == err::kNone || (Has(out.what(), c.says) && Has(out.what(), praxtest::Shown(c.file)))) << out.what();
  }
}

// A load's write-ahead log goes when it closes the file; a reader still in
// the file keeps it there, which Close reports, and the next open folds it back.
TEST(OpenDatabase, WriteAheadLogEndsAtCloseOrAtTheNextOpen) {
  praxtest::TempDir dir;
  const auto path = dir.Path() / "LOG.MDB";
  praxtest::Sqlite3(path, "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  auto db = SqliteFile::Open(path, {prax::db::Access::ReadWrite, prax::db::Journal::Wal});
  std::optional<praxtest::Db> reader(std::in_place, path);
  for (const char* sql : {"BEGIN", "SELECT count(*) FROM t"}) reader->Query(sql);
  db->Close();
  EXPECT_TRUE(Has(db->LeftInUse(), "LOG.MDB' is held open by another program"));
  reader.reset();
  SqliteFile::Open(path)->Close();
  for (const char* suffix : {"-wal", "-shm"}) EXPECT_FALSE(std::filesystem::exists(path.string() + suffix));
  EXPECT_EQ(praxtest::Sqlite3(path, "PRAGMA journal_mode;"), "delete\n");
}

// A journal is used only beside the very file whose writer of ours left it: after a writer is killed, its file opens;
// the same journal beside a copy of the file is refused, and the record goes once the file is at rest.
TEST(OpenDatabase, UsesOnlyAJournalItsOwnKilledWriterLeft) {
  PRAX_SKIP_ON_WINDOWS("fork (a writer of this process that ends mid-transaction)");
#ifndef _WIN32
  praxtest::TempDir dir;
  const auto path = dir.Path() / "KILLED.MDB", copy = dir.Path() / "COPY.MDB";
  praxtest::Sqlite3(path, "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  if (const pid_t child = ::fork(); child == 0) {
    const auto killed = SqliteFile::Open(path);
    killed->BeginWrite();
    killed->Exec("INSERT INTO t VALUES (2)");
    ::_exit(0);  // never committed, never closed
  } else {
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  }
  ASSERT_GT(std::filesystem::file_size(path.string() + "-journal"), 0u);
  std::filesystem::copy_file(path, copy);
  std::filesystem::copy_file(path.string() + "-journal", copy.string() + "-journal");
  const auto refused = Raised([&] { SqliteFile::Open(copy); });
  EXPECT_EQ(refused.Kind(), err::kCannotOpenFile);
  EXPECT_TRUE(Has(refused.what(), copy.string() + "-journal' beside the database")) << refused.what();
  auto db = SqliteFile::Open(path);
  db->BeginWrite();
  db->Exec("INSERT INTO t VALUES (3)");
  db->Close();
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "PRAXSERVER.WRT"));
  EXPECT_EQ(praxtest::Sqlite3(path, "SELECT a FROM t;"), "1\n3\n");
#endif
}

// The History file replaces an earlier one whole, at rest, and holds other writers to the field rules too.
TEST(CreateHistory, ReplacesTheEarlierFileAndLeavesItAtRest) {
  praxtest::TempDir dir;
  const auto file = dir.Path() / "PRAXDATA.MDB";
  SqliteFile::Create(file)->Close();
  EXPECT_EQ(Raised([&] { SqliteFile::Create(file); }).Kind(), err::kDatabaseExists);
  dir.Write("PRAXDATA.MDB.building", "left by a killed run");
  prax::store::CreateSqliteHistory(file.string());
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".building"));
  EXPECT_EQ(praxtest::Sqlite3(file, "PRAGMA journal_mode;"), "delete\n");
  auto tables = praxtest::kHistoryTables;  // then what the load keeps beside them
  tables.push_back("ErrorKeysPending");
  EXPECT_EQ(praxtest::Query(file, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid"), tables);
  for (const std::string row : {"(40000, 'x')", "(1, '')"})
    EXPECT_TRUE(Has(praxtest::Sqlite3(file, "INSERT INTO NotesList VALUES " + row + ";"), "CHECK")) << row;
}

TEST(CheckValue, RefusesWhatDoesNotFitTheField) {
  using namespace prax::db;
  // A value and the error it raises in the field (kNone: accepted).
  const struct { FieldDef field; Value value; ErrorKind kind; } cases[] = {
      {IntegerField("I"), 32767, err::kNone},    {IntegerField("I"), -32768, err::kNone},
      {IntegerField("I"), 32768, err::kOverflow}, {IntegerField("I"), -32769, err::kOverflow},
      {LongField("L"), int64_t{2147483647}, err::kNone}, {LongField("L"), int64_t{2147483648}, err::kOverflow},
      {LongField("L"), "12", err::kTypeMismatch},    {LongField("L"), nullptr, err::kNone},
      {TextField("T", 3), "", err::kZeroLengthString}, {TextField("T", 3), "\xC3\xA9t\xC3\xA9", err::kNone},
      {TextField("T", 3), "abcd", err::kFieldTooSmall}, {TextField("T", 3), nullptr, err::kNone},
  };
  for (const auto& c : cases) {
    const auto out = Raised([&] { CheckValue("Tbl", c.field, c.value); });
    EXPECT_EQ(out.Kind(), c.kind) << c.field.name << " " << c.value.Describe();
    EXPECT_TRUE(c.kind == err::kNone || Has(out.what(), "Tbl." + c.field.name)) << out.what();
  }
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateSqliteHistory(file.string()); }
  std::string Stored(const std::string& sql) { return praxtest::Sqlite3(file, sql); }

  praxtest::TempDir dir;
  std::filesystem::path file = dir.Path() / "PRAXDATA.MDB";
};

// A lookup: the name, then the id it gets or the error it raises.
struct Lookup { std::string name; int id; ErrorKind error = err::kNone; };

TEST_F(StoreTest, ListIdsFollowTheirRules) {
  const std::string longName(256, 'w');
  // Rows stored first, the lookups, and the list afterwards.
  const struct { const char* what; std::vector<std::pair<int16_t, std::string>> stored; std::vector<Lookup> lookups;
                 const char* rows; std::size_t unnumbered = 0; /* distinct names refused for want of an id */ } cases[] = {
      {"trim and fold", {{7, "stapler"}, {41, "Hammer"}, {5, "\xC3\x89mile"}},
       {{"  STAPLER ", 7}, {"\xC3\xA9MILE", 5}, {"Drill", 42}, {"drill ", 42}, {"\tdrill", 43}},
       "7|stapler\n41|Hammer\n5|\xC3\x89mile\n42|Drill\n43|\tdrill\n"},
      {"refused", {{1, "Editor"}}, {{"Bob's", 0, err::kSyntaxInExpression}, {"   ", 0, err::kZeroLengthString}, {longName, 0, err::kFieldTooSmall}, {"Mail", 3}, {"editor", 1}},
       "1|Editor\n3|Mail\n"},
      {"full", {{32767, "Full"}, {3, "Early"}}, {{"New", 0, err::kOverflow}, {"early", 3}, {"FULL", 32767}, {" NEW", 0, err::kOverflow}, {"Other", 0, err::kOverflow}},
       "32767|Full\n3|Early\n", 2},
      {"last id", {{32766, "Late"}}, {{"Last", 32767}, {"Past", 0, err::kOverflow}, {"last", 32767}}, "32766|Late\n32767|Last\n", 1},
      // A NUL byte (junk of a damaged log): as the name index compares, the same length and text up to it.
      {"NUL byte", {{4, std::string("ab\0c", 4)}},
       {{std::string("AB\0d", 4), 4}, {std::string("ab\0cd", 5), 5}, {std::string("\xC3\xA9\0x", 4), 6},
        {std::string("\xC3\x89\0x", 4), 6}},
       "4|ab\n5|ab\n6|\xC3\xA9\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CreateSqliteHistory(file.string());
    auto store = OpenSqliteHistory(file);
    ListTable& table = store->List(HistoryList::kNotes);
    for (const auto& [id, name] : c.stored) table.Insert(id, name);
    store->Commit();
    int lookups = 0, done = 0;
    ListIds ids(table, [&] { ++lookups; });
    ids.Prime();
    ids.Open();
    for (const auto& l : c.lookups) {
      EXPECT_EQ(Raised([&] { EXPECT_EQ(ids.Get(l.name), l.id) << l.name; }).Kind(), l.error) << l.name;
      done += l.error == err::kNone;
    }
    EXPECT_EQ(lookups, done);
    EXPECT_EQ(ids.Unnumbered(), c.unnumbered);
    store->Close();
    EXPECT_EQ(Stored("SELECT Note_Id, Note_Name FROM NotesList ORDER BY rowid;"), c.rows);
  }
}

TEST_F(StoreTest, ListIdsReadAgainWhenAnotherProgramCommitted) {
  auto mine = OpenSqliteHistory(file), theirs = OpenSqliteHistory(file);
  ListIds ids(mine->List(HistoryList::kTools));
  ids.Prime();
  ids.Open();
  EXPECT_EQ(ids.Get("Drill"), 1);
  mine->Commit();
  theirs->List(HistoryList::kTools).Insert(2, "Saw");
  theirs->Commit();
  EXPECT_EQ(ids.Get("SAW"), 2);
  EXPECT_EQ(ids.Get("Plane"), 3);
  mine->Close();
  theirs->Close();
  EXPECT_EQ(Stored("SELECT Tool_Id, Tool_Name FROM EMSToolsList ORDER BY rowid;"), "1|Drill\n2|Saw\n3|Plane\n");
}

TEST_F(StoreTest, RefusedRowStoresNothingAndCountsCommittedRows) {
  auto store = OpenSqliteHistory(file);
  ActivityRow row{1, 20260105, "09", -1, 0, 0, 0, 8, 12};
  store->AppendActivity(row);
  row.keyNum = 40000;  // beyond an Integer
  EXPECT_EQ(Raised([&] { store->AppendActivity(row); }).Kind(), err::kOverflow);
  EXPECT_EQ(Raised([&] { store->AppendSystemUsage({1, 20260105, "", 3}); }).Kind(), err::kZeroLengthString);
  store->AppendUserNote({1, 20260105, "09", "30", 4, 5, 6});
  store->Commit();
  store->AppendActivity({2, 20260105, "10", 1, 1, 0, 0, 0, 0});
  store->Rollback();
  EXPECT_TRUE(store->DayLoaded(DayTable::kActivity, 1, 20260105));
  EXPECT_FALSE(store->DayLoaded(DayTable::kActivity, 2, 20260105));
  EXPECT_FALSE(store->DayLoaded(DayTable::kAlerts, 1, 20260105));
  EXPECT_EQ(store->WholeApplicationKeyCounts(1, std::nullopt).at(0).keyCount, 12);
  store->Close();
  const auto added = store->RowsAdded();
  EXPECT_EQ(added.size(), praxtest::kHistoryTables.size());
  EXPECT_EQ((std::vector<int64_t>{added.at("ActivitySystem"), added.at("UserNotes"), added.at("EMSSystemUsage")}),
            (std::vector<int64_t>{1, 1, 0}));
  EXPECT_EQ(Stored("SELECT count(*), max(Note_Id) FROM UserNotes;"), "1|6\n");
}

// Rows go in batches: a row only the engine refuses (another program's trigger) costs itself alone, named by the
// call that writes its batch; rows not yet written are seen by the next read, on a fresh file (whose day tables
// get their indexes when first read by user) and on a loaded one.
TEST_F(StoreTest, BatchedRowsAreReadBeforeWrittenAndRefusedAlone) {
  praxtest::Sqlite3(file, "CREATE TRIGGER unlucky BEFORE INSERT ON ActivitySystem WHEN NEW.Key_Count = 13 "
                          "BEGIN SELECT RAISE(ABORT, 'unlucky'); END;");
  auto store = OpenSqliteHistory(file);
  std::vector<std::string> refused;
  for (int n = 1; n <= 40; ++n) {
    const auto out = Raised([&] { store->AppendActivity({1, 20260105, "09", -1, 0, 0, 0, 8, n}); });
    if (out.Kind() != err::kNone) refused.push_back(out.what());
  }
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_TRUE(Has(refused[0], "(1, 20260105, \"09\", -1, 0, 0, 0, 8, 13)") && Has(refused[0], "unlucky")) << refused[0];
  EXPECT_TRUE(store->DayLoaded(DayTable::kActivity, 1, 20260105));
  EXPECT_EQ(Stored("SELECT count(*) FROM sqlite_master WHERE name LIKE '%User_Num_Ix';"), "3\n");  // waiting
  EXPECT_EQ(store->WholeApplicationKeyCounts(1, std::nullopt).size(), 39u);
  store->Close();
  store = OpenSqliteHistory(file);
  store->AppendActivity({2, 20260106, "10", -1, 0, 0, 0, 8, 1});
  EXPECT_EQ(store->LoadedDates(DayTable::kActivity, 2, 20260101, 20260131), std::vector<int32_t>{20260106});
  store->Close();
  EXPECT_EQ(Stored("SELECT count(*) FROM sqlite_master WHERE name LIKE '%User_Num_Ix';"), "5\n");
  EXPECT_EQ(Stored("SELECT count(*), sum(Key_Count) FROM ActivitySystem;"), "40|808\n");
}

// A fresh file's day tables take rows without the checks on their numbers until the store reads them by user or
// closes: then the definition comes back as it was, proven against every row when another program wrote meanwhile,
// and a table not as the system made it is never rewritten.
TEST_F(StoreTest, FreshDayTablesGetTheirNumberChecksBackProvenWhenOthersWrote) {
  const struct { const char* what; const char* before; const char* meanwhile; bool kept; } cases[] = {
      {"ours alone", "", "", true},
      {"another program's row within range", "", "INSERT INTO ActivitySystem (User_Num, App_Id) VALUES (2, 7);", true},
      {"another program's row out of range", "", "INSERT INTO ActivitySystem (User_Num, App_Id) VALUES (2, 99999);",
       false},
      {"a table altered since it was made", "ALTER TABLE ActivitySystem ADD COLUMN Extra INTEGER;", "", true}};
  const std::string definition = "SELECT sql FROM sqlite_master WHERE name = 'ActivitySystem';";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CreateSqliteHistory(file.string());
    praxtest::Sqlite3(file, c.before);
    const std::string made = Stored(definition);
    auto store = OpenSqliteHistory(file);
    store->AppendActivity({1, 20260105, "09", -1, 0, 0, 0, 8, 12});
    store->Commit();
    EXPECT_EQ(Stored(definition) == made, std::string(c.before).size() > 0);
    praxtest::Sqlite3(file, c.meanwhile);
    const auto closed = Raised([&] { store->Close(); });
    store.reset();
    EXPECT_EQ(closed.Kind(), c.kept ? err::kNone : err::kOverflow) << closed.what();
    EXPECT_EQ(Has(closed.what(), "row 2"), !c.kept) << closed.what();
    EXPECT_EQ(Stored(definition) == made, c.kept);
    EXPECT_EQ(Has(Stored("INSERT INTO ActivitySystem (App_Id) VALUES (40000);"), "CHECK constraint failed"), c.kept);
  }
}

// Files written by others: tables by any letter case, a missing table failing only the operation that needs it.
TEST_F(StoreTest, OthersFilesAreReadWhateverTheLetterCase) {
  praxtest::Sqlite3(file, "ALTER TABLE AlertSystem RENAME TO a; ALTER TABLE a RENAME TO alertsystem; DROP TABLE ActivitySystem;");
  auto store = OpenSqliteHistory(file);
  AlertHourRow row{3, 20260106, "00", {}, 0};
  row.counts[0] = 2;
  store->AppendAlertHour(row);
  const RowId hour = store->AlertHours(3, std::nullopt).at(0).row;
  store->SetErrorKeys(hour, 9);
  EXPECT_EQ(Raised([&] { store->SetErrorKeys(hour, 40000); }).Kind(), err::kOverflow);
  EXPECT_EQ(Raised([&] { store->DayLoaded(DayTable::kActivity, 3, 20260106); }).Kind(), err::kCannotFindTable);
  store->Close();
  EXPECT_EQ(store->RowsAdded()["AlertSystem"], 1);
  EXPECT_EQ(Stored("SELECT User_Num, Key_L1_Given, Error_Keys FROM alertsystem;"), "3|2|9\n");
}

TEST(RosterStore, FindsUsersAndMembersWithoutLetterCase) {
  praxtest::TempDir dir;
  auto roster = Roster::Create(dir.Path() / "MASTER.MDB");
  for (const char* sub : {"px000002.dir", "PX000000.DIR", "Alpha.DIR", "PX000001.DIR"})
    roster->AppendUser({"Last", std::nullopt, std::nullopt, sub, std::string("\xC3\xA9") + sub});
  EXPECT_EQ(roster->FindUser("\xC3\x89PX000001.DIR"), 4);
  EXPECT_EQ(roster->FindUser("nobody"), std::nullopt);
  roster->RemoveNumberedUsers();
  std::string order;
  for (const auto& u : roster->UsersBySubDir()) order += *u.subDir + " ";
  EXPECT_EQ(order, "Alpha.DIR PX000000.DIR ");
  for (const auto& step : RosterUpgrade()) roster->Apply(step);
  EXPECT_NE(Raised([&] { roster->Apply(RosterUpgrade()[0]); }).Kind(), err::kNone);
  roster->Close();

  const auto group = dir.Path() / "TEAM.GRP";
  GroupFile::Create(group);
  auto members = GroupFile::Open(group);
  members->AppendMember({"Last", "First", std::nullopt, "PX000001.DIR", "\xC3\xA9mile"});
  EXPECT_EQ(Raised([&] { members->AppendMember({"Other", {}, {}, "PX000002.DIR", "\xC3\x89MILE"}); }).Kind(), err::kDuplicateValue);
  members->Close();
  EXPECT_EQ(praxtest::Sqlite3(group, "SELECT count(*) FROM Members;"), "1\n");
}

}  // namespace

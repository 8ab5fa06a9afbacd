// Opening and creating database files, the History file's creation, and the
// rule every stored value is held to.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "store/database.h"
#include "store/history_store.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace {

using prax::db::Database;
using praxtest::Has;
using praxtest::Raised;

int ErrorOf(const std::function<void()>& step) { return Raised(step).Number(); }

TEST(OpenDatabase, RefusesWhatIsNotOurDatabase) {
  praxtest::TempDir dir;
  std::string jet(2048, '\0'), random;
  jet.replace(4, 15, "Standard Jet DB");
  for (int i = 0; i < 4096; ++i) random += static_cast<char>((i * 7919 + 13) % 251);
  const auto other = dir.Path() / "OTHER.DB";
  praxtest::Sqlite3(other, "PRAGMA application_id = 42; CREATE TABLE t (a INTEGER);");
  const struct {
    std::filesystem::path file;
    int number;
    const char* says;
  } cases[] = {
      {dir.Write("JET.MDB", jet), 3343, "earlier installation"},
      {dir.Write("RANDOM.MDB", random), 3343, "Unrecognized database format"},
      {dir.Write("EMPTY.MDB", ""), 3343, "Unrecognized database format"},
      {other, 3343, "another program"},
      {dir.Path() / "MISSING.MDB", 3024, "Could not find file"},
  };
  for (const auto& c : cases) {
    const auto out = Raised([&] { Database::Open(c.file); });
    EXPECT_EQ(out.Number(), c.number) << c.file;
    EXPECT_TRUE(Has(out.what(), c.says) && Has(out.what(), c.file.string())) << out.what();
  }
}

TEST(OpenDatabase, ReadOnlyOrLockedFileCannotBeOpened) {
  praxtest::TempDir dir;
  const auto path = dir.Path() / "LOCKED.MDB";
  praxtest::Sqlite3(path, "PRAGMA journal_mode = DELETE; CREATE TABLE t (a INTEGER);");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.string().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; INSERT INTO t VALUES (1);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(ErrorOf([&] { Database::Open(path); }), 3051);  // after the busy wait
  sqlite3_close(other);
  if (::geteuid() == 0) return;  // file permissions do not hold for the superuser
  std::filesystem::permissions(path, std::filesystem::perms::owner_read, std::filesystem::perm_options::replace);
  EXPECT_EQ(ErrorOf([&] { Database::Open(path); }), 3051);
}

// A load's write-ahead log goes when it closes the file; a reader still in
// the file keeps it there, which Close reports, and the next open folds it back.
TEST(OpenDatabase, WriteAheadLogEndsAtCloseOrAtTheNextOpen) {
  praxtest::TempDir dir;
  const auto path = dir.Path() / "LOG.MDB";
  praxtest::Sqlite3(path, "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  ::setenv("PRAX_JOURNAL", "wal", 1);
  auto db = Database::Open(path, {prax::db::Access::ReadWrite, prax::db::Journal::WalWhereLocal});
  ::unsetenv("PRAX_JOURNAL");
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM t;", nullptr, nullptr, nullptr), SQLITE_OK);
  db->Close();
  EXPECT_TRUE(Has(db->LeftInUse(), "LOG.MDB' is held open by another program"));
  sqlite3_close(reader);
  Database::Open(path)->Close();
  for (const char* suffix : {"-wal", "-shm"}) EXPECT_FALSE(std::filesystem::exists(path.string() + suffix));
  EXPECT_EQ(praxtest::Sqlite3(path, "PRAGMA journal_mode;"), "delete\n");
}

// A journal is used only beside the very file whose writer of ours left it:
// after a writer is killed, its file opens; the same journal beside a copy of
// the file is refused, and the record goes once the file is at rest.
TEST(OpenDatabase, UsesOnlyAJournalItsOwnKilledWriterLeft) {
  praxtest::TempDir dir;
  const auto path = dir.Path() / "KILLED.MDB", copy = dir.Path() / "COPY.MDB";
  praxtest::Sqlite3(path, "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  if (const pid_t child = ::fork(); child == 0) {
    const auto killed = Database::Open(path);
    killed->Prepare("INSERT INTO t VALUES (2)").Run();
    ::_exit(0);  // never committed, never closed
  } else {
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  }
  ASSERT_GT(std::filesystem::file_size(path.string() + "-journal"), 0u);
  std::filesystem::copy_file(path, copy);
  std::filesystem::copy_file(path.string() + "-journal", copy.string() + "-journal");
  const auto refused = Raised([&] { Database::Open(copy); });
  EXPECT_EQ(refused.Number(), 3051);
  EXPECT_TRUE(Has(refused.what(), copy.string() + "-journal' beside the database")) << refused.what();
  auto db = Database::Open(path);
  db->Prepare("INSERT INTO t VALUES (3)").Run();
  db->Close();
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "PRAXSERVER.WRT"));
  EXPECT_EQ(praxtest::Sqlite3(path, "SELECT a FROM t;"), "1\n3\n");
}

// The History file replaces an earlier one whole, at rest, and holds other
// writers to the field rules too.
TEST(CreateHistory, ReplacesTheEarlierFileAndLeavesItAtRest) {
  praxtest::TempDir dir;
  const auto file = dir.Path() / "PRAXDATA.MDB";
  Database::Create(file)->Close();
  EXPECT_EQ(ErrorOf([&] { Database::Create(file); }), 3204);
  dir.Write("PRAXDATA.MDB.building", "left by a killed run");
  prax::store::CreateSqliteHistory(file.string());
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".building"));
  EXPECT_EQ(praxtest::Sqlite3(file, "PRAGMA journal_mode;"), "delete\n");
  std::string tables;
  for (const auto& t : praxtest::kHistoryTables) tables += t + "\n";
  // The History tables, then what the load keeps beside them.
  EXPECT_EQ(praxtest::Sqlite3(file, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid;"),
            tables + "ErrorKeysPending\n");
  EXPECT_TRUE(Has(praxtest::Sqlite3(file, "INSERT INTO NotesList VALUES (40000, 'x');"), "CHECK"));
  EXPECT_TRUE(Has(praxtest::Sqlite3(file, "INSERT INTO NotesList VALUES (1, '');"), "CHECK"));
}

TEST(CheckValue, RefusesWhatDoesNotFitTheField) {
  using namespace prax::db;
  const struct {
    FieldDef field;
    Value value;
    int number;  // 0: accepted
  } cases[] = {
      {IntegerField("I"), 32767, 0},         {IntegerField("I"), -32768, 0},
      {IntegerField("I"), 32768, 6},         {IntegerField("I"), -32769, 6},
      {LongField("L"), int64_t{2147483647}, 0}, {LongField("L"), int64_t{2147483648}, 6},
      {LongField("L"), "12", 13},            {LongField("L"), nullptr, 0},
      {TextField("T", 3), "", 3315},         {TextField("T", 3), "\xC3\xA9t\xC3\xA9", 0},
      {TextField("T", 3), "abcd", 3163},     {TextField("T", 3), nullptr, 0},
  };
  for (const auto& c : cases) {
    const auto out = Raised([&] { CheckValue("Tbl", c.field, c.value); });
    EXPECT_EQ(out.Number(), c.number) << c.field.name << " " << c.value.Describe();
    if (c.number != 0) {
      EXPECT_TRUE(Has(out.what(), "Tbl." + c.field.name)) << out.what();
    }
  }
}

}  // namespace

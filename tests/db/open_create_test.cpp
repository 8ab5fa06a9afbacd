// Opening and creating database files, and the History database creation.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sqlite3.h>
#include <unistd.h>

#include "platform/run_context.h"
#include "platform/status.h"
#include "db_fixture.h"

namespace {

using dbtest::ErrorOf;
using prax::db::Database;
constexpr auto npos = std::string::npos;

TEST(OpenDatabase, RefusesWhatIsNotOurDatabase) {
  praxtest::TempDir dir;
  std::string jet(2048, '\0'), ace(2048, '\0'), random;
  jet.replace(4, 15, "Standard Jet DB");
  ace.replace(4, 15, "Standard ACE DB");
  for (int i = 0; i < 4096; ++i) random += static_cast<char>((i * 7919 + 13) % 251);
  const char* unknown = "Unrecognized database format";
  const std::pair<std::string, const char*> cases[] = {
      {jet, "earlier installation"}, {ace, "earlier installation"}, {random, unknown}, {"", unknown}, {"text\r\n", unknown}};
  for (const auto& [bytes, says] : cases) {
    const auto path = dir.Write("BAD.MDB", bytes);
    const auto out = dbtest::Raised([&] { Database::Open(path); });
    EXPECT_EQ(out.Number(), 3343) << says;
    EXPECT_NE(std::string(out.what()).find(says), npos) << std::string(out.what());
    EXPECT_NE(std::string(out.what()).find(path.string()), npos) << std::string(out.what());
  }
  const auto missing = dir.Path() / "MISSING.MDB";
  const auto out = dbtest::Raised([&] { Database::Open(missing); });
  EXPECT_EQ(out.Number(), 3024);
  EXPECT_NE(std::string(out.what()).find(missing.string()), npos) << std::string(out.what());
  // Another program's SQLite file is refused; one without a mark is accepted.
  const auto other = dir.Path() / "OTHER.DB";
  praxtest::Sqlite3(other, "PRAGMA application_id = 42; CREATE TABLE t (a INTEGER);");
  EXPECT_EQ(ErrorOf([&] { Database::Open(other); }), 3343);
  const auto plain = dir.Path() / "PLAIN.DB";
  praxtest::Sqlite3(plain, "CREATE TABLE Users (User_Id TEXT, Sub_Dir VARCHAR(12)); "
                           "INSERT INTO Users VALUES ('a1', 'PX000001.DIR');");
  auto db = Database::Open(plain);
  auto rs = db->OpenRecordset("SELECT * FROM Users");
  rs->FindFirst("User_Id = 'A1'");  // text compares without letter case in others' tables too
  EXPECT_FALSE(rs->NoMatch());
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
  EXPECT_NE(db->LeftInUse().find("LOG.MDB' is held open by another program"), npos);
  sqlite3_close(reader);
  Database::Open(path)->Close();
  for (const char* suffix : {"-wal", "-shm"}) EXPECT_FALSE(std::filesystem::exists(path.string() + suffix));
  EXPECT_EQ(praxtest::Sqlite3(path, "PRAGMA journal_mode;"), "delete\n");
}

TEST(CreateDatabase, NeedsANewFileAndLeavesItAtRest) {
  praxtest::TempDir dir;
  const auto path = dir.Path() / "NEW.MDB";
  Database::Create(path)->Close();
  EXPECT_EQ(ErrorOf([&] { Database::Create(path); }), 3204);
  auto db = Database::Open(path);
  EXPECT_EQ(praxtest::Sqlite3(path, "PRAGMA journal_mode;"), "delete\n");
}

// The History database replaces an earlier one; its schema reads back as built.
TEST(CreateHistoryDatabase, BuildsTheSchemaReadableByOthers) {
  praxtest::TempDir dir;
  const auto file = dir.Path() / "PRAXDATA.MDB";
  auto old = Database::Create(file);
  old->Execute("CREATE TABLE Old (A INTEGER)");
  old->Close();
  prax::Status status;
  status.SetFilePercent(40);
  prax::RunContext ctx;
  ctx.NetworkDir = dir.Text();
  ctx.status = &status;
  prax::CreateHistoryDatabase(ctx);
  EXPECT_EQ(ctx.Db, nullptr);
  EXPECT_EQ(status.FileCaption(), " 0% ");

  auto db = Database::Open(file);
  const auto defs = db->TableDefs();
  const auto& schema = prax::HistorySchema();
  ASSERT_EQ(defs.size(), schema.size());
  for (size_t i = 0; i < defs.size(); ++i) {
    const auto& want = schema[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(defs[i].name, want.name);
    ASSERT_EQ(defs[i].fields.size(), want.fields.size());
    for (size_t f = 0; f < want.fields.size(); ++f) {
      const auto &got = defs[i].fields[f], &field = want.fields[f];
      EXPECT_EQ(std::tie(got.name, got.type, got.size), std::tie(field.name, field.type, field.size));
    }
    ASSERT_EQ(defs[i].indexes.size(), 1u);
    const auto &got = defs[i].indexes[0], &ix = want.indexes[0];
    EXPECT_EQ(std::tie(got.name, got.field, got.primary, got.unique), std::tie(ix.name, ix.field, ix.primary, ix.unique));
  }
  EXPECT_EQ(db->OpenRecordset("SELECT * FROM AlertSystem")->FieldNames().size(), 41u);
  // Other writers are held to the field rules too.
  EXPECT_NE(praxtest::Sqlite3(file, "INSERT INTO NotesList VALUES (40000, 'x');").find("CHECK"), npos);
  EXPECT_NE(praxtest::Sqlite3(file, "INSERT INTO NotesList VALUES (1, '');").find("CHECK"), npos);
}

}  // namespace

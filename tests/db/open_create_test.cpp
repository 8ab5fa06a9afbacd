// Opening and creating database files, and the History database creation.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sqlite3.h>
#include <unistd.h>

#include <sstream>

#include "app/run_context.h"
#include "app/status.h"
#include "db_fixture.h"

namespace {

using dbtest::ErrorOf;
using dbtest::MessageOf;
using prax::db::Database;

TEST(OpenDatabase, RefusesWhatIsNotOurDatabase) {
  praxtest::TempDir dir;
  std::string oldFormat(2048, '\0');
  oldFormat.replace(4, 15, "Standard Jet DB");
  std::string ace(2048, '\0');
  ace.replace(4, 15, "Standard ACE DB");
  std::string random;
  for (int i = 0; i < 4096; ++i) random += static_cast<char>((i * 7919 + 13) % 251);
  struct Case {
    const char* name;
    std::string bytes;
    int error;
    const char* says;
  };
  const Case cases[] = {
      {"OLD.MDB", oldFormat, 3343, "earlier installation"},
      {"ACE.MDB", ace, 3343, "earlier installation"},
      {"RANDOM.MDB", random, 3343, "Unrecognized database format"},
      {"EMPTY.MDB", "", 3343, "Unrecognized database format"},
      {"TEXT.MDB", "just some text\r\n", 3343, "Unrecognized database format"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir.Write(c.name, c.bytes);
    const std::string msg = MessageOf([&] { Database::Open(path); });
    EXPECT_EQ(ErrorOf([&] { Database::Open(path); }), c.error);
    EXPECT_NE(msg.find(c.says), std::string::npos) << msg;
    EXPECT_NE(msg.find(path.string()), std::string::npos) << msg;
  }
  const auto missing = dir.Path() / "MISSING.MDB";
  EXPECT_EQ(ErrorOf([&] { Database::Open(missing); }), 3024);
  EXPECT_EQ(MessageOf([&] { Database::Open(missing); }), "Could not find file '" + missing.string() + "'.");

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

TEST(OpenDatabase, ReadOnlyFileCannotBeOpened) {
  if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not hold for the superuser";
  praxtest::TempDir dir;
  const auto path = dir.Path() / "RO.MDB";
  Database::Create(path)->Close();
  std::filesystem::permissions(path, std::filesystem::perms::owner_read, std::filesystem::perm_options::replace);
  EXPECT_EQ(ErrorOf([&] { Database::Open(path); }), 3051);
}

TEST(OpenDatabase, LockedFileCannotBeOpened) {
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
  EXPECT_NE(db->LeftInUse().find("LOG.MDB' is held open by another program"), std::string::npos);
  sqlite3_close(reader);
  Database::Open(path)->Close();
  for (const char* suffix : {"-wal", "-shm"}) EXPECT_FALSE(std::filesystem::exists(path.string() + suffix));
  EXPECT_EQ(praxtest::Sqlite3(path, "PRAGMA journal_mode;"), "delete\n");
}

TEST(CreateDatabase, NeedsANewFileAndMarksIt) {
  praxtest::TempDir dir;
  const auto path = dir.Path() / "NEW.MDB";
  Database::Create(path)->Close();
  EXPECT_EQ(ErrorOf([&] { Database::Create(path); }), 3204);
  EXPECT_EQ(praxtest::Sqlite3(path, "PRAGMA application_id;"), "1347567960\n");
  auto db = Database::Open(path);
  EXPECT_EQ(praxtest::Sqlite3(path, "PRAGMA journal_mode;"), "delete\n");
  // Path text with backslashes and other letter case reaches the same file.
  const std::string text = dir.Text() + "new.mdb";
  std::string backslashed = text;
  for (char& ch : backslashed) ch = ch == '/' ? '\\' : ch;
  EXPECT_NO_THROW(Database::Open(backslashed));
}

class RecordingStatus : public prax::Status {
 public:
  int yields = 0;
  std::vector<std::string> messages;

 protected:
  void OnYield() override { ++yields; }
  void OnChanged() override { messages.push_back(Message()); }
};

// Rows of a sqlite3 query as lines.
std::vector<std::string> Lines(const std::filesystem::path& file, const std::string& sql) {
  std::vector<std::string> out;
  std::istringstream in(praxtest::Sqlite3(file, sql));
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(CreateHistoryDatabase, BuildsTheThirteenTablesReadableByOthers) {
  praxtest::TempDir dir;
  const auto file = dir.Path() / "PRAXDATA.MDB";
  // An earlier database with content is replaced.
  {
    auto old = Database::Create(file);
    old->Execute("CREATE TABLE Old (A INTEGER)");
    old->Close();
  }
  RecordingStatus status;
  status.SetFilePercent(40);
  status.SetUserPercent(70);
  prax::RunContext ctx;
  ctx.NetworkDir = dir.Text();
  ctx.status = &status;
  status.yields = 0;
  prax::CreateHistoryDatabase(ctx);
  EXPECT_EQ(ctx.Db, nullptr);
  EXPECT_EQ(status.Message(), "Status: Creating new database.");
  EXPECT_EQ(status.FileCaption(), " 0% ");
  EXPECT_EQ(status.UserBar(), 0);
  EXPECT_EQ(status.yields, 4);  // SetStatus, two after the reset, one at the end

  EXPECT_EQ(Lines(file, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid;"),
            (std::vector<std::string>{"AlertSystem", "ActivitySystem", "UserNotes", "ProjectNotes",
                                      "ApplicationsList", "ProjectsList", "BodyPartsList", "WindowsList",
                                      "DiscomfortsList", "ProjectTasksList", "NotesList", "EMSToolsList",
                                      "EMSSystemUsage"}));
  for (const auto& table : prax::HistorySchema()) {
    SCOPED_TRACE(table.name);
    std::vector<std::string> expected;
    for (const auto& f : table.fields) {
      std::string type = f.type == prax::db::FieldType::Integer ? "SMALLINT"
                         : f.type == prax::db::FieldType::Long  ? "INTEGER"
                                                                : "VARCHAR(" + std::to_string(f.size) + ")";
      const bool primary = table.indexes[0].primary && table.indexes[0].field == f.name;
      expected.push_back(f.name + "|" + type + "|" + (primary ? "1" : "0"));
    }
    EXPECT_EQ(Lines(file, "SELECT name, type, \"notnull\" FROM pragma_table_info('" + table.name + "');"), expected);
    EXPECT_EQ(Lines(file, "SELECT count(*) FROM " + table.name + ";"), std::vector<std::string>{"0"});
  }
  EXPECT_EQ(Lines(file, "SELECT count(*) FROM pragma_table_info('AlertSystem');"), std::vector<std::string>{"41"});
  EXPECT_EQ(prax::HistorySchema()[0].fields[40].name, "Error_Keys");
  EXPECT_EQ(
      Lines(file, "SELECT m.name, m.tbl_name, i.name, l.\"unique\" FROM sqlite_master m, pragma_index_info(m.name) i, "
                  "pragma_index_list(m.tbl_name) l WHERE m.type = 'index' AND l.name = m.name ORDER BY m.rowid;"),
      (std::vector<std::string>{
          "AlertSystem_User_Num_Ix|AlertSystem|User_Num|0", "ActivitySystem_User_Num_Ix|ActivitySystem|User_Num|0",
          "UserNotes_User_Num_Ix|UserNotes|User_Num|0", "ProjectNotes_User_Num_Ix|ProjectNotes|User_Num|0",
          "ApplicationsList_App_Name_Ix|ApplicationsList|App_Name|1", "ProjectsList_Proj_Id_Ix|ProjectsList|Proj_Id|0",
          "BodyPartsList_BodyPart_Id_Ix|BodyPartsList|BodyPart_Id|0",
          "WindowsList_Window_Name_Ix|WindowsList|Window_Name|1",
          "DiscomfortsList_Discomfort_Id_Ix|DiscomfortsList|Discomfort_Id|0",
          "ProjectTasksList_Task_Id_Ix|ProjectTasksList|Task_Id|0", "NotesList_Note_Id_Ix|NotesList|Note_Id|0",
          "EMSToolsList_Tool_Id_Ix|EMSToolsList|Tool_Id|0", "EMSSystemUsage_User_Num_Ix|EMSSystemUsage|User_Num|0"}));

  // The engine gives the schema back as it was built.
  auto db = Database::Open(file);
  const auto defs = db->TableDefs();
  ASSERT_EQ(defs.size(), prax::HistorySchema().size());
  for (size_t i = 0; i < defs.size(); ++i) {
    const auto& want = prax::HistorySchema()[i];
    EXPECT_EQ(defs[i].name, want.name);
    ASSERT_EQ(defs[i].fields.size(), want.fields.size());
    for (size_t f = 0; f < want.fields.size(); ++f) {
      EXPECT_EQ(defs[i].fields[f].name, want.fields[f].name);
      EXPECT_EQ(defs[i].fields[f].type, want.fields[f].type);
      EXPECT_EQ(defs[i].fields[f].size, want.fields[f].size);
    }
    ASSERT_EQ(defs[i].indexes.size(), 1u);
    EXPECT_EQ(defs[i].indexes[0].name, want.indexes[0].name);
    EXPECT_EQ(defs[i].indexes[0].field, want.indexes[0].field);
    EXPECT_EQ(defs[i].indexes[0].primary, want.indexes[0].primary);
    EXPECT_EQ(defs[i].indexes[0].unique, want.indexes[0].unique);
  }
  // Other writers are held to the field rules too.
  EXPECT_NE(praxtest::Sqlite3(file, "INSERT INTO NotesList VALUES (40000, 'x');").find("CHECK"), std::string::npos);
  EXPECT_NE(praxtest::Sqlite3(file, "INSERT INTO NotesList VALUES (1, '');").find("CHECK"), std::string::npos);
}

}  // namespace

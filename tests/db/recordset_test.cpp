// Record sets (field rules, unique indexes, searches, transactions) and the
// SQL subset: the statement shapes the system runs work, all else is refused.

#include <gtest/gtest.h>

#include <array>

#include "db_fixture.h"

namespace {

using dbtest::Add;
using dbtest::ErrorOf;
using dbtest::HistoryDb;
using prax::db::Value;
constexpr auto npos = std::string::npos;

TEST_F(HistoryDb, FieldValuesAreHeldToTheirTypes) {
  const std::tuple<const char*, Value, int> cases[] = {
      {"BodyPart_Id", 32767, 0}, {"BodyPart_Id", 32768, 6}, {"BodyPart_Id", -32768, 0}, {"BodyPart_Id", -32769, 6},
      {"Data_Date", int64_t{2147483647}, 0}, {"Data_Date", int64_t{2147483648}, 6},
      {"Data_Date", int64_t{-2147483648LL}, 0}, {"Data_Date", int64_t{-2147483649LL}, 6},
      {"Data_Hour", "09", 0}, {"Data_Hour", "123", 3163},
      {"Data_Hour", "\xc3\xa4\xc3\xb6", 0},  // two characters, four bytes
      {"Data_Hour", "", 3315}, {"Data_Hour", Value(), 0},
      {"Note_Id", "12", 0}, {"Note_Id", "twelve", 13},  // numeric text into a number field
      {"Data_Minute", 7, 0},                            // a number into a text field
  };
  auto rs = db->OpenRecordset("SELECT * FROM UserNotes");
  int64_t stored = 0;
  for (const auto& [field, value, error] : cases) {
    SCOPED_TRACE(std::string(field) + " = " + value.Describe());
    const auto out = Add(*rs, {{"User_Num", 1}, {field, value}});
    EXPECT_EQ(out.Number(), error);
    if (out.Number() != 0) {
      const std::string message = out.what();  // names the field and the file
      EXPECT_TRUE(message.find(std::string("UserNotes.") + field) != npos && message.find(file.string()) != npos)
          << message;
      continue;
    }
    ++stored;
    rs->MoveLast();
    EXPECT_EQ(rs->Get("User_Num"), Value(1));
  }
  // A refused row leaves nothing pending: the next row starts afresh.
  Add(*rs, {{"User_Num", 2}});
  rs->MoveLast();
  EXPECT_TRUE(rs->Get("Data_Hour").IsNull());
  EXPECT_EQ(Count("UserNotes"), stored + 1);
}

TEST_F(HistoryDb, UniqueIndexesIgnoreLetterCase) {
  auto apps = db->OpenRecordset("SELECT * FROM ApplicationsList");
  auto projects = db->OpenRecordset("SELECT * FROM ProjectsList");
  const std::tuple<bool, int, Value, int> cases[] = {
      {true, 1, "word", 0}, {true, 2, "WORD", 3022}, {true, 3, Value(), 3058},  // Null in the primary index
      {false, 1, "word", 0}, {false, 1, "WORD", 0},                          // no unique index there
      // Letters beyond A-Z fold too; accents count.
      {true, 4, "\xC3\xBC" "bersicht", 0}, {true, 5, "\xC3\x9C" "BERSICHT", 3022}, {true, 6, "Ubersicht", 0},
  };
  for (const auto& [app, id, name, error] : cases) {
    if (app) EXPECT_EQ(Add(*apps, {{"App_Id", id}, {"App_Name", name}}).Number(), error) << id;
    else EXPECT_EQ(Add(*projects, {{"Proj_Id", id}, {"Proj_Name", name}}).Number(), error) << id;
  }
  EXPECT_EQ(Count("ApplicationsList"), 3);
  EXPECT_EQ(Count("ProjectsList"), 2);
  for (const char* name : {"\xC3\x9C" "bersicht", "\xC3\xBC" "BERSICHT"}) {
    for (const auto& [id, error] : {std::pair{6, 3022}, {4, 0}}) {  // its own row is no duplicate
      apps->FindFirst("App_Id = " + std::to_string(id));
      apps->Edit();
      apps->Set("App_Name", name);
      EXPECT_EQ(ErrorOf([&] { apps->Update(); }), error) << id;
    }
  }
  auto windows = db->OpenRecordset("SELECT * FROM WindowsList");
  Add(*windows, {{"Window_Id", 1}, {"Window_Name", "Inbox"}});
  const auto dup = Add(*windows, {{"Window_Id", 2}, {"Window_Name", "INBOX"}});
  EXPECT_NE(std::string(dup.what()).find("'Window_Name_Ix'"), npos) << std::string(dup.what());
}

// Searches through an index of the file and through the record set's own hash index.
TEST_F(HistoryDb, CriteriaIgnoreTheCaseOfEveryLetter) {
  const char* const names[] = {"Z\xC3\xBCrich", "\xC3\x89" "cole", "\xC5\x92uvre", "stra\xC3\x9F" "e", "\xC3\xBF" "e"};
  const std::pair<const char*, int> cases[] = {  // the id found, 0 for none{" = 'Z\xC3\x9CRICH'", 1},    {" = 'zurich'", 0},   {" = '\xC3\xA9" "COLE'", 2},
               {" = 'ecole'", 0},             {" = '\xC5\x93UVRE'", 3}, {" = 'STRASSE'", 0},
               {" = 'STRA\xC3\x9F" "E'", 4}, {" = '\xC5\xB8" "E'", 5}, {" <> 'z\xC3\xBCrich'", 2},
               {" > '\xC5\xB8'", 3}};
  for (const auto& [table, id, name] : {std::array<const char*, 3>{"ApplicationsList", "App_Id", "App_Name"},
                                        std::array<const char*, 3>{"NotesList", "Note_Id", "Note_Name"}}) {
    auto rs = db->OpenRecordset(std::string("SELECT * FROM ") + table);
    for (int i = 0; i < 5; ++i) Add(*rs, {{id, i + 1}, {name, names[i]}});
    for (const auto& [criterion, found] : cases) {
      rs->FindFirst(name + std::string(criterion));
      EXPECT_EQ(rs->NoMatch() ? 0 : rs->Get(id).AsInt(), found) << table << criterion;
    }
  }
}

TEST_F(HistoryDb, AddedRowsAreCurrentLastAndFound) {
  auto rs = db->OpenRecordset("SELECT * FROM NotesList");
  EXPECT_TRUE(rs->Eof() && rs->Bof());
  for (const auto& step : std::initializer_list<std::function<void()>>{
           [&] { rs->MoveLast(); }, [&] { rs->Get("Note_Id"); }, [&] { rs->Edit(); }}) {
    EXPECT_EQ(ErrorOf(step), 3021);
  }
  for (int i = 1; i <= 3; ++i) {
    Add(*rs, {{"Note_Id", i}, {"Note_Name", "note " + std::to_string(i)}});
    EXPECT_EQ(rs->Get("Note_Id"), Value(i));
  }
  rs->FindFirst("Note_Name = 'note 2'");
  rs->FindFirst("Note_Name = 'note 9'");
  EXPECT_TRUE(rs->NoMatch());
  EXPECT_EQ(rs->Get("Note_Id"), Value(2));  // unchanged by a failed search
  rs->MoveLast();
  EXPECT_EQ(rs->Get("Note_Name"), Value("note 3"));
  Add(*rs, {{"Note_Id", 4}, {"Note_Name", "Fourth"}});  // after the search index was built
  rs->MoveFirst();
  rs->FindFirst("Note_Name = 'fourth'");
  EXPECT_EQ(rs->NoMatch() ? 0 : rs->Get("Note_Id").AsInt(), 4);

  auto max = db->OpenRecordset("SELECT MAX(Tool_Id) AS Tool_Max FROM EMSToolsList");
  EXPECT_TRUE(max->Get("Tool_Max").IsNull());
  EXPECT_EQ(ErrorOf([&] { max->AddNew(); }), 3027);
  EXPECT_EQ(ErrorOf([&] { max->Edit(); }), 3027);
}

TEST_F(HistoryDb, PerUserRecordSetsSearchAndEditTheirOwnRows) {
  auto all = db->OpenRecordset("SELECT * FROM AlertSystem");
  for (int user : {5, 6, 5}) {
    for (const char* hour : {"00", "09", "10"}) {
      Add(*all, {{"User_Num", user}, {"Data_Date", user == 5 ? 20011231 : 20020101}, {"Data_Hour", hour},
                 {"Error_Keys", 0}});
    }
  }
  auto rs = db->OpenRecordset("SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5");
  for (; !rs->Eof(); rs->MoveNext()) EXPECT_EQ(rs->Get("User_Num"), Value(5));
  rs->FindFirst("Data_Date =20020101");  // user 6's day is not in this record set
  EXPECT_TRUE(rs->NoMatch());
  Add(*rs, {{"User_Num", 5}, {"Data_Date", 20020102}, {"Data_Hour", "01"}});
  rs->MoveFirst();
  rs->FindFirst("AlertSystem.Data_Date = 20020102 AND AlertSystem.Data_Hour = '01'");
  EXPECT_FALSE(rs->NoMatch());
  rs->MoveLast();
  EXPECT_EQ(rs->Get("Data_Date"), Value(20020102));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), 3021);

  // A column list, a composite search, Edit and Update.
  auto keys = db->OpenRecordset(
      "SELECT AlertSystem.Data_Date, AlertSystem.Data_Hour, AlertSystem.Error_Keys FROM AlertSystem WHERE "
      "AlertSystem.User_Num = 5");
  EXPECT_EQ(keys->FieldNames(), (std::vector<std::string>{"Data_Date", "Data_Hour", "Error_Keys"}));
  for (int pass = 0; pass < 2; ++pass) {
    keys->FindFirst("AlertSystem.Data_Date = 20011231 AND AlertSystem.Data_Hour = '09'");
    ASSERT_FALSE(keys->NoMatch());
    keys->Edit();
    keys->Set("Error_Keys", keys->Get("Error_Keys").AsInt() + 5);
    keys->Update();
  }
  EXPECT_EQ(ErrorOf([&] { keys->Get("User_Num"); }), 3265);
  rs->FindFirst("Data_Date = 20011231 AND Data_Hour = '09'");
  EXPECT_EQ(rs->Get("Error_Keys"), Value(10));  // the first of the two matching rows
  rs->FindFirst("Data_Date = 20011231 AND Data_Hour = '09' AND Error_Keys = 0");
  EXPECT_EQ(rs->Get("Error_Keys"), Value(0));
  // Editing a searched column moves the row in the search.
  rs->FindFirst("Data_Date = 20011231 AND Data_Hour = '10'");
  rs->Edit();
  rs->Set("Data_Hour", "11");
  rs->Update();
  rs->FindFirst("Data_Date = 20011231 AND Data_Hour = '11'");
  EXPECT_FALSE(rs->NoMatch());
}

TEST_F(HistoryDb, OrderedRecordSetsKeepAdditionsLast) {
  db->Execute("CREATE TABLE Users (User_Id TEXT (20), Last_Name TEXT (30), Sub_Dir TEXT (12))");
  auto users = db->OpenRecordset("SELECT * FROM Users");
  for (const char* dir : {"px000003.DIR", "PX000001.DIR", "PX000002.DIR"}) Add(*users, {{"Sub_Dir", dir}});
  EXPECT_TRUE(db->OpenRecordset("SELECT * FROM Users WHERE Last_Name <> 'Unassigned' ORDER BY Sub_Dir")->Eof());
  auto all = db->OpenRecordset("SELECT * FROM Users ORDER BY Sub_Dir");
  std::vector<std::string> seen;
  for (; !all->Eof(); all->MoveNext()) seen.push_back(all->Get("Sub_Dir").AsText());
  EXPECT_EQ(seen, (std::vector<std::string>{"PX000001.DIR", "PX000002.DIR", "px000003.DIR"}));
  Add(*all, {{"Sub_Dir", "PX000000.DIR"}});
  all->MoveLast();
  EXPECT_EQ(all->Get("Sub_Dir"), Value("PX000000.DIR"));
  all->FindFirst("Sub_Dir > 'PX000001.DIR'");
  EXPECT_EQ(all->Get("Sub_Dir"), Value("PX000002.DIR"));
}

// A failing statement or row undoes nothing written before it; Rollback
// undoes everything since the last commit.
TEST_F(HistoryDb, RowsWrittenBeforeAnErrorStayUntilRolledBack) {
  auto rs = db->OpenRecordset("SELECT * FROM ApplicationsList");
  Add(*rs, {{"App_Id", 1}, {"App_Name", "one"}});
  db->Commit();
  Add(*rs, {{"App_Id", 2}, {"App_Name", "two"}});
  EXPECT_EQ(ErrorOf([&] { db->Execute("DELETE FROM ApplicationsList WHERE App_Name = 'O'Brien'"); }), 3075);
  EXPECT_EQ(Add(*rs, {{"App_Id", 3}, {"App_Name", "ONE"}}).Number(), 3022);
  Add(*rs, {{"App_Id", 4}, {"App_Name", "four"}});
  db->Commit();
  Add(*rs, {{"App_Id", 5}, {"App_Name", "five"}});
  db->Rollback();
  rs = db->OpenRecordset("SELECT * FROM ApplicationsList");
  Add(*rs, {{"App_Id", 6}, {"App_Name", "six"}});
  db->Close();
  db = prax::db::Database::Open(file);
  std::vector<int64_t> ids;
  for (rs = db->OpenRecordset("SELECT * FROM ApplicationsList"); !rs->Eof(); rs->MoveNext())
    ids.push_back(rs->Get("App_Id").AsInt());
  EXPECT_EQ(ids, (std::vector<int64_t>{1, 2, 4, 6}));
  // Record sets outlive their database without crashing.
  db->Close();
  for (const auto& step : std::initializer_list<std::function<void()>>{
           [&] { rs->MoveFirst(); }, [&] { rs->Get("App_Id"); }, [&] { db->Execute("DELETE FROM ApplicationsList WHERE App_Id = 1"); }}) {
    EXPECT_EQ(ErrorOf(step), 3420);
  }
}

class SqlSubset : public HistoryDb {
 protected:
  void SetUp() override {
    HistoryDb::SetUp();
    db->Execute("CREATE TABLE Users (User_Id TEXT (20), Last_Name TEXT (30), Sub_Dir TEXT (12))");
  }
};

TEST_F(SqlSubset, AcceptsTheShapesTheSystemRunsAndSchemaStatementsRunOnce) {
  const char* schema[] = {
      "ALTER TABLE Users ADD COLUMN Location_Id INTEGER",
      "CREATE TABLE LocationsList (Location_Id INTEGER, Location_Name TEXT (255))",
      "CREATE UNIQUE INDEX Location_Id_Ix ON LocationsList (Location_Id)",
  };
  for (const char* sql : schema) EXPECT_NO_THROW(db->Execute(sql)) << sql;
  EXPECT_NO_THROW(db->Execute("ALTER TABLE Users ADD COLUMN SystemVer TEXT (10)"));
  EXPECT_EQ(ErrorOf([&] { db->Execute(schema[0]); }), 3380);
  EXPECT_EQ(ErrorOf([&] { db->Execute(schema[1]); }), 3010);
  EXPECT_EQ(ErrorOf([&] { db->Execute(schema[2]); }), 3375);
  EXPECT_EQ(ErrorOf([&] { db->Execute("CREATE TABLE alertsystem (A INTEGER)"); }), 3010);
  // The same index name on another table is another index.
  EXPECT_NO_THROW(db->Execute("CREATE UNIQUE INDEX Location_Id_Ix ON Users (Location_Id)"));

  const std::pair<const char*, const char*> queries[] = {  // a query and a criterion that finds nothing
      {"SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5", "Data_Date =20021203"},
      {"SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5",
       "AlertSystem.Data_Date = 20011231 AND AlertSystem.Data_Hour = '09'"},
      {"SELECT ActivitySystem.Data_Date, ActivitySystem.Data_Hour, ActivitySystem.Key_Count FROM ActivitySystem "
       "WHERE ActivitySystem.User_Num = 5 AND ActivitySystem.Key_Num = 8 AND ActivitySystem.App_Id = -1",
       "Data_Date =  20020615"},
      {"SELECT * FROM NotesList", "Note_Name = ''"},
      {"SELECT * FROM LocationsList", "Location_Name = 'Head Office'"},
      {"SELECT User_Id, Location_Id FROM Users", "User_Id ='A1'"},
      {"SELECT MAX(Location_Id) AS Location_Max FROM LocationsList", nullptr},
      {"SELECT * FROM Users WHERE Last_Name <> 'Unassigned' ORDER BY Sub_Dir", nullptr},
      {"select * from users where sub_dir > 'PX000000.DIR' order by SUB_DIR", nullptr},
  };
  for (const auto& query : queries) {
    EXPECT_EQ(ErrorOf([&] {
                auto rs = db->OpenRecordset(query.first);
                if (query.second) rs->FindFirst(query.second);
                if (query.second && !rs->NoMatch()) throw prax::Error(-1, "found");
              }), 0) << query.first;
  }

  // INTEGER is a Long and TEXT (n) a Text of n characters.
  auto users = db->OpenRecordset("SELECT * FROM Users");
  EXPECT_EQ(Add(*users, {{"Location_Id", int64_t{2147483647}}, {"SystemVer", std::string(10, 'v')}}).Number(), 0);
  EXPECT_EQ(Add(*users, {{"SystemVer", std::string(11, 'v')}}).Number(), 3163);
  // A unique index over duplicate values cannot be made.
  auto pains = db->OpenRecordset("SELECT * FROM DiscomfortsList");
  for (int i = 0; i < 2; ++i) Add(*pains, {{"Discomfort_Id", 7}, {"Discomfort_Name", "x"}});
  EXPECT_EQ(ErrorOf([&] { db->Execute("CREATE UNIQUE INDEX Dup_Ix ON DiscomfortsList (Discomfort_Id)"); }), 3022);
}

TEST_F(SqlSubset, RefusesEverythingElse) {
  const std::string n = "SELECT * FROM NotesList", w = n + " WHERE ";
  const std::pair<std::string, int> selects[] = {
      {w + "Note_Name = 'O'Brien'", 3075}, {w + "Note_Id = 1 OR Note_Id = 2", 3075},
      {w + "Note_Name LIKE 'a*'", 3075},   {w + "Note_Id < 3", 3075},
      {w + "Note_Id >= 3", 3075},          {w + "Note_Id = Note_Id", 3075},
      {w + "Note_Name = 'open", 3075},     {w + "(Note_Id = 1)", 3075},
      {n + ";", 3142},                     {w + "Note_Id = 1; DELETE FROM NotesList WHERE Note_Id = 1", 3142},
      {n + ", EMSToolsList", 3131},        {n + " INNER JOIN ToolsList ON Note_Id = Tool_Id", 3131},
      {n + " ORDER BY Note_Id DESC", 3138}, {"SELECT DISTINCT Note_Id FROM NotesList", 3141},
      {"SELECT COUNT(*) FROM NotesList", 3141}, {"INSERT INTO NotesList VALUES (1, 'a')", 3129},
      {"UPDATE NotesList SET Note_Id = 1", 3129}, {"DROP TABLE NotesList", 3129}, {"", 3129},
      {"SELECT * FROM NoSuchTable", 3078}, {"SELECT No_Such FROM NotesList", 3265},
      {w + "ToolsList.Note_Id = 1", 3265}, {w + "Note_Id = 'one'", 3464},
  };
  for (const auto& [text, error] : selects) {
    const std::string sql = text;
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(sql); }), error) << sql;
  }
  const std::pair<const char*, int> actions[] = {
      {"DELETE FROM Users", 3131}, {"DELETE FROM Users WHERE User_Id = 'O'Brien'", 3075},
      {"ALTER TABLE Users ADD Location_Id INTEGER", 3293}, {"ALTER TABLE Users ADD COLUMN Location_Id LONG", 3293},
      {"ALTER TABLE Users ADD COLUMN Name TEXT", 3293}, {"ALTER TABLE Users DROP COLUMN Sub_Dir", 3293},
      {"CREATE TABLE T (A INTEGER, B TEXT (256))", 3290}, {"CREATE TABLE T (A INTEGER B TEXT (5))", 3290},
      {"CREATE TABLE T (A INTEGER, A TEXT (5))", 3191}, {"CREATE INDEX Ix ON Users (User_Id)", 3290},
      {"CREATE UNIQUE INDEX Ix ON Users User_Id", 3291}, {"SELECT * FROM Users", 3065},
      {"ALTER TABLE NoSuch ADD COLUMN A INTEGER", 3078}, {"CREATE UNIQUE INDEX Ix ON Users (No_Such)", 3265},
  };
  for (const auto& [text, error] : actions) {
    const std::string sql = text;
    EXPECT_EQ(ErrorOf([&] { db->Execute(sql); }), error) << sql;
  }
  auto rs = db->OpenRecordset(n);
  EXPECT_EQ(ErrorOf([&] { rs->FindFirst("Note_Name = 'a' OR Note_Id = 1"); }), 3075);
  const auto out = dbtest::Raised([&] { rs->FindFirst("Note_Name = 'O'Brien'"); });
  EXPECT_EQ(out.Number(), 3075);
  EXPECT_NE(std::string(out.what()).find("'Note_Name = 'O'Brien''"), std::string::npos) << out.what();
  EXPECT_NE(std::string(out.what()).find(file.string()), std::string::npos) << out.what();
}

TEST_F(SqlSubset, DeleteRemovesOnlyMatchingRows) {
  auto users = db->OpenRecordset("SELECT * FROM Users");
  for (const char* dir : {"PX000000.DIR", "px000001.dir", "PX000045.DIR", "Samples"}) Add(*users, {{"Sub_Dir", dir}});
  Add(*users, {{"Last_Name", "No folder"}});
  db->Execute("DELETE FROM Users WHERE Sub_Dir > 'PX000000.DIR'");
  std::vector<std::string> left;
  for (auto rs = db->OpenRecordset("SELECT * FROM Users ORDER BY Sub_Dir"); !rs->Eof(); rs->MoveNext()) {
    const Value v = rs->Get("Sub_Dir");
    left.push_back(v.IsNull() ? "Null" : v.AsText());
  }
  EXPECT_EQ(left, (std::vector<std::string>{"Null", "PX000000.DIR"}));
  users->FindFirst("Sub_Dir = 'PX000045.DIR'");  // opened before the delete
  EXPECT_TRUE(users->NoMatch());
}

}  // namespace

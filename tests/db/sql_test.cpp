// The SQL subset: every statement the system runs is accepted and works;
// everything else is refused with the engine's syntax errors.

#include <gtest/gtest.h>

#include "db_fixture.h"

namespace {

using dbtest::ErrorOf;
using dbtest::HistoryDb;
using prax::db::Value;

class SqlSubset : public HistoryDb {
 protected:
  void SetUp() override {
    HistoryDb::SetUp();
    // The roster tables the Master database operations use.
    db->Execute("CREATE TABLE Users (User_Id TEXT (20), Last_Name TEXT (30), First_Name TEXT (30), "
                "Middle_Init TEXT (1), Sub_Dir TEXT (12))");
    db->Execute("CREATE TABLE Members (Last_Name TEXT (30), Sub_Dir TEXT (12), User_Id TEXT (20))");
  }
};

TEST_F(SqlSubset, AcceptsEveryStatementTheSystemRuns) {
  const char* actions[] = {
      "ALTER TABLE Users ADD COLUMN Location_Id INTEGER",
      "ALTER TABLE Users ADD COLUMN Department_Id INTEGER",
      "ALTER TABLE Users ADD COLUMN Position_Id INTEGER",
      "ALTER TABLE Users ADD COLUMN LastRunDate TEXT (20)",
      "ALTER TABLE Users ADD COLUMN SystemVer TEXT (10)",
      "ALTER TABLE Users ADD COLUMN NetLoggingOff TEXT (1)",
      "CREATE TABLE LocationsList (Location_Id INTEGER, Location_Name TEXT (255))",
      "CREATE TABLE PositionsList (Position_Id INTEGER, Position_Name TEXT (255))",
      "CREATE TABLE DepartmentsList (Department_Id INTEGER, Department_Name TEXT (255))",
      "CREATE UNIQUE INDEX Location_Id_Ix ON LocationsList (Location_Id)",
      "CREATE UNIQUE INDEX Position_Id_Ix ON PositionsList (Position_Id)",
      "CREATE UNIQUE INDEX Department_Id_Ix ON DepartmentsList (Department_Id)",
      "DELETE FROM Users WHERE Sub_Dir > 'PX000000.DIR'",
  };
  for (const char* sql : actions) {
    SCOPED_TRACE(sql);
    EXPECT_NO_THROW(db->Execute(sql));
  }
  const char* queries[] = {
      "SELECT * FROM EMSToolsList", "SELECT * FROM EMSSystemUsage", "SELECT * FROM BodyPartsList",
      "SELECT * FROM DiscomfortsList", "SELECT * FROM UserNotes", "SELECT * FROM NotesList",
      "SELECT * FROM ApplicationsList", "SELECT * FROM WindowsList", "SELECT * FROM ProjectsList",
      "SELECT * FROM ProjectTasksList", "SELECT * FROM ProjectNotes", "SELECT * FROM Users",
      "SELECT * FROM Members", "SELECT * FROM LocationsList", "SELECT * FROM PositionsList",
      "SELECT * FROM DepartmentsList",
      "SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5",
      "SELECT * FROM ActivitySystem WHERE ActivitySystem.User_Num = 12",
      "SELECT AlertSystem.Data_Date, AlertSystem.Data_Hour, AlertSystem.Error_Keys FROM AlertSystem WHERE "
      "AlertSystem.User_Num = 5",
      "SELECT ActivitySystem.Data_Date, ActivitySystem.Data_Hour, ActivitySystem.Key_Count FROM ActivitySystem "
      "WHERE ActivitySystem.User_Num = 5 AND ActivitySystem.Key_Num = 8 AND ActivitySystem.App_Id = -1",
      "SELECT ActivitySystem.Data_Date, ActivitySystem.Data_Hour, ActivitySystem.Key_Count FROM ActivitySystem "
      "WHERE ActivitySystem.User_Num = 5 AND ActivitySystem.Key_Num = 46 AND ActivitySystem.App_Id = -1",
      "SELECT MAX(App_Id) AS App_Max FROM ApplicationsList",
      "SELECT MAX(Window_Id) AS Window_Max FROM WindowsList",
      "SELECT MAX(Proj_Id) AS Proj_Max FROM ProjectsList",
      "SELECT MAX(Task_Id) AS Task_Max FROM ProjectTasksList",
      "SELECT MAX(Note_Id) AS Note_Max FROM NotesList",
      "SELECT MAX(BodyPart_Id) AS BodyPart_Max FROM BodyPartsList",
      "SELECT MAX(Discomfort_Id) AS Discomfort_Max FROM DiscomfortsList",
      "SELECT MAX(Tool_Id) AS Tool_Max FROM EMSToolsList",
      "SELECT MAX(Location_Id) AS Location_Max FROM LocationsList",
      "SELECT MAX(Position_Id) AS Position_Max FROM PositionsList",
      "SELECT MAX(Department_Id) AS Department_Max FROM DepartmentsList",
      "SELECT User_Id, Location_Id, Position_Id, Department_Id FROM Users",
      "SELECT * FROM Users WHERE Last_Name <> 'Unassigned' ORDER BY Sub_Dir",
      "select * from users where sub_dir > 'PX000000.DIR' order by SUB_DIR",
  };
  for (const char* sql : queries) {
    SCOPED_TRACE(sql);
    EXPECT_NO_THROW(db->OpenRecordset(sql));
  }
  struct Find {
    const char* sql;
    const char* criteria;
  };
  const Find finds[] = {
      {"SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5", "Data_Date =20021203"},
      {"SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5",
       "AlertSystem.Data_Date = 20011231 AND AlertSystem.Data_Hour = '09'"},
      {"SELECT * FROM ActivitySystem WHERE ActivitySystem.User_Num = 5", "Data_Date =  20020615"},
      {"SELECT * FROM ApplicationsList", "App_Name = 'Word Processor'"},
      {"SELECT * FROM WindowsList", "Window_Name = 'Document1 - Editor'"},
      {"SELECT * FROM ProjectsList", "Proj_Name = 'Budget'"},
      {"SELECT * FROM ProjectTasksList", "Task_Name = 'Review'"},
      {"SELECT * FROM NotesList", "Note_Name = ''"},
      {"SELECT * FROM BodyPartsList", "BodyPart_Name = 'Wrist'"},
      {"SELECT * FROM DiscomfortsList", "Discomfort_Name = 'Ache'"},
      {"SELECT * FROM EMSToolsList", "Tool_Name = 'Stretch'"},
      {"SELECT * FROM LocationsList", "Location_Name = 'Head Office'"},
      {"SELECT * FROM PositionsList", "Position_Name = 'Clerk'"},
      {"SELECT * FROM DepartmentsList", "Department_Name = 'Accounts'"},
      {"SELECT User_Id, Location_Id, Position_Id, Department_Id FROM Users", "User_Id ='A1'"},
  };
  for (const auto& f : finds) {
    SCOPED_TRACE(f.criteria);
    auto rs = db->OpenRecordset(f.sql);
    EXPECT_NO_THROW(rs->FindFirst(f.criteria));
    EXPECT_TRUE(rs->NoMatch());
  }
}

TEST_F(SqlSubset, RefusesEverythingElse) {
  struct Case {
    const char* sql;
    int error;
  };
  const Case selects[] = {
      {"SELECT * FROM NotesList WHERE Note_Name = 'O'Brien'", 3075},
      {"SELECT * FROM NotesList WHERE Note_Id = 1 OR Note_Id = 2", 3075},
      {"SELECT * FROM NotesList WHERE Note_Name LIKE 'a*'", 3075},
      {"SELECT * FROM NotesList WHERE Note_Id < 3", 3075},
      {"SELECT * FROM NotesList WHERE Note_Id >= 3", 3075},
      {"SELECT * FROM NotesList WHERE Note_Id = Note_Id", 3075},
      {"SELECT * FROM NotesList WHERE Note_Name = 'open", 3075},
      {"SELECT * FROM NotesList WHERE (Note_Id = 1)", 3075},
      {"SELECT * FROM NotesList;", 3142},
      {"SELECT * FROM NotesList WHERE Note_Id = 1; DELETE FROM NotesList WHERE Note_Id = 1", 3142},
      {"SELECT * FROM NotesList INNER JOIN ToolsList ON Note_Id = Tool_Id", 3131},
      {"SELECT * FROM NotesList, EMSToolsList", 3131},
      {"SELECT * FROM NotesList ORDER BY Note_Id DESC", 3138},
      {"SELECT DISTINCT Note_Id FROM NotesList", 3141},
      {"SELECT COUNT(*) FROM NotesList", 3141},
      {"INSERT INTO NotesList VALUES (1, 'a')", 3129},
      {"UPDATE NotesList SET Note_Id = 1", 3129},
      {"DROP TABLE NotesList", 3129},
      {"", 3129},
      {"SELECT * FROM NoSuchTable", 3078},
      {"SELECT No_Such FROM NotesList", 3265},
      {"SELECT * FROM NotesList WHERE ToolsList.Note_Id = 1", 3265},
      {"SELECT * FROM NotesList WHERE Note_Id = 'one'", 3464},
  };
  for (const auto& c : selects) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(c.sql); }), c.error);
  }
  const Case actions[] = {
      {"DELETE FROM Users", 3131},
      {"DELETE FROM Users WHERE User_Id = 'O'Brien'", 3075},
      {"ALTER TABLE Users ADD Location_Id INTEGER", 3293},
      {"ALTER TABLE Users ADD COLUMN Location_Id LONG", 3293},
      {"ALTER TABLE Users ADD COLUMN Name TEXT", 3293},
      {"ALTER TABLE Users DROP COLUMN Sub_Dir", 3293},
      {"CREATE TABLE T (A INTEGER, B TEXT (256))", 3290},
      {"CREATE TABLE T (A INTEGER B TEXT (5))", 3290},
      {"CREATE TABLE T (A INTEGER, A TEXT (5))", 3191},
      {"CREATE INDEX Ix ON Users (User_Id)", 3290},
      {"CREATE UNIQUE INDEX Ix ON Users User_Id", 3291},
      {"SELECT * FROM Users", 3065},
      {"ALTER TABLE NoSuch ADD COLUMN A INTEGER", 3078},
      {"CREATE UNIQUE INDEX Ix ON Users (No_Such)", 3265},
  };
  for (const auto& c : actions) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(ErrorOf([&] { db->Execute(c.sql); }), c.error);
  }
  auto rs = db->OpenRecordset("SELECT * FROM NotesList");
  EXPECT_EQ(ErrorOf([&] { rs->FindFirst("Note_Name = 'it's'"); }), 3075);
  EXPECT_EQ(ErrorOf([&] { rs->FindFirst("Note_Name = 'a' OR Note_Id = 1"); }), 3075);
  const std::string msg = dbtest::MessageOf([&] { rs->FindFirst("Note_Name = 'O'Brien'"); });
  EXPECT_NE(msg.find("Syntax error (missing operator) in query expression 'Note_Name = 'O'Brien''."),
            std::string::npos)
      << msg;
  EXPECT_NE(msg.find(file.string()), std::string::npos) << msg;
}

TEST_F(SqlSubset, SchemaStatementsRunOnce) {
  const char* statements[] = {
      "ALTER TABLE Users ADD COLUMN Location_Id INTEGER",
      "CREATE TABLE LocationsList (Location_Id INTEGER, Location_Name TEXT (255))",
      "CREATE UNIQUE INDEX Location_Id_Ix ON LocationsList (Location_Id)",
  };
  for (const char* sql : statements) db->Execute(sql);
  EXPECT_EQ(ErrorOf([&] { db->Execute(statements[0]); }), 3380);
  EXPECT_EQ(ErrorOf([&] { db->Execute(statements[1]); }), 3010);
  EXPECT_EQ(ErrorOf([&] { db->Execute(statements[2]); }), 3375);
  EXPECT_EQ(ErrorOf([&] { db->Execute("CREATE TABLE alertsystem (A INTEGER)"); }), 3010);
  // The same index name on another table is another index.
  EXPECT_NO_THROW(db->Execute("CREATE UNIQUE INDEX Location_Id_Ix ON Users (Location_Id)"));

  // INTEGER is a Long and TEXT (n) a Text of n characters; new columns are Null.
  auto users = db->OpenRecordset("SELECT * FROM Users");
  users->AddNew();
  users->Set("Location_Id", int64_t{2147483647});
  users->Update();
  auto defs = db->TableDefs();
  for (const auto& t : defs) {
    if (t.name != "LocationsList") continue;
    ASSERT_EQ(t.fields.size(), 2u);
    EXPECT_EQ(t.fields[0].type, prax::db::FieldType::Long);
    EXPECT_EQ(t.fields[1].type, prax::db::FieldType::Text);
    EXPECT_EQ(t.fields[1].size, 255);
    ASSERT_EQ(t.indexes.size(), 1u);
    EXPECT_EQ(t.indexes[0].name, "Location_Id_Ix");
    EXPECT_TRUE(t.indexes[0].unique);
    EXPECT_FALSE(t.indexes[0].primary);
  }

  // A unique index over duplicate values cannot be made.
  auto pos = db->OpenRecordset("SELECT * FROM DiscomfortsList");
  for (int i = 0; i < 2; ++i) {
    pos->AddNew();
    pos->Set("Discomfort_Id", 7);
    pos->Set("Discomfort_Name", "x");
    pos->Update();
  }
  EXPECT_EQ(ErrorOf([&] { db->Execute("CREATE UNIQUE INDEX Dup_Ix ON DiscomfortsList (Discomfort_Id)"); }), 3022);
}

TEST_F(SqlSubset, DeleteRemovesOnlyMatchingRows) {
  auto users = db->OpenRecordset("SELECT * FROM Users");
  for (const char* dir : {"PX000000.DIR", "px000001.dir", "PX000045.DIR", "Samples"}) {
    users->AddNew();
    users->Set("Sub_Dir", dir);
    users->Update();
  }
  users->AddNew();
  users->Set("Last_Name", "No folder");
  users->Update();
  db->Execute("DELETE FROM Users WHERE Sub_Dir > 'PX000000.DIR'");
  auto rs = db->OpenRecordset("SELECT * FROM Users ORDER BY Sub_Dir");
  std::vector<std::string> left;
  for (; !rs->Eof(); rs->MoveNext()) {
    const Value v = rs->Get("Sub_Dir");
    left.push_back(v.IsNull() ? "Null" : v.AsText());
  }
  EXPECT_EQ(left, (std::vector<std::string>{"Null", "PX000000.DIR"}));
  // A record set opened before the delete no longer finds the rows.
  users->FindFirst("Sub_Dir = 'PX000045.DIR'");
  EXPECT_TRUE(users->NoMatch());
}

}  // namespace

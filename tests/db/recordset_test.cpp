// Field rules, unique indexes and dynaset behaviour of record sets.

#include <gtest/gtest.h>

#include <array>

#include "db_fixture.h"

namespace {

using dbtest::ErrorOf;
using dbtest::HistoryDb;
using prax::db::Value;

int64_t Count(prax::db::Database& db, const std::string& table) {
  auto rs = db.OpenRecordset("SELECT * FROM " + table);
  int64_t n = 0;
  while (!rs->Eof()) {
    ++n;
    rs->MoveNext();
  }
  return n;
}

TEST_F(HistoryDb, FieldValuesAreHeldToTheirTypes) {
  struct Case {
    const char* field;
    Value value;
    int error;
  };
  const Case cases[] = {
      {"BodyPart_Id", 32767, 0},
      {"BodyPart_Id", 32768, 6},
      {"BodyPart_Id", -32768, 0},
      {"BodyPart_Id", -32769, 6},
      {"Data_Date", int64_t{2147483647}, 0},
      {"Data_Date", int64_t{2147483648}, 6},
      {"Data_Date", int64_t{-2147483648LL}, 0},
      {"Data_Date", int64_t{-2147483649LL}, 6},
      {"Data_Hour", "09", 0},
      {"Data_Hour", "123", 3163},
      {"Data_Hour", "\xc3\xa4\xc3\xb6", 0},  // two characters, four bytes
      {"Data_Hour", "", 3315},
      {"Data_Hour", Value(), 0},
      {"Note_Id", "12", 0},     // numeric text into a number field
      {"Note_Id", "twelve", 13},
      {"Data_Minute", 7, 0},    // a number into a text field
  };
  auto rs = db->OpenRecordset("SELECT * FROM UserNotes");
  int64_t stored = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " = " + c.value.Describe());
    const int error = ErrorOf([&] {
      rs->AddNew();
      rs->Set("User_Num", 1);
      rs->Set(c.field, c.value);
      rs->Update();
    });
    EXPECT_EQ(error, c.error);
    if (error == 0) {
      ++stored;
      rs->MoveLast();
      EXPECT_EQ(rs->Get("User_Num"), Value(1));
    }
  }
  EXPECT_EQ(Count(*db, "UserNotes"), stored);
  // A refused row leaves nothing pending: the next row starts afresh.
  rs->AddNew();
  rs->Set("User_Num", 2);
  rs->Update();
  rs->MoveLast();
  EXPECT_TRUE(rs->Get("Data_Hour").IsNull());
  EXPECT_EQ(Count(*db, "UserNotes"), stored + 1);
}

TEST_F(HistoryDb, ZeroLengthMessageNamesTheFieldAndFile) {
  auto rs = db->OpenRecordset("SELECT * FROM NotesList");
  rs->AddNew();
  rs->Set("Note_Name", "");
  const std::string msg = dbtest::MessageOf([&] { rs->Update(); });
  EXPECT_NE(msg.find("Field 'NotesList.Note_Name' cannot be a zero-length string."), std::string::npos) << msg;
  EXPECT_NE(msg.find(file.string()), std::string::npos) << msg;
}

TEST_F(HistoryDb, UniqueIndexesIgnoreLetterCase) {
  auto add = [&](const char* table, const char* id, const char* name, int n, Value text) {
    auto rs = db->OpenRecordset(std::string("SELECT * FROM ") + table);
    return ErrorOf([&] {
      rs->AddNew();
      rs->Set(id, n);
      rs->Set(name, text);
      rs->Update();
    });
  };
  EXPECT_EQ(add("ApplicationsList", "App_Id", "App_Name", 1, "word"), 0);
  EXPECT_EQ(add("ApplicationsList", "App_Id", "App_Name", 2, "WORD"), 3022);
  EXPECT_EQ(add("ApplicationsList", "App_Id", "App_Name", 3, Value()), 3058);  // primary index
  EXPECT_EQ(add("ProjectsList", "Proj_Id", "Proj_Name", 1, "word"), 0);
  EXPECT_EQ(add("ProjectsList", "Proj_Id", "Proj_Name", 1, "WORD"), 0);
  EXPECT_EQ(Count(*db, "ApplicationsList"), 1);
  EXPECT_EQ(Count(*db, "ProjectsList"), 2);
  // The case of letters beyond A-Z, in new rows and in edits; accents count.
  EXPECT_EQ(add("ApplicationsList", "App_Id", "App_Name", 4, "\xC3\xBC" "bersicht"), 0);
  EXPECT_EQ(add("ApplicationsList", "App_Id", "App_Name", 5, "\xC3\x9C" "BERSICHT"), 3022);
  EXPECT_EQ(add("ApplicationsList", "App_Id", "App_Name", 6, "Ubersicht"), 0);
  auto apps = db->OpenRecordset("SELECT * FROM ApplicationsList");
  for (const char* name : {"\xC3\x9C" "bersicht", "\xC3\xBC" "BERSICHT"}) {
    apps->FindFirst("App_Id = 6");
    apps->Edit();
    apps->Set("App_Name", name);
    EXPECT_EQ(ErrorOf([&] { apps->Update(); }), 3022);
    apps->FindFirst("App_Id = 4");
    apps->Edit();
    apps->Set("App_Name", name);
    EXPECT_EQ(ErrorOf([&] { apps->Update(); }), 0);  // its own row is no duplicate
  }
  EXPECT_EQ(Count(*db, "ApplicationsList"), 3);

  auto rs = db->OpenRecordset("SELECT * FROM WindowsList");
  rs->AddNew();
  rs->Set("Window_Id", 1);
  rs->Set("Window_Name", "Inbox");
  rs->Update();
  rs->AddNew();
  rs->Set("Window_Id", 2);
  rs->Set("Window_Name", "INBOX");
  const std::string msg = dbtest::MessageOf([&] { rs->Update(); });
  EXPECT_NE(msg.find("duplicate values in the index 'Window_Name_Ix'"), std::string::npos) << msg;
}

// Searches through an index of the file and through the record set's own hash index.
TEST_F(HistoryDb, CriteriaIgnoreTheCaseOfEveryLetter) {
  const char* const names[] = {"Z\xC3\xBCrich", "\xC3\x89" "cole", "\xC5\x92uvre", "stra\xC3\x9F" "e", "\xC3\xBF" "e"};
  const struct {
    const char* criterion;
    int id;  // 0: no match
  } cases[] = {{" = 'Z\xC3\x9CRICH'", 1},    {" = 'zurich'", 0},   {" = '\xC3\xA9" "COLE'", 2},
               {" = 'ecole'", 0},             {" = '\xC5\x93UVRE'", 3}, {" = 'STRASSE'", 0},
               {" = 'STRA\xC3\x9F" "E'", 4}, {" = '\xC5\xB8" "E'", 5}, {" <> 'z\xC3\xBCrich'", 2},
               {" > '\xC5\xB8'", 3}};
  for (const auto& [table, id, name] : {std::array<const char*, 3>{"ApplicationsList", "App_Id", "App_Name"},
                                        std::array<const char*, 3>{"NotesList", "Note_Id", "Note_Name"}}) {
    auto rs = db->OpenRecordset(std::string("SELECT * FROM ") + table);
    for (int i = 0; i < 5; ++i) {
      rs->AddNew();
      rs->Set(id, i + 1);
      rs->Set(name, names[i]);
      rs->Update();
    }
    for (const auto& c : cases) {
      rs->FindFirst(name + std::string(c.criterion));
      EXPECT_EQ(rs->NoMatch() ? 0 : rs->Get(id).AsInt(), c.id) << table << c.criterion;
    }
  }
}

TEST_F(HistoryDb, AddedRowsAreLastAndFound) {
  auto rs = db->OpenRecordset("SELECT * FROM NotesList");
  EXPECT_TRUE(rs->Eof());
  EXPECT_TRUE(rs->Bof());
  EXPECT_EQ(ErrorOf([&] { rs->MoveLast(); }), 3021);
  EXPECT_EQ(ErrorOf([&] { rs->Get("Note_Id"); }), 3021);
  EXPECT_EQ(ErrorOf([&] { rs->Edit(); }), 3021);
  for (int i = 1; i <= 3; ++i) {
    rs->AddNew();
    rs->Set("Note_Id", i);
    rs->Set("Note_Name", "note " + std::to_string(i));
    rs->Update();
    EXPECT_EQ(rs->Get("Note_Id"), Value(i));  // the new row is current
  }
  rs->FindFirst("Note_Name = 'NOTE 2'");
  ASSERT_FALSE(rs->NoMatch());
  EXPECT_EQ(rs->Get("Note_Id"), Value(2));
  rs->FindFirst("Note_Name = 'note 9'");
  EXPECT_TRUE(rs->NoMatch());
  EXPECT_EQ(rs->Get("Note_Id"), Value(2));  // unchanged by a failed search
  rs->MoveLast();
  EXPECT_EQ(rs->Get("Note_Name"), Value("note 3"));
  // Found again after a later addition, through the same (now current) index.
  rs->AddNew();
  rs->Set("Note_Id", 4);
  rs->Set("Note_Name", "Fourth");
  rs->Update();
  rs->MoveFirst();
  rs->FindFirst("Note_Name = 'fourth'");
  ASSERT_FALSE(rs->NoMatch());
  EXPECT_EQ(rs->Get("Note_Id"), Value(4));
  // A malformed criterion is a syntax error.
  EXPECT_EQ(ErrorOf([&] { rs->FindFirst("Note_Name = 'O'Brien'"); }), 3075);
  EXPECT_EQ(ErrorOf([&] { rs->Get("No_Such_Field"); }), 3265);
}

TEST_F(HistoryDb, PerUserRecordSetsSearchTheirOwnRows) {
  {
    auto all = db->OpenRecordset("SELECT * FROM AlertSystem");
    for (int user : {5, 6, 5}) {
      for (const char* hour : {"00", "09", "10"}) {
        all->AddNew();
        all->Set("User_Num", user);
        all->Set("Data_Date", user == 5 ? 20011231 : 20020101);
        all->Set("Data_Hour", hour);
        all->Set("Error_Keys", 0);
        all->Update();
      }
    }
  }
  auto rs = db->OpenRecordset("SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5");
  int rows = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    EXPECT_EQ(rs->Get("User_Num"), Value(5));
    ++rows;
  }
  EXPECT_EQ(rows, 6);
  rs->FindFirst("Data_Date =20020101");  // user 6's day is not in this record set
  EXPECT_TRUE(rs->NoMatch());
  rs->FindFirst("Data_Date =20011231");
  EXPECT_FALSE(rs->NoMatch());
  // A row added here is found by the next search and reached by MoveLast.
  rs->AddNew();
  rs->Set("User_Num", 5);
  rs->Set("Data_Date", 20020102);
  rs->Set("Data_Hour", "01");
  rs->Update();
  rs->MoveFirst();
  rs->FindFirst("AlertSystem.Data_Date = 20020102 AND AlertSystem.Data_Hour = '01'");
  ASSERT_FALSE(rs->NoMatch());
  rs->MoveLast();
  EXPECT_EQ(rs->Get("Data_Date"), Value(20020102));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), 3021);

  // The error-keys pass: a column list, composite search, Edit and Update.
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
  EXPECT_EQ(rs->Get("Error_Keys"), Value(0));   // the other one

  // Editing a searched column moves the row in the search.
  rs->FindFirst("Data_Date = 20011231 AND Data_Hour = '10'");
  rs->Edit();
  rs->Set("Data_Hour", "11");
  rs->Update();
  rs->FindFirst("Data_Date = 20011231 AND Data_Hour = '11'");
  EXPECT_FALSE(rs->NoMatch());
}

TEST_F(HistoryDb, MaximumRecordSets) {
  auto max = db->OpenRecordset("SELECT MAX(Tool_Id) AS Tool_Max FROM EMSToolsList");
  EXPECT_TRUE(max->Get("Tool_Max").IsNull());
  EXPECT_EQ(ErrorOf([&] { max->AddNew(); }), 3027);
  EXPECT_EQ(ErrorOf([&] { max->Edit(); }), 3027);
  auto rs = db->OpenRecordset("SELECT * FROM EMSToolsList");
  for (int id : {3, 41, 7}) {
    rs->AddNew();
    rs->Set("Tool_Id", id);
    rs->Set("Tool_Name", "tool");
    rs->Update();
  }
  EXPECT_EQ(db->OpenRecordset("SELECT MAX(Tool_Id) AS Tool_Max FROM EMSToolsList")->Get("Tool_Max"), Value(41));
}

TEST_F(HistoryDb, OrderedRecordSetsKeepAdditionsLast) {
  db->Execute("CREATE TABLE Users (User_Id TEXT (20), Last_Name TEXT (30), Sub_Dir TEXT (12))");
  auto users = db->OpenRecordset("SELECT * FROM Users");
  for (const char* dir : {"px000003.DIR", "PX000001.DIR", "PX000002.DIR"}) {
    users->AddNew();
    users->Set("Sub_Dir", dir);
    users->Update();
  }
  auto rs = db->OpenRecordset("SELECT * FROM Users WHERE Last_Name <> 'Unassigned' ORDER BY Sub_Dir");
  EXPECT_TRUE(rs->Eof());  // Null Last_Name matches no comparison
  auto all = db->OpenRecordset("SELECT * FROM Users ORDER BY Sub_Dir");
  std::vector<std::string> seen;
  for (; !all->Eof(); all->MoveNext()) seen.push_back(all->Get("Sub_Dir").AsText());
  EXPECT_EQ(seen, (std::vector<std::string>{"PX000001.DIR", "PX000002.DIR", "px000003.DIR"}));
  all->AddNew();
  all->Set("Sub_Dir", "PX000000.DIR");
  all->Update();
  all->MoveLast();
  EXPECT_EQ(all->Get("Sub_Dir"), Value("PX000000.DIR"));
  all->FindFirst("Sub_Dir > 'PX000001.DIR'");
  EXPECT_EQ(all->Get("Sub_Dir"), Value("PX000002.DIR"));
}

TEST_F(HistoryDb, RowsWrittenBeforeAnErrorStay) {
  auto rs = db->OpenRecordset("SELECT * FROM ApplicationsList");
  rs->AddNew();
  rs->Set("App_Id", 1);
  rs->Set("App_Name", "one");
  rs->Update();
  db->Commit();
  rs->AddNew();
  rs->Set("App_Id", 2);
  rs->Set("App_Name", "two");
  rs->Update();
  EXPECT_EQ(ErrorOf([&] { db->Execute("DELETE FROM ApplicationsList WHERE App_Name = 'O'Brien'"); }), 3075);
  rs->AddNew();
  rs->Set("App_Id", 3);
  rs->Set("App_Name", "ONE");
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }), 3022);
  rs->AddNew();
  rs->Set("App_Id", 4);
  rs->Set("App_Name", "four");
  rs->Update();
  Reopen();
  EXPECT_EQ(Count(*db, "ApplicationsList"), 3);
  // Record sets outlive their database without crashing.
  auto late = db->OpenRecordset("SELECT * FROM ApplicationsList");
  db->Close();
  EXPECT_EQ(ErrorOf([&] { late->MoveNext(); }), 3420);
  EXPECT_EQ(ErrorOf([&] { late->Get("App_Id"); }), 3420);
  EXPECT_EQ(ErrorOf([&] { db->Execute("DELETE FROM ApplicationsList WHERE App_Id = 1"); }), 3420);
  late.reset();
}

}  // namespace

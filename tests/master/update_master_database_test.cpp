#include <gtest/gtest.h>

#include <sstream>

#include "master/master_database.h"
#include "master_fixture.h"
#include "platform/error.h"

namespace {

using mastertest::MasterContext;
using mastertest::Rows;

// A network folder with an upgraded roster of A1, A2 and B7, and a UserDefs.Prn.
struct ImportCase {
  praxtest::TempDir dir;
  std::filesystem::path master = dir.Path() / "MASTER.MDB";
  MasterContext m{dir.Text()};

  explicit ImportCase(std::string_view defs, bool writeDefs = true) {
    praxtest::MakeRoster(master, {{"A1", "Smith", "Ann", "", "PX000001.DIR"},
                                  {"A2", "Jones", "Bob", "C", "PX000002.DIR"},
                                  {"B7", "Lee", "Kim", "", "PX000003.DIR"},
                                  {"", "Unassigned", "", "", "PX000004.DIR"}});
    prax::ModifyMasterDatabase(m.ctx);
    if (writeDefs) dir.Write("UserDefs.Prn", defs);
  }
  void AddLocation(int id, const char* name) {
    auto db = prax::db::Database::Open(master);
    auto rs = db->OpenRecordset("SELECT * FROM LocationsList");
    rs->AddNew();
    rs->Set("Location_Id", id);
    rs->Set("Location_Name", name);
    rs->Update();
    db->Close();
  }
  // "User_Id|Location|Department|Position" per roster row, in roster order.
  std::vector<std::string> Users() const {
    return Rows(master, "SELECT User_Id, Location_Id, Department_Id, Position_Id FROM Users");
  }
  // A list as the sqlite3 program reads it.
  std::vector<std::string> List(const prax::LookupSpec& l) const {
    std::istringstream lines(praxtest::Sqlite3(master, "SELECT * FROM " + std::string(l.table) + ";"));
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    return rows;
  }
};

TEST(UpdateMasterDatabase, RecordsSetIdsAndGrowTheLists) {
  struct Case {
    const char* name;
    std::string defs;
    std::vector<std::string> users, locations, departments, positions;
  };
  const std::vector<Case> cases = {
      {"one record into empty lists",
       "\"A1\",\"Head Office\",\"Accounts\",\"Clerk\"\r\n",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Head Office"},
       {"1|Accounts"},
       {"1|Clerk"}},
      {"same location same id, a new one the next; records span and share lines",
       "A1,Head Office,Accounts,Clerk,A2\r\n  head office , Sales\r\nManager\r\nB7,\"Depot, North\",Sales,Clerk\r\n",
       {"A1|1|1|1", "A2|1|2|2", "B7|2|2|1", "Null|Null|Null|Null"},
       {"1|Head Office", "2|Depot, North"},
       {"1|Accounts", "2|Sales"},
       {"1|Clerk", "2|Manager"}},
      {"unknown user: its names are tried as ids and dropped, the next record applies",
       "ZZ9,Paris,Export,Buyer\r\nA2,Rome,Export,Buyer\r\n",
       {"A1|Null|Null|Null", "A2|1|1|1", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Rome"},
       {"1|Export"},
       {"1|Buyer"}},
      {"a name equal to a listed id takes over the record",
       "ZZ9,B7,Oslo,Legal,Clerk\r\n",
       {"A1|Null|Null|Null", "A2|Null|Null|Null", "B7|1|1|1", "Null|Null|Null|Null"},
       {"1|Oslo"},
       {"1|Legal"},
       {"1|Clerk"}},
      {"user ids match without regard to case; the later record of a user wins",
       "a1,Oslo,Legal,Clerk\r\nA1,Bergen,Legal,Clerk\r\n",
       {"A1|2|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Oslo", "2|Bergen"},
       {"1|Legal"},
       {"1|Clerk"}},
      {"names are Windows-1252 text, matched ignoring the case of accented letters but not their accents",
       "A1,Z\xFCrich,R\xE9seau,Chef\r\nA2,Z\xDCRICH,R\xC9SEAU,CHEF\r\nB7,Zurich,Reseau,Chef\r\n",
       {"A1|1|1|1", "A2|1|1|1", "B7|2|2|1", "Null|Null|Null|Null"},
       {"1|Z\xC3\xBCrich", "2|Zurich"},
       {"1|R\xC3\xA9seau", "2|Reseau"},
       {"1|Chef"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImportCase t(c.defs);
    prax::UpdateMasterDatabase(t.m.ctx);
    EXPECT_EQ(t.m.ctx.Db, nullptr);
    EXPECT_EQ(t.Users(), c.users);
    EXPECT_EQ(t.List(prax::lists::kLocations), c.locations);
    EXPECT_EQ(t.List(prax::lists::kDepartments), c.departments);
    EXPECT_EQ(t.List(prax::lists::kPositions), c.positions);
  }
}

TEST(UpdateMasterDatabase, NewLocationFollowsLargestId) {
  ImportCase t("A1,Head Office,Accounts,Clerk\r\nA2,Old Mill,Accounts,Clerk\r\n");
  t.AddLocation(7, "Old Mill");
  t.AddLocation(2, "Quay");
  prax::UpdateMasterDatabase(t.m.ctx);
  EXPECT_EQ(t.List(prax::lists::kLocations), (std::vector<std::string>{"7|Old Mill", "2|Quay", "8|Head Office"}));
  // Read back with the sqlite3 program too.
  EXPECT_EQ(praxtest::Sqlite3(t.master, "SELECT User_Id, Location_Id FROM Users WHERE Location_Id IS NOT NULL "
                                        "ORDER BY User_Id;"),
            "A1|8\nA2|7\n");
}

TEST(UpdateMasterDatabase, NoDefinitionsFileDoesNothing) {
  praxtest::TempDir dir;  // no MASTER.MDB either: it is not opened
  MasterContext m(dir.Text());
  EXPECT_NO_THROW(prax::UpdateMasterDatabase(m.ctx));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "MASTER.MDB"));
}

// A failure of the strict stretch ends the import with an Error naming the
// file, the item and the reason; the rows stored before it stay.
TEST(UpdateMasterDatabase, FailureEndsImportKeepingEarlierRows) {
  struct Case {
    const char* name;
    std::string defs;
    int number;
    const char* item;
    std::vector<std::string> users;
  };
  const std::vector<Case> cases = {
      {"file ends right after a matched id",
       "A1,Head Office,Accounts,Clerk\r\nA2\r\n",
       prax::err::kInputPastEnd,
       "\"A2\"",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"}},
      {"quote in a name",
       "A1,Head Office,Accounts,Clerk\r\nB7,O'Brien Hall,Accounts,Clerk\r\n",
       prax::err::kSyntaxInExpression,
       "\"O'Brien Hall\"",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"}},
      {"quote in a user id",
       "A1,Head Office,Accounts,Clerk\r\nO'Hara,Quay,Accounts,Clerk\r\n",
       prax::err::kSyntaxInExpression,
       "\"O'Hara\"",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImportCase t(c.defs);
    try {
      prax::UpdateMasterDatabase(t.m.ctx);
      ADD_FAILURE() << "expected an error";
    } catch (const prax::Error& e) {
      const std::string what = e.what();
      EXPECT_EQ(e.Number(), c.number) << what;
      EXPECT_NE(what.find(t.dir.Text() + "UserDefs.Prn"), std::string::npos) << what;
      EXPECT_NE(what.find(c.item), std::string::npos) << what;
    }
    EXPECT_EQ(t.m.ctx.Db, nullptr);
    EXPECT_EQ(t.Users(), c.users);
    EXPECT_EQ(praxtest::Sqlite3(t.master, "SELECT Location_Name FROM LocationsList;"), "Head Office\n");
  }
}

TEST(UpdateMasterDatabase, RosterWithoutListsEndsImport) {
  // A roster never upgraded: no lists at all.
  praxtest::TempDir bare;
  praxtest::MakeRoster(bare.Path() / "MASTER.MDB", {{"A1", "Smith", "", "", "PX000001.DIR"}});
  bare.Write("UserDefs.Prn", "A1,Head Office,Accounts,Clerk\r\n");
  MasterContext m(bare.Text());
  EXPECT_THROW(prax::UpdateMasterDatabase(m.ctx), prax::Error);
  EXPECT_EQ(m.ctx.Db, nullptr);
}

}  // namespace

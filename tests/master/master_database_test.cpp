#include <gtest/gtest.h>

#include "master_fixture.h"

namespace {

using mastertest::MasterContext;
using mastertest::Rows;
using Lines = std::vector<std::string>;

// A fresh roster, or one that already holds LocationsList (with distinct or
// duplicate ids): the missing columns and lists are added, Null and empty;
// an existing list keeps its rows and gets its unique index unless two rows
// share an id; a second run changes nothing.
TEST(ModifyMasterDatabase, AddsWhatIsMissingOnce) {
  for (const int existing : {0, 1, 2}) {
    SCOPED_TRACE(existing);
    praxtest::TempDir dir;
    const auto master = dir.Path() / "MASTER.MDB";
    praxtest::MakeRoster(master, {{"A1", "Smith", "Ann", "B", "PX000001.DIR"}, {"", "Unassigned", "", "", "PX000002.DIR"}});
    if (existing)
      praxtest::Sqlite3(master, std::string("CREATE TABLE LocationsList (Location_Id INTEGER, Location_Name TEXT (255)); INSERT INTO "
                                "LocationsList VALUES (3, 'Depot'), (") + std::to_string(existing == 2 ? 3 : 4) + ", 'Depot');");
    MasterContext m(dir.Text());
    prax::ModifyMasterDatabase(m.ctx);
    EXPECT_EQ(Rows(master, "SELECT User_Id, Location_Id, Department_Id, Position_Id, LastRunDate, SystemVer, "
                           "NetLoggingOff FROM Users"),
              (std::vector<std::string>{"A1|Null|Null|Null|Null|Null|Null", "Null|Null|Null|Null|Null|Null|Null"}));
    EXPECT_EQ(praxtest::Sqlite3(master, "SELECT (SELECT count(*) FROM LocationsList), (SELECT count(*) FROM "
                                        "PositionsList) + (SELECT count(*) FROM DepartmentsList);"),
              existing ? "2|0\n" : "0|0\n");
    // The lists whose id has a unique index.
    EXPECT_EQ(praxtest::Sqlite3(master, "SELECT m.name FROM sqlite_master m, pragma_index_list(m.name) l, "
                                        "pragma_index_info(l.name) i WHERE l.\"unique\" AND i.name = "
                                        "replace(m.name, 'sList', '_Id') ORDER BY 1;"),
              existing == 2 ? "DepartmentsList\nPositionsList\n" : "DepartmentsList\nLocationsList\nPositionsList\n");
    const std::string before = praxtest::Sqlite3(master, ".dump");
    prax::ModifyMasterDatabase(m.ctx);
    EXPECT_EQ(praxtest::Sqlite3(master, ".dump"), before);
  }
}

TEST(ModifyMasterDatabase, UnopenableDatabaseEndsWithErrorNamingIt) {
  for (const bool present : {false, true}) {
    praxtest::TempDir dir;
    if (present) dir.Write("MASTER.MDB", "Standard Jet DB\nnot a database of ours");
    MasterContext m(dir.Text());
    const prax::Error e = praxtest::Raised([&] { prax::ModifyMasterDatabase(m.ctx); });
    const std::string what = e.what();
    EXPECT_TRUE(praxtest::Has(what, "'" + dir.Text() + "MASTER.MDB'")) << what;
    EXPECT_FALSE(praxtest::Has(what, "Altering")) << what;  // the caller names the operation
    EXPECT_EQ(e.Number(), present ? prax::err::kUnrecognizedFormat : prax::err::kCannotFindFile);
  }
}

// A network folder with an upgraded roster of A1, A2, B7 and a free slot, and a UserDefs.Prn.
struct ImportCase {
  praxtest::TempDir dir;
  std::filesystem::path master = dir.Path() / "MASTER.MDB";
  MasterContext m{dir.Text()};

  explicit ImportCase(std::string_view defs) {
    praxtest::MakeRoster(master, {{"A1", "Smith", "Ann", "", "PX000001.DIR"}, {"A2", "Jones", "Bob", "C", "PX000002.DIR"},
                                  {"B7", "Lee", "Kim", "", "PX000003.DIR"}, {"", "Unassigned", "", "", "PX000004.DIR"}});
    prax::ModifyMasterDatabase(m.ctx);
    dir.Write("UserDefs.Prn", defs);
  }
  // "User_Id|Location|Department|Position" per roster row.
  Lines Users() const { return mastertest::Rows(master, "SELECT User_Id, Location_Id, Department_Id, Position_Id FROM Users"); }
  // Locations, departments and positions as the sqlite3 program reads them, one text per list.
  Lines Lists() const {
    Lines out;
    for (const char* table : {"LocationsList", "DepartmentsList", "PositionsList"})
      out.push_back(praxtest::Sqlite3(master, std::string("SELECT * FROM ") + table + ";"));
    return out;
  }
};

TEST(UpdateMasterDatabase, RecordsSetIdsAndGrowTheLists) {
  const struct {
    const char* name;
    std::string defs;
    Lines users, lists;
    const char* before = "";  // rows already listed
  } cases[] = {
      {"one record into empty lists", "\"A1\",\"Head Office\",\"Accounts\",\"Clerk\"\r\n",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Head Office\n", "1|Accounts\n", "1|Clerk\n"}},
      {"same location same id, a new one the next; records span and share lines",
       "A1,Head Office,Accounts,Clerk,A2\r\n  head office , Sales\r\nManager\r\nB7,\"Depot, North\",Sales,Clerk\r\n",
       {"A1|1|1|1", "A2|1|2|2", "B7|2|2|1", "Null|Null|Null|Null"},
       {"1|Head Office\n2|Depot, North\n", "1|Accounts\n2|Sales\n", "1|Clerk\n2|Manager\n"}},
      {"unknown user: its names are tried as ids and dropped, the next record applies",
       "ZZ9,Paris,Export,Buyer\r\nA2,Rome,Export,Buyer\r\n",
       {"A1|Null|Null|Null", "A2|1|1|1", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Rome\n", "1|Export\n", "1|Buyer\n"}},
      {"a name equal to a listed id takes over the record", "ZZ9,B7,Oslo,Legal,Clerk\r\n",
       {"A1|Null|Null|Null", "A2|Null|Null|Null", "B7|1|1|1", "Null|Null|Null|Null"},
       {"1|Oslo\n", "1|Legal\n", "1|Clerk\n"}},
      {"user ids match without regard to case; the later record of a user wins",
       "a1,Oslo,Legal,Clerk\r\nA1,Bergen,Legal,Clerk\r\n",
       {"A1|2|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Oslo\n2|Bergen\n", "1|Legal\n", "1|Clerk\n"}},
      {"Windows-1252 names, matched ignoring the case of accented letters but not their accents",
       "A1,Z\xFCrich,R\xE9seau,Chef\r\nA2,Z\xDCRICH,R\xC9SEAU,CHEF\r\nB7,Zurich,Reseau,Chef\r\n",
       {"A1|1|1|1", "A2|1|1|1", "B7|2|2|1", "Null|Null|Null|Null"},
       {"1|Z\xC3\xBCrich\n2|Zurich\n", "1|R\xC3\xA9seau\n2|Reseau\n", "1|Chef\n"}},
      {"a new location follows the largest id", "A1,Head Office,Accounts,Clerk\r\nA2,Old Mill,Accounts,Clerk\r\n",
       {"A1|8|1|1", "A2|7|1|1", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"7|Old Mill\n2|Quay\n8|Head Office\n", "1|Accounts\n", "1|Clerk\n"},
       "INSERT INTO LocationsList VALUES (7, 'Old Mill'), (2, 'Quay');"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImportCase t(c.defs);
    praxtest::Sqlite3(t.master, c.before);
    prax::UpdateMasterDatabase(t.m.ctx, &t.m.status);
    EXPECT_EQ(t.Users(), c.users);
    EXPECT_EQ(t.Lists(), c.lists);
  }
}

// No UserDefs.Prn: nothing is opened. A roster never upgraded has no lists: the import fails.
TEST(UpdateMasterDatabase, NoDefinitionsOrNoLists) {
  praxtest::TempDir dir;
  MasterContext m(dir.Text());
  EXPECT_NO_THROW(prax::UpdateMasterDatabase(m.ctx, &m.status));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "MASTER.MDB"));
  praxtest::MakeRoster(dir.Path() / "MASTER.MDB", {{"A1", "Smith", "", "", "PX000001.DIR"}});
  dir.Write("UserDefs.Prn", "A1,Head Office,Accounts,Clerk\r\n");
  EXPECT_THROW(prax::UpdateMasterDatabase(m.ctx, &m.status), prax::Error);
}

// A failure ends the import with an Error naming the file, the item and the
// reason; the rows stored before it stay.
TEST(UpdateMasterDatabase, FailureEndsImportKeepingEarlierRows) {
  const struct {
    std::string defs;
    int number;
    const char* item;
  } cases[] = {
      {"A1,Head Office,Accounts,Clerk\r\nA2\r\n", prax::err::kInputPastEnd, "\"A2\""},
      {"A1,Head Office,Accounts,Clerk\r\nO'Hara,Quay,Accounts,Clerk\r\n", prax::err::kSyntaxInExpression,
       "\"O'Hara\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    ImportCase t(c.defs);
    const prax::Error e = praxtest::Raised([&] { prax::UpdateMasterDatabase(t.m.ctx, &t.m.status); });
    const std::string what = e.what();
    EXPECT_EQ(e.Number(), c.number) << what;
    EXPECT_TRUE(praxtest::Has(what, t.dir.Text() + "UserDefs.Prn") && praxtest::Has(what, c.item) &&
                praxtest::Has(what, "Correct UserDefs.Prn at that item")) << what;
    EXPECT_EQ(t.Users(), (Lines{"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"}));
    EXPECT_EQ(t.Lists()[0], "1|Head Office\n");
  }
}

}  // namespace

#include <gtest/gtest.h>

#include "roster/master_database.h"
#include "master_fixture.h"
#include "platform/error.h"

namespace {

using mastertest::MasterContext;
using mastertest::Rows;

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
    try {
      prax::ModifyMasterDatabase(m.ctx);
      ADD_FAILURE() << "expected an error";
    } catch (const prax::Error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("'" + dir.Text() + "MASTER.MDB'"), std::string::npos) << what;
      EXPECT_EQ(what.find("Altering"), std::string::npos) << what;  // the caller names the operation
      EXPECT_EQ(e.Number(), present ? prax::err::kUnrecognizedFormat : prax::err::kCannotFindFile);
    }
  }
}

}  // namespace

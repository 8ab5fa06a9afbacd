#include <gtest/gtest.h>

#include <algorithm>

#include "master/master_database.h"
#include "master_fixture.h"
#include "platform/error.h"
#include "platform/text.h"

namespace {

using mastertest::MasterContext;
using mastertest::Rows;
using prax::db::FieldType;

const prax::db::TableDef* Find(const std::vector<prax::db::TableDef>& defs, std::string_view name) {
  for (const auto& d : defs)
    if (prax::text::EqualsIgnoreCase(d.name, name)) return &d;
  return nullptr;
}

const prax::db::FieldDef* Field(const prax::db::TableDef& t, std::string_view name) {
  for (const auto& f : t.fields)
    if (f.name == name) return &f;
  return nullptr;
}

bool HasUniqueIndexOn(const prax::db::TableDef& t, std::string_view field) {
  return std::any_of(t.indexes.begin(), t.indexes.end(),
                     [&](const prax::db::IndexDef& i) { return i.field == field && i.unique; });
}

const std::vector<praxtest::RosterRow> kTwoUsers = {
    {"A1", "Smith", "Ann", "B", "PX000001.DIR"},
    {"", "Unassigned", "", "", "PX000002.DIR"},
};

void CheckFullyUpgraded(const std::filesystem::path& file) {
  auto db = prax::db::Database::Open(file);
  const auto defs = db->TableDefs();
  db->Close();
  const auto* users = Find(defs, "Users");
  ASSERT_NE(users, nullptr);
  struct Added {
    const char* name;
    FieldType type;
    int size;
  };
  for (const Added& a : {Added{"Location_Id", FieldType::Long, 4}, Added{"Department_Id", FieldType::Long, 4},
                         Added{"Position_Id", FieldType::Long, 4}, Added{"LastRunDate", FieldType::Text, 20},
                         Added{"SystemVer", FieldType::Text, 10}, Added{"NetLoggingOff", FieldType::Text, 1}}) {
    const auto* f = Field(*users, a.name);
    ASSERT_NE(f, nullptr) << a.name;
    EXPECT_EQ(f->type, a.type) << a.name;
    EXPECT_EQ(f->size, a.size) << a.name;
  }
  for (const auto& list : {prax::lists::kLocations, prax::lists::kPositions, prax::lists::kDepartments}) {
    const auto* t = Find(defs, list.table);
    ASSERT_NE(t, nullptr) << list.table;
    ASSERT_EQ(t->fields.size(), 2u);
    EXPECT_EQ(t->fields[0].name, list.idColumn);
    EXPECT_EQ(t->fields[0].type, FieldType::Long);
    EXPECT_EQ(t->fields[1].name, list.nameColumn);
    EXPECT_EQ(t->fields[1].type, FieldType::Text);
    EXPECT_EQ(t->fields[1].size, 255);
  }
}

TEST(ModifyMasterDatabase, FreshRosterGainsColumnsAndEmptyLists) {
  praxtest::TempDir dir;
  const auto master = dir.Path() / "MASTER.MDB";
  praxtest::MakeRoster(master, kTwoUsers);
  MasterContext m(dir.Text());
  prax::ModifyMasterDatabase(m.ctx);
  EXPECT_EQ(m.ctx.Db, nullptr);

  CheckFullyUpgraded(master);
  {
    auto db = prax::db::Database::Open(master);
    const auto defs = db->TableDefs();
    for (const auto& list : {prax::lists::kLocations, prax::lists::kPositions, prax::lists::kDepartments})
      EXPECT_TRUE(HasUniqueIndexOn(*Find(defs, list.table), list.idColumn)) << list.table;
  }
  EXPECT_EQ(Rows(master, "SELECT User_Id, Location_Id, Department_Id, Position_Id, LastRunDate, SystemVer, "
                         "NetLoggingOff FROM Users"),
            (std::vector<std::string>{"A1|Null|Null|Null|Null|Null|Null", "Null|Null|Null|Null|Null|Null|Null"}));
  // Read by the sqlite3 program as well: the six new columns are empty and the lists hold nothing.
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT count(*) FROM Users WHERE Location_Id IS NULL AND Department_Id IS "
                                      "NULL AND Position_Id IS NULL AND LastRunDate IS NULL AND SystemVer IS NULL "
                                      "AND NetLoggingOff IS NULL;"),
            "2\n");
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT (SELECT count(*) FROM LocationsList) + (SELECT count(*) FROM "
                                      "PositionsList) + (SELECT count(*) FROM DepartmentsList);"),
            "0\n");
}

TEST(ModifyMasterDatabase, SecondRunChangesNothing) {
  praxtest::TempDir dir;
  const auto master = dir.Path() / "MASTER.MDB";
  praxtest::MakeRoster(master, kTwoUsers);
  MasterContext m(dir.Text());
  prax::ModifyMasterDatabase(m.ctx);
  const std::string before = praxtest::Sqlite3(master, ".dump");
  prax::ModifyMasterDatabase(m.ctx);
  EXPECT_EQ(praxtest::Sqlite3(master, ".dump"), before);
  CheckFullyUpgraded(master);
}

// A roster that already has LocationsList: its creation is passed over and
// everything else is added; its unique index is created unless two rows
// share an id.
TEST(ModifyMasterDatabase, PartlyUpgradedRoster) {
  for (const bool duplicateIds : {false, true}) {
    SCOPED_TRACE(duplicateIds ? "duplicate ids" : "distinct ids");
    praxtest::TempDir dir;
    const auto master = dir.Path() / "MASTER.MDB";
    praxtest::MakeRoster(master, kTwoUsers);
    {
      auto db = prax::db::Database::Open(master);
      db->Execute("CREATE TABLE LocationsList (Location_Id INTEGER, Location_Name TEXT (255))");
      auto rs = db->OpenRecordset("SELECT * FROM LocationsList");
      for (const auto& [id, name] : {std::pair{3, "Head Office"}, std::pair{duplicateIds ? 3 : 4, "Depot"}}) {
        rs->AddNew();
        rs->Set("Location_Id", id);
        rs->Set("Location_Name", name);
        rs->Update();
      }
      rs->Close();
      db->Close();
    }
    MasterContext m(dir.Text());
    prax::ModifyMasterDatabase(m.ctx);

    CheckFullyUpgraded(master);
    auto db = prax::db::Database::Open(master);
    const auto defs = db->TableDefs();
    EXPECT_EQ(HasUniqueIndexOn(*Find(defs, "LocationsList"), "Location_Id"), !duplicateIds);
    EXPECT_TRUE(HasUniqueIndexOn(*Find(defs, "PositionsList"), "Position_Id"));
    EXPECT_TRUE(HasUniqueIndexOn(*Find(defs, "DepartmentsList"), "Department_Id"));
    db->Close();
    EXPECT_EQ(Rows(master, "SELECT * FROM LocationsList").size(), 2u);
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
    EXPECT_EQ(m.ctx.Db, nullptr);
  }
}

}  // namespace

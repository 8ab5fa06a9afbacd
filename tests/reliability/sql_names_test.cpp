// Names from logs and UserDefs.Prn that carry SQL: only their own lookup
// fails, nothing of them is stored, and no table is changed otherwise.

#include <gtest/gtest.h>

#include "reliability/programs.h"

namespace {

using reltest::Has;
using reltest::Network;
using reltest::Result;
namespace stdfs = std::filesystem;

const char* const kNames[] = {
    "O'Brien's tool", "' OR '1'='1", "x'; DROP TABLE ApplicationsList; --", "x'; DROP TABLE AppNames; --",
    "Desk'); DELETE FROM EMSToolsList WHERE ('1'='1",
};

void Append(const stdfs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::app) << bytes;
}

std::string Schema(const stdfs::path& db) {
  return praxtest::Sqlite3(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;");
}

TEST(SqlNames, ANameCarryingSqlFailsOnlyItsOwnLookup) {
  Network plain, named;
  // Every kind of looked-up name in user 2's logs of 2026-01-06: tools,
  // discomforts and body parts, notes, windows and applications, projects
  // and tasks.
  std::string alert, activity;
  int minute = 0;
  for (const std::string name : kNames) {
    alert += "User Action: " + name + "*260106 18\r\n";
    alert += "User Entry: " + name + "-- " + name + "\r\n";
    alert += "User Notes: " + name + "\r\n";
    activity += "User Project: " + name + " (" + name + ")\r\n";
    activity += "User Notes: " + name + "\r\n";
    activity += std::to_string(390 + minute) + " 18" + std::to_string(10 + minute) + " \"" + name + " - Notepad\",\"" +
                name + "\" 5 65,5\r\n";
    ++minute;
  }
  const stdfs::path dir = named.Net() / "PX000002.DIR";
  Append(dir / "20260106.PXL", alert);
  Append(dir / "20260106.PXT", activity);

  for (const Network* n : {&plain, &named}) {
    const Result r = n->Praxload({"--fresh", "--yes", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "days loaded: 15 alert, 15 activity")) << r.out;
  }
  EXPECT_EQ(Schema(named.History()), Schema(plain.History()));
  // No list holds any of the names, and none lost a row.
  for (const char* list : {"EMSToolsList", "BodyPartsList", "DiscomfortsList", "NotesList", "ApplicationsList",
                           "WindowsList", "ProjectsList", "ProjectTasksList"}) {
    const std::string sql = std::string("SELECT * FROM ") + list + ";";
    EXPECT_EQ(praxtest::Sqlite3(named.History(), sql), praxtest::Sqlite3(plain.History(), sql)) << list;
  }
  // The rest of the day and every other day are loaded as without the names.
  for (const char* sql : {"SELECT * FROM AlertSystem;", "SELECT * FROM ActivitySystem WHERE User_Num <> 2;",
                          "SELECT COUNT(*) FROM ActivitySystem WHERE User_Num = 2 AND Data_Date = 20260105;"})
    EXPECT_EQ(praxtest::Sqlite3(named.History(), sql), praxtest::Sqlite3(plain.History(), sql)) << sql;
  EXPECT_NE(praxtest::Sqlite3(named.History(), "SELECT COUNT(*) FROM ActivitySystem WHERE User_Num = 2 AND "
                                               "Data_Date = 20260106;"),
            "0\n");
}

TEST(SqlNames, AUserDefsNameCarryingSqlEndsTheImportNamingIt) {
  Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--no-master"}).exitCode, 0);  // the roster upgraded
  const stdfs::path master = n.Net() / "MASTER.MDB";
  const std::string schema = Schema(master);
  const std::string users = praxtest::Sqlite3(master, "SELECT User_Id, Last_Name, Sub_Dir FROM Users;");
  const std::string bad = "Leeds'; DROP TABLE Users; --";
  std::ofstream(n.Net() / "UserDefs.Prn", std::ios::binary | std::ios::trunc)
      << "\"U000001\",\"Head Office\",\"Engineering\",\"Analyst\"\r\n"
      << "\"U000002\",\"" << bad << "\",\"Accounts\",\"Clerk\"\r\n"
      << "\"U000004\",\"Leeds\",\"Accounts\",\"Analyst\"\r\n";

  const Result r = n.Praxload({"--master"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  for (const std::string& s : {n.NetText() + "UserDefs.Prn", "at item \"" + bad + "\"",
                               std::string("Correct UserDefs.Prn at that item")})
    EXPECT_TRUE(Has(r.err, s)) << s << "\n" << r.err;

  // The roster and its lists are whole: the record before is stored, the
  // rest untouched, and no name with a quote went in.
  EXPECT_EQ(Schema(master), schema);
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT User_Id, Last_Name, Sub_Dir FROM Users;"), users);
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT User_Id, Location_Id FROM Users WHERE Location_Id > 0;"), "U000001|1\n");
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT * FROM LocationsList;"), "1|Head Office\n");

  std::ofstream(n.Net() / "UserDefs.Prn", std::ios::binary | std::ios::trunc)
      << "\"U000002\",\"Leeds\",\"Accounts\",\"Clerk\"\r\n";
  EXPECT_EQ(n.Praxload({"--master", "--quiet"}).exitCode, 0);
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT Location_Id FROM Users WHERE User_Id = 'U000002';"), "2\n");
}

}  // namespace

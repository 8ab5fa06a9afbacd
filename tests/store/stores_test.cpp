// The typed stores over files of ours and of others: list ids, appends,
// tables found whatever their letter case, rows counted once committed.

#include <gtest/gtest.h>

#include "store/history_store.h"
#include "store/roster_store.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace {

using namespace prax::store;
using praxtest::Raised;

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateSqliteHistory(file.string()); }
  std::string Stored(const std::string& sql) { return praxtest::Sqlite3(file, sql); }

  praxtest::TempDir dir;
  std::filesystem::path file = dir.Path() / "PRAXDATA.MDB";
};

// A lookup: the name, then the id it gets or (negative) the error it raises.
struct Lookup {
  std::string name;
  int result;
};

TEST_F(StoreTest, ListIdsFollowTheirRules) {
  const std::string longName(256, 'w');
  const struct {
    const char* what;
    std::vector<std::pair<int16_t, std::string>> stored;
    std::vector<Lookup> lookups;
    const char* rows;  // the list afterwards
    std::size_t unnumbered = 0;  // distinct names refused for want of an id
  } cases[] = {
      {"trim and fold", {{7, "stapler"}, {41, "Hammer"}, {5, "\xC3\x89mile"}},
       {{"  STAPLER ", 7}, {"\xC3\xA9MILE", 5}, {"Drill", 42}, {"drill ", 42}, {"\tdrill", 43}},
       "7|stapler\n41|Hammer\n5|\xC3\x89mile\n42|Drill\n43|\tdrill\n"},
      {"refused", {{1, "Editor"}},
       {{"Bob's", -3075}, {"   ", -3315}, {longName, -3163}, {"Mail", 3}, {"editor", 1}},
       "1|Editor\n3|Mail\n"},
      {"full", {{32767, "Full"}, {3, "Early"}}, {{"New", -6}, {"early", 3}, {"FULL", 32767}, {" NEW", -6}, {"Other", -6}},
       "32767|Full\n3|Early\n", 2},
      {"last id", {{32766, "Late"}}, {{"Last", 32767}, {"Past", -6}, {"last", 32767}}, "32766|Late\n32767|Last\n", 1},
      // A NUL byte (junk of a damaged log): as the name index compares, the same length and text up to it.
      {"NUL byte", {{4, std::string("ab\0c", 4)}},
       {{std::string("AB\0d", 4), 4}, {std::string("ab\0cd", 5), 5}, {std::string("\xC3\xA9\0x", 4), 6},
        {std::string("\xC3\x89\0x", 4), 6}},
       "4|ab\n5|ab\n6|\xC3\xA9\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CreateSqliteHistory(file.string());
    auto store = OpenSqliteHistory(file);
    ListTable& table = store->List(HistoryList::kNotes);
    for (const auto& [id, name] : c.stored) table.Insert(id, name);
    store->Commit();
    int lookups = 0;
    ListIds ids(table, [&] { ++lookups; });
    ids.Prime();
    ids.Open();
    int done = 0;
    for (const auto& l : c.lookups) {
      const auto out = Raised([&] { EXPECT_EQ(ids.Get(l.name), l.result) << l.name; });
      if (l.result < 0) {
        EXPECT_EQ(out.Number(), -l.result) << l.name;
      }
      done += l.result > 0;
    }
    EXPECT_EQ(lookups, done);
    EXPECT_EQ(ids.Unnumbered(), c.unnumbered);
    store->Close();
    EXPECT_EQ(Stored("SELECT Note_Id, Note_Name FROM NotesList ORDER BY rowid;"), c.rows);
  }
}

TEST_F(StoreTest, ListIdsReadAgainWhenAnotherProgramCommitted) {
  auto mine = OpenSqliteHistory(file), theirs = OpenSqliteHistory(file);
  ListIds ids(mine->List(HistoryList::kTools));
  ids.Prime();
  ids.Open();
  EXPECT_EQ(ids.Get("Drill"), 1);
  mine->Commit();
  theirs->List(HistoryList::kTools).Insert(2, "Saw");
  theirs->Commit();
  EXPECT_EQ(ids.Get("SAW"), 2);
  EXPECT_EQ(ids.Get("Plane"), 3);
  mine->Close();
  theirs->Close();
  EXPECT_EQ(Stored("SELECT Tool_Id, Tool_Name FROM EMSToolsList ORDER BY rowid;"), "1|Drill\n2|Saw\n3|Plane\n");
}

TEST_F(StoreTest, RefusedRowStoresNothingAndCountsCommittedRows) {
  auto store = OpenSqliteHistory(file);
  ActivityRow row{1, 20260105, "09", -1, 0, 0, 0, 8, 12};
  store->AppendActivity(row);
  row.keyNum = 40000;  // beyond an Integer
  EXPECT_EQ(Raised([&] { store->AppendActivity(row); }).Number(), 6);
  EXPECT_EQ(Raised([&] { store->AppendSystemUsage({1, 20260105, "", 3}); }).Number(), 3315);
  const RowId note = store->AppendUserNote({1, 20260105, "09", "30", 4, 5});
  store->SetUserNoteNote(note, 6);
  store->Commit();
  store->AppendActivity({2, 20260105, "10", 1, 1, 0, 0, 0, 0});
  store->Rollback();
  EXPECT_TRUE(store->DayLoaded(DayTable::kActivity, 1, 20260105));
  EXPECT_FALSE(store->DayLoaded(DayTable::kActivity, 2, 20260105));
  EXPECT_FALSE(store->DayLoaded(DayTable::kAlerts, 1, 20260105));
  const auto counts = store->WholeApplicationKeyCounts(1, std::nullopt);
  ASSERT_EQ(counts.size(), 1u);
  EXPECT_EQ(counts[0].keyCount, 12);
  store->Close();
  auto added = store->RowsAdded();
  EXPECT_EQ(added.size(), praxtest::kHistoryTables.size());
  EXPECT_EQ(added["ActivitySystem"], 1);
  EXPECT_EQ(added["UserNotes"], 1);
  EXPECT_EQ(added["EMSSystemUsage"], 0);
  EXPECT_EQ(Stored("SELECT count(*), max(Note_Id) FROM UserNotes;"), "1|6\n");
}

// Files written by others: tables by any letter case, a missing table failing
// only the operation that needs it.
TEST_F(StoreTest, OthersFilesAreReadWhateverTheLetterCase) {
  praxtest::Sqlite3(file, "ALTER TABLE AlertSystem RENAME TO a; ALTER TABLE a RENAME TO alertsystem; DROP TABLE ActivitySystem;");
  auto store = OpenSqliteHistory(file);
  AlertHourRow row{3, 20260106, "00", {}, 0};
  row.counts[0] = 2;
  store->AppendAlertHour(row);
  const auto hours = store->AlertHours(3, std::nullopt);
  ASSERT_EQ(hours.size(), 1u);
  store->SetErrorKeys(hours[0].row, 9);
  EXPECT_EQ(Raised([&] { store->SetErrorKeys(hours[0].row, 40000); }).Number(), 6);
  EXPECT_EQ(Raised([&] { store->DayLoaded(DayTable::kActivity, 3, 20260106); }).Number(), 3078);
  store->Close();
  EXPECT_EQ(store->RowsAdded()["AlertSystem"], 1);
  EXPECT_EQ(Stored("SELECT User_Num, Key_L1_Given, Error_Keys FROM alertsystem;"), "3|2|9\n");
}

TEST(RosterStore, FindsUsersAndMembersWithoutLetterCase) {
  praxtest::TempDir dir;
  auto roster = Roster::Create(dir.Path() / "MASTER.MDB");
  for (const char* sub : {"px000002.dir", "PX000000.DIR", "Alpha.DIR", "PX000001.DIR"}) {
    roster->AppendUser({"Last", std::nullopt, std::nullopt, sub, std::string("\xC3\xA9") + sub});
  }
  EXPECT_EQ(roster->FindUser("\xC3\x89PX000001.DIR"), 4);
  EXPECT_EQ(roster->FindUser("nobody"), std::nullopt);
  roster->RemoveNumberedUsers();
  std::string order;
  for (const auto& u : roster->UsersBySubDir()) order += *u.subDir + " ";
  EXPECT_EQ(order, "Alpha.DIR PX000000.DIR ");
  for (const auto& step : RosterUpgrade()) roster->Apply(step);
  EXPECT_NE(Raised([&] { roster->Apply(RosterUpgrade()[0]); }).Number(), 0);
  roster->Close();

  const auto group = dir.Path() / "TEAM.GRP";
  GroupFile::Create(group);
  auto members = GroupFile::Open(group);
  members->AppendMember({"Last", "First", std::nullopt, "PX000001.DIR", "\xC3\xA9mile"});
  EXPECT_EQ(Raised([&] { members->AppendMember({"Other", std::nullopt, std::nullopt, "PX000002.DIR", "\xC3\x89MILE"}); })
                .Number(),
            3022);
  members->Close();
  EXPECT_EQ(praxtest::Sqlite3(group, "SELECT count(*) FROM Members;"), "1\n");
}

}  // namespace

// The History store on a throwaway database server: its rows, refusals and
// undo, its failures, and the loaders' lock.

#include <gtest/gtest.h>

#include <memory>

#include "store/pg_history_store.h"
#include "support/pg_server.h"
#include "support/programs.h"
#include "support/raised.h"

namespace {

using namespace prax::store;
using praxtest::Raised;

// The ids of a list, primed and open.
std::unique_ptr<ListIds> Opened(ListTable& table) {
  auto ids = std::make_unique<ListIds>(table);
  ids->Prime();
  ids->Open();
  return ids;
}

std::string Server(const std::string& sql) {
  std::string out;
  for (const auto& row : praxtest::TestPgServer().Rows(sql)) out += row + "\n";
  return out;
}

TEST(PgStore, StoresRefusesAndUndoesAsTheFileDoes) {
  const std::string connect = praxtest::TestPgServer().Connect();
  Server("CREATE TABLE IF NOT EXISTS kept (x integer); INSERT INTO kept VALUES (1);");
  CreatePgHistory(connect);
  auto store = OpenPgHistory(connect);
  EXPECT_FALSE(store->ErrorKeysUntracked());

  ActivityRow row{1, 20260105, "09", -1, 0, 0, 0, 8, 12};
  store->AppendActivity(row);
  const struct {
    const char* what;
    std::function<void()> append;
    int error;
  } refused[] = {
      {"beyond an Integer", [&] { store->AppendActivity({1, 20260105, "09", -1, 0, 0, 0, 40000, 1}); }, 6},
      {"empty text", [&] { store->AppendSystemUsage({1, 20260105, "", 3}); }, 3315},
      {"text starting with NUL", [&] { store->AppendSystemUsage({1, 20260105, std::string("\0" "9", 2), 3}); }, 3146},
      {"error keys beyond an Integer", [&] { store->SetErrorKeys(0, 40000); }, 6},
  };
  for (const auto& r : refused) EXPECT_EQ(Raised(r.append).Number(), r.error) << r.what;

  const auto ids = Opened(store->List(HistoryList::kTools)), apps = Opened(store->List(HistoryList::kApplications));
  EXPECT_EQ(ids->Get("Drill"), 1);
  EXPECT_EQ(ids->Get(" DRILL"), 1);
  EXPECT_EQ(ids->Get(std::string("Sa\0w", 4)), 2);
  EXPECT_EQ(apps->Get(std::string("S\xC3\xA1\0w", 5)), 1);
  // As long and the same up to the NUL: the name index refuses it.
  EXPECT_EQ(Raised([&] { apps->Get(std::string("s\xC3\xA1\0x", 5)); }).Number(), 3022);

  const RowId note = store->AppendUserNote({1, 20260105, "09", "30", 4, 5});
  store->SetUserNoteNote(note, 6);
  AlertHourRow hour{1, 20260105, "09", {}, 0};
  hour.counts[0] = 2;
  store->AppendAlertHour(hour);
  store->MarkErrorKeysPending(1, 20260105);
  store->MarkErrorKeysPending(1, 20260105);
  store->Commit();

  store->AppendActivity({2, 20260105, "10", 1, 1, 0, 0, 0, 0});
  store->MarkErrorKeysPending(2, 20260105);
  store->Rollback();
  EXPECT_EQ(store->LoadedDays(DayTable::kActivity, 1, {20260104, 20260105}), std::set<int32_t>{20260105});
  EXPECT_FALSE(store->DayLoaded(DayTable::kActivity, 2, 20260105));
  EXPECT_EQ(store->ErrorKeysPending(1), std::vector<int32_t>{20260105});
  EXPECT_TRUE(store->ErrorKeysPending(2).empty());
  store->SetErrorKeys(store->AlertHours(1, 20260105).at(0).row, 9);
  store->ClearErrorKeysPending(1, std::nullopt);
  EXPECT_EQ(store->WholeApplicationKeyCounts(1, std::nullopt).at(0).keyCount, 12);
  store->Close();

  const auto added = store->RowsAdded();
  EXPECT_EQ(added.size(), praxtest::kHistoryTables.size());
  EXPECT_EQ((std::vector<int64_t>{added.at("ActivitySystem"), added.at("EMSToolsList"), added.at("EMSSystemUsage")}),
            (std::vector<int64_t>{1, 2, 0}));
  EXPECT_EQ(Server("SELECT \"Tool_Id\", \"Tool_Name\" FROM \"EMSToolsList\""), "1|Drill\n2|Sa\xEF\xBF\xBDw\n");
  EXPECT_EQ(Server("SELECT \"Note_Id\" FROM \"UserNotes\""), "6\n");
  EXPECT_EQ(Server("SELECT \"Key_L1_Given\", \"Error_Keys\" FROM \"AlertSystem\""), "2|9\n");
  EXPECT_EQ(Server("SELECT count(*) FROM \"ErrorKeysPending\""), "0\n");

  // Opened again the rows stay; created fresh they go, and nothing else in the schema does.
  {
    auto again = OpenPgHistory(connect);
    const auto tools = Opened(again->List(HistoryList::kTools));
    EXPECT_EQ(tools->Get(std::string("sa\0W", 4)), 2);  // read back as the file holds it
    EXPECT_EQ(tools->Get("Plane"), 3);
    again->Rollback();
  }
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "1\n");
  CreatePgHistory(connect);
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "0\n");
  EXPECT_EQ(Server("SELECT x FROM kept"), "1\n");
}

TEST(PgStore, OneLoaderAtATimeAndAConnectionLostUndoesTheDay) {
  praxtest::PgServer& server = praxtest::TestPgServer();
  CreatePgHistory(server.Connect());
  auto store = OpenPgHistory(server.Connect());
  store->AppendActivity({1, 20260105, "09", -1, 0, 0, 0, 8, 12});
  {
    const PgLoaderLock first(server.Connect(), "first");
    EXPECT_TRUE(praxtest::Has(Raised([&] { PgLoaderLock(server.Connect(), "second"); }).what(), "first"));
  }
  const PgLoaderLock again(server.Connect(), "again");  // released with the first's connection
  server.Stop();
  const auto lost = Raised([&] { store->Commit(); });
  server.Start();
  EXPECT_TRUE(lost.Environment()) << lost.what();
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "0\n");
}

}  // namespace

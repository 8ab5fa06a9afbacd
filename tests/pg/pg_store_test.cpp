// The History store on a throwaway database server: its own behaviours, and
// the same generated network loaded into it and into a file giving the same rows.

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <algorithm>
#include <sstream>

#include "gen/generate_network.h"
#include "load/create_history_database.h"
#include "load/run_load_job.h"
#include "store/pg_history_store.h"
#include "support/pg_server.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/recording_status.h"

namespace {

using namespace prax::store;
using praxtest::Raised;

// The rows of a statement read straight from the server, values joined by
// '|' (Null empty, as the sqlite3 program prints it), one line each.
std::string Server(const std::string& sql) {
  PGconn* c = PQconnectdb(praxtest::TestPgServer().Connect().c_str());
  PGresult* r = PQexec(c, sql.c_str());
  std::string out = PQresultStatus(r) == PGRES_TUPLES_OK || PQresultStatus(r) == PGRES_COMMAND_OK
                        ? ""
                        : "failed: " + std::string(PQresultErrorMessage(r));
  for (int i = 0; i < PQntuples(r); ++i) {
    for (int f = 0; f < PQnfields(r); ++f) out += (f ? "|" : "") + std::string(PQgetvalue(r, i, f));
    out += "\n";
  }
  PQclear(r);
  PQfinish(c);
  return out;
}

std::string Sorted(const std::string& lines) {
  std::vector<std::string> all;
  std::istringstream in(lines);
  for (std::string l; std::getline(in, l);) all.push_back(l);
  std::ranges::sort(all);
  std::string out;
  for (const auto& l : all) out += l + "\n";
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
      {"NUL in text", [&] { store->AppendSystemUsage({1, 20260105, std::string("0\0", 2), 3}); }, 3146},
      {"error keys beyond an Integer", [&] { store->SetErrorKeys(0, 40000); }, 6},
  };
  for (const auto& r : refused) EXPECT_EQ(Raised(r.append).Number(), r.error) << r.what;

  ListIds ids(store->List(HistoryList::kTools));
  ids.Prime();
  ids.Open();
  EXPECT_EQ(ids.Get("Drill"), 1);
  EXPECT_EQ(ids.Get(" DRILL"), 1);
  EXPECT_EQ(Raised([&] { ids.Get(std::string("Sa\0w", 4)); }).Number(), 3146);
  EXPECT_EQ(ids.Get("Plane"), 3);  // the refused name spent its id

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
  const auto hours = store->AlertHours(1, 20260105);
  ASSERT_EQ(hours.size(), 1u);
  store->SetErrorKeys(hours[0].row, 9);
  store->ClearErrorKeysPending(1, std::nullopt);
  EXPECT_EQ(store->WholeApplicationKeyCounts(1, std::nullopt).at(0).keyCount, 12);
  store->Close();

  const auto added = store->RowsAdded();
  EXPECT_EQ(added.size(), praxtest::kHistoryTables.size());
  EXPECT_EQ((std::vector<int64_t>{added.at("ActivitySystem"), added.at("EMSToolsList"), added.at("EMSSystemUsage")}),
            (std::vector<int64_t>{1, 2, 0}));
  EXPECT_EQ(Server("SELECT \"Tool_Id\", \"Tool_Name\" FROM \"EMSToolsList\""), "1|Drill\n3|Plane\n");
  EXPECT_EQ(Server("SELECT \"Note_Id\" FROM \"UserNotes\""), "6\n");
  EXPECT_EQ(Server("SELECT \"Key_L1_Given\", \"Error_Keys\" FROM \"AlertSystem\""), "2|9\n");
  EXPECT_EQ(Server("SELECT count(*) FROM \"ErrorKeysPending\""), "0\n");

  // Opened again the rows stay; created fresh they go, and nothing else in the schema does.
  OpenPgHistory(connect)->Close();
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "1\n");
  CreatePgHistory(connect);
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "0\n");
  EXPECT_EQ(Server("SELECT x FROM kept"), "1\n");
}

TEST(PgStore, ServerOutOfReachIsTheMachineAndNamed) {
  praxtest::PgServer& server = praxtest::TestPgServer();
  const auto unreachable = Raised([] { OpenPgHistory("host=/nonexistent/folder dbname=history"); });
  EXPECT_TRUE(unreachable.Environment());
  EXPECT_TRUE(praxtest::Has(unreachable.what(), "/nonexistent/folder") && praxtest::Has(unreachable.what(), "history"))
      << unreachable.what();
  const auto refused = Raised([&] { OpenPgHistory(server.Connect() + " user=nobody_here password=secret"); });
  EXPECT_TRUE(refused.Environment() && !praxtest::Has(refused.what(), "secret")) << refused.what();

  CreatePgHistory(server.Connect());
  auto store = OpenPgHistory(server.Connect());
  store->AppendActivity({1, 20260105, "09", -1, 0, 0, 0, 8, 12});
  server.Stop();
  const auto lost = Raised([&] { store->Commit(); });
  server.Start();
  EXPECT_TRUE(lost.Environment()) << lost.what();
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "0\n");
}

// A generated network with damaged lines loads into the server as into a file.
TEST(PgStore, SameNetworkSameRowsAsTheFile) {
  praxtest::TempDir dir;
  prax::gen::GenOptions options;
  options.networkDir = dir.Path() / "net";
  options.users = 4;
  options.seed = 5;
  options.nasty = 0.05;
  const auto network = prax::gen::GenerateNetwork(options);
  prax::RunContext ctx;
  ctx.NetworkDir = options.networkDir.generic_string() + "/";
  ctx.UserSlotCount = network.slots;
  praxtest::RecordingStatus status;
  prax::CreateHistoryDatabase(ctx, status);
  const auto fileSummary = prax::RunLoadJob(ctx, status, 1, static_cast<int16_t>(network.slots));
  const std::string connect = praxtest::TestPgServer().Connect();
  CreatePgHistory(connect);
  const auto serverSummary = prax::RunLoadJob(ctx, status, 1, static_cast<int16_t>(network.slots),
                                              [&] { return OpenPgHistory(connect); });
  // The server refuses names holding a NUL (damaged lines give some): those
  // list rows are missing there, and the activity rows that follow them keep
  // the id looked up before. Everything else is the same.
  const auto file = options.networkDir / "PRAXDATA.MDB";
  int64_t refusedNames = 0;
  for (const auto& t : HistorySchema()) {
    SCOPED_TRACE(t.name);
    const bool list = t.name.ends_with("List");
    const std::string withoutNul =
        list ? " WHERE instr(" + t.fields[1].name + ", char(0)) = 0" : std::string();
    const std::string fileRows = praxtest::Sqlite3(file, "SELECT * FROM " + t.name + withoutNul + ";");
    const int64_t fileCount = std::stoll(praxtest::Sqlite3(file, "SELECT count(*) FROM " + t.name + withoutNul + ";"));
    if (list) refusedNames += fileSummary.rowsAdded.at(t.name) - fileCount;
    EXPECT_EQ(serverSummary.rowsAdded.at(t.name), fileCount);
    if (t.name != "ActivitySystem") EXPECT_EQ(Sorted(Server("SELECT * FROM \"" + t.name + "\"")), Sorted(fileRows));
  }
  EXPECT_GT(refusedNames, 0);
  EXPECT_GT(fileSummary.rowsAdded.at("ActivitySystem"), 0);
}

}  // namespace

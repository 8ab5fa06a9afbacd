// The History store on a throwaway database server (its rows, refusals and undo, its failures, the loaders'
// lock), and a site whose History database is there, run as a scheduler runs praxload: the same rows as the
// file, failures named, and a next run that completes.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

#include "store/history_store.h"
#include "store/pg_connection.h"
#include "store/pg_history_store.h"
#include "support/pg_server.h"
#include "support/programs.h"
#include "support/raised.h"

namespace {

namespace stdfs = std::filesystem;
using namespace prax::store;
using praxtest::Has;
using praxtest::Network;
using praxtest::Raised;
using prax::ErrorKind;
namespace err = prax::err;
using Tables = std::map<std::string, std::vector<std::string>>;

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
  AlertHourRow hour{1, 20260105, "09", {}, 0};
  hour.counts[0] = 2;
  store->AppendAlertHour(hour);  // the rows of two tables one after the other
  const struct { const char* what; std::function<void()> append; ErrorKind error; } refused[] = {
      {"beyond an Integer", [&] { store->AppendActivity({1, 20260105, "09", -1, 0, 0, 0, 40000, 1}); }, err::kOverflow},
      {"empty text", [&] { store->AppendSystemUsage({1, 20260105, "", 3}); }, err::kZeroLengthString},
      {"text starting with NUL", [&] { store->AppendSystemUsage({1, 20260105, std::string("\0" "9", 2), 3}); }, err::kOtherEngineError},
      {"error keys beyond an Integer", [&] { store->SetErrorKeys(0, 40000); }, err::kOverflow},
  };
  for (const auto& r : refused) EXPECT_EQ(Raised(r.append).Kind(), r.error) << r.what;

  const auto ids = Opened(store->List(HistoryList::kTools)), apps = Opened(store->List(HistoryList::kApplications));
  EXPECT_EQ(ids->Get("Drill"), 1);
  EXPECT_EQ(ids->Get(" DRILL"), 1);
  EXPECT_EQ(ids->Get(std::string("Sa\0w", 4)), 2);
  EXPECT_EQ(apps->Get(std::string("S\xC3\xA1\0w", 5)), 1);
  // As long and the same up to the NUL: the name index refuses it.
  EXPECT_EQ(Raised([&] { apps->Get(std::string("s\xC3\xA1\0x", 5)); }).Kind(), err::kDuplicateValue);

  store->AppendUserNote({1, 20260105, "09", "30", 4, 5, 6});
  store->MarkErrorKeysPending(1, 20260105);
  store->MarkErrorKeysPending(1, 20260105);
  store->Commit();

  store->AppendActivity({2, 20260105, "10", 1, 1, 0, 0, 0, 0});
  store->MarkErrorKeysPending(2, 20260105);
  store->Rollback();
  EXPECT_EQ(store->LoadedDates(DayTable::kActivity, 1, 20260104, 20260106), std::vector<int32_t>{20260105});
  EXPECT_TRUE(store->DayLoaded(DayTable::kAlerts, 1, 20260105));
  EXPECT_FALSE(store->DayLoaded(DayTable::kActivity, 2, 20260105));
  EXPECT_EQ(store->ErrorKeysPending(1), std::vector<int32_t>{20260105});
  EXPECT_TRUE(store->ErrorKeysPending(2).empty());
  store->SetErrorKeys(store->AlertHours(1, DateSpan{20260105, 20260105}).at(0).row, 9);
  store->ClearErrorKeysPending(1, std::nullopt);
  EXPECT_EQ(store->WholeApplicationKeyCounts(1, std::nullopt).at(0).keyCount, 12);
  store->AppendActivity({1, 20260106, "09", -1, 0, 0, 0, 46, 3});  // read before it is committed
  EXPECT_EQ(store->WholeApplicationKeyCounts(1, DateSpan{20260106, 20260106}).at(0).keyCount, 3);
  store->Close();

  const auto added = store->RowsAdded();
  EXPECT_EQ(added.size(), praxtest::kHistoryTables.size());
  EXPECT_EQ((std::vector<int64_t>{added.at("ActivitySystem"), added.at("EMSToolsList"), added.at("EMSSystemUsage")}),
            (std::vector<int64_t>{2, 2, 0}));
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
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "2\n");
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
    EXPECT_TRUE(Has(Raised([&] { PgLoaderLock(server.Connect(), "second"); }).what(), "first"));
  }
  const PgLoaderLock again(server.Connect(), "again");  // released with the first's connection
  server.Stop();
  const auto lost = Raised([&] { store->Commit(); });
  server.Start();
  EXPECT_TRUE(lost.Environment()) << lost.what();
  EXPECT_EQ(Server("SELECT count(*) FROM \"ActivitySystem\""), "0\n");
}

constexpr const char* kNul = "<NUL>";

// Every History table's rows as text, sorted; a NUL character shows as kNul (the server keeps U+FFFD in its place).
template <class Read>
Tables ReadTables(Read read, const char* quote) {
  Tables tables;
  for (const auto& t : HistorySchema()) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < t.fields.size(); ++i)
      sql += std::string(i ? " || '|' || " : "") + "coalesce(CAST(" + quote + t.fields[i].name + quote +
             " AS TEXT), '<null>')";
    auto rows = read(sql + " FROM " + quote + t.name + quote);
    for (auto& row : rows)
      for (const std::string& nul : {std::string(1, '\0'), std::string("\xEF\xBF\xBD")})
        for (size_t at; (at = row.find(nul)) != std::string::npos;) row.replace(at, nul.size(), kNul);
    std::sort(rows.begin(), rows.end());
    tables[t.name] = std::move(rows);
  }
  return tables;
}

Tables FileTables(const stdfs::path& file) {
  return ReadTables([&](const std::string& sql) { return praxtest::Query(file, sql); }, "");
}

Tables ServerTables() {
  return ReadTables([](const std::string& sql) { return praxtest::TestPgServer().Rows(sql); }, "\"");
}

// The indexes of the History tables and the load's day indexes that the server lacks.
std::string MissingIndexes() {
  std::string missing;
  const auto present = praxtest::TestPgServer().Rows("SELECT indexname FROM pg_indexes");
  for (const auto& t : HistorySchema()) {
    std::vector<std::string> names{t.name + "_Day_Ix"};
    for (const auto& ix : t.indexes) names.insert(names.begin(), t.name + "_" + ix.name);
    if (t.name != "AlertSystem" && t.name != "ActivitySystem") names.pop_back();
    for (const auto& name : names)
      if (std::find(present.begin(), present.end(), name) == present.end()) missing += name + " ";
  }
  return missing;
}

// PXNET.INI of the network's program folder with a section HISTORY holding `lines` (none: the file again).
void SetHistory(const Network& n, const std::string& lines) {
  std::ofstream(n.Prog() / "PXNET.INI", std::ios::binary | std::ios::trunc)
      << "[MAIN]\r\nNETDIR=" << n.NetText() << "\r\n" << (lines.empty() ? "" : "[HISTORY]\r\n" + lines);
}

std::string OnServer(const std::string& more = "") {
  return "ENGINE=PostgreSQL\r\nCONNECT=" + praxtest::TestPgServer().Connect() + more + "\r\n";
}

// The file's tables after a fresh load of the network, then the section set for the server and the file gone.
Tables LoadIntoFileFirst(const Network& n) {
  EXPECT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--quiet"}).exitCode, 0);
  Tables tables = FileTables(n.History());
  stdfs::remove(n.History());
  SetHistory(n, OnServer());
  return tables;
}

// A port on 127.0.0.1 that takes connections and never answers.
struct SilentPort {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  std::string port;
  SilentPort() {
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
      throw std::runtime_error("no port to listen on");
    port = std::to_string(ntohs(a.sin_port));
  }
  ~SilentPort() { ::close(fd); }
};

// The socket folder the test server is named by.
std::string Folder() {
  const std::string& c = praxtest::TestPgServer().Connect();
  return c.substr(5, c.find(' ') - 5);
}

TEST(PgSite, AFreshLoadOnTheServerHoldsTheFilesRows) {
  bool nulSeen = false;
  for (const char* nasty : {"0.1", "0.4"}) {
    SCOPED_TRACE(nasty);
    const Network n({"--users", "6", "--days", "4", "--seed", "17", "--nasty", nasty, "--start", "2026-01-05"});
    const Tables file = LoadIntoFileFirst(n);
    const auto r = n.Praxload({"--full", "--fresh", "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "PostgreSQL server")) << r.out;
    EXPECT_FALSE(stdfs::exists(n.History()));
    EXPECT_EQ(ServerTables(), file);
    EXPECT_EQ(MissingIndexes(), "");
    for (const auto& [name, rows] : file) for (const auto& row : rows) nulSeen = nulSeen || Has(row, kNul);
  }
  EXPECT_TRUE(nulSeen);  // the damaged lines gave text holding NUL
}

TEST(PgSite, ADryRunListsWhatTheRunThenLoadsAndWritesNothingThere) {
  const Network n;
  LoadIntoFileFirst(n);
  ASSERT_EQ(n.Praxload({"--full", "--fresh", "--yes"}).exitCode, 0);
  n.AppendDay();
  const Tables before = ServerTables();
  const auto dry = n.Praxload({"--dry-run"});
  EXPECT_EQ(dry.exitCode, 0) << dry.out << dry.err;
  EXPECT_TRUE(Has(dry.out, "days a run would load: 5 alert, 5 activity")) << dry.out;
  EXPECT_EQ(ServerTables(), before);
  EXPECT_TRUE(Has(n.Praxload({}).out, "days loaded: 5 alert, 5 activity"));
}

TEST(PgSite, FailuresAreNamedAndChangeNothing) {
  const Network n;
  const stdfs::path nowhere = n.Root() / "nowhere";
  const PgLoaderLock held(praxtest::TestPgServer().Connect(), "a loader on another machine");
  const SilentPort silent;
  const struct { const char* what; std::string history; int exitCode; std::string named; } cases[] = {
      {"server unreachable", "ENGINE=postgresql\r\nCONNECT=host=" + nowhere.string() + " dbname=praxdata\r\n", 1,
       nowhere.string()},
      {"login refused", OnServer(" user=nobody_here"), 1, "nobody_here"},
      {"password in PXNET.INI", OnServer(" password=secret"), 2, "PXNET.INI"},
      {"no connection string", "ENGINE=postgresql\r\n", 2, "CONNECT"},
      {"another engine", "ENGINE=oracle\r\nCONNECT=dbname=x\r\n", 2, "oracle"},
      {"another loader holds the server", OnServer(), 2, "a loader on another machine"},
      {"a server that never answers", "ENGINE=postgresql\r\nCONNECT=host=127.0.0.1 port=" + silent.port +
       " dbname=praxdata\r\nTIMEOUT=2\r\n", 1, "127.0.0.1 port " + silent.port},
      {"a TIMEOUT that is no number of seconds", OnServer() + "TIMEOUT=soon\r\n", 2, "TIMEOUT=<seconds>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetHistory(n, c.history);
    const auto r = n.Praxload({"--full", "--fresh", "--yes"}, {.timeoutSeconds = 120});
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(n.Praxload({"--dry-run"}, {.timeoutSeconds = 120}).exitCode, c.exitCode) << "a dry run's verdict";
    EXPECT_TRUE(Has(r.err, c.named)) << r.err;
    EXPECT_FALSE(Has(r.err + r.out, "secret"));
    EXPECT_FALSE(stdfs::exists(n.History()));
  }
}

TEST(PgSite, AConnectionLostMidRunLeavesWholeDaysAndTheNextRunCompletes) {
  praxtest::PgServer& server = praxtest::TestPgServer();
  const Network n({"--users", "40", "--days", "20", "--seed", "23", "--nasty", "0.05", "--start", "2026-01-05"});
  const Tables file = LoadIntoFileFirst(n);
  ASSERT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--only-create"}).exitCode, 0);
  // The server stops under one run, and ends our sessions under the next.
  for (const bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "server stopped" : "our sessions terminated");
    const auto count = [&] { return server.Rows("SELECT count(*) FROM \"ActivitySystem\"").at(0); };
    const std::string before = count();
    const praxtest::Pid pid = praxtest::Start(n.PraxloadArgs({"--full", "--quiet"}), n.Root(), {.timeoutSeconds = 300});
    bool midRun = false;
    for (int i = 0; i < 3000 && !midRun && !praxtest::Ended(pid); ++i) {
      midRun = count() != before;
      if (!midRun) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (stopped)
      server.Stop();
    else
      server.Rows("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid <> pg_backend_pid() AND "
                  "backend_type = 'client backend'");
    const auto lost = praxtest::Wait(pid, n.Root());
    server.Start();
    ASSERT_TRUE(midRun) << "the load ended before the connection was lost";
    EXPECT_TRUE(lost.exitCode == 1 && Has(lost.err, Folder())) << lost.exitCode << lost.err;
  }
  const auto next = n.Praxload({"--full", "--quiet"});
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(ServerTables(), file);
  EXPECT_EQ(MissingIndexes(), "");
}

// A report left open in a transaction on our tables holds "Create fresh" no
// longer than TIMEOUT, and loses it nothing.
TEST(PgSite, CreateFreshGivesUpOnTablesAReportHolds) {
  const Network n;
  SetHistory(n, OnServer() + "TIMEOUT=1\r\n");
  ASSERT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--quiet"}).exitCode, 0);
  const Tables before = ServerTables();
  {
    pg::Connection report(praxtest::TestPgServer().Connect());
    report.Begin();
    report.Run("SELECT count(*) FROM \"AlertSystem\"");
    const auto r = n.Praxload({"--full", "--fresh", "--yes"}, {.timeoutSeconds = 120});
    EXPECT_TRUE(r.exitCode == 1 && Has(r.err, Folder()) && Has(r.err, "TIMEOUT=")) << r.exitCode << r.err;
  }
  EXPECT_EQ(ServerTables(), before);
  EXPECT_FALSE(before.at("AlertSystem").empty());
}

// Names holding a backslash, a tab and a lone line feed (COPY's escapes), in every log of the network.
void PlantAwkwardNames(const Network& n) {
  const std::pair<std::string, std::string> names[] = {{"Microsoft Word", "Micro\\soft\tWord"},
                                                       {"todo.txt - Notepad", "todo\\txt\n- Notepad"},
                                                       {"Back at desk", "Back\tat\\desk\nagain"}};
  for (const auto& e : stdfs::recursive_directory_iterator(n.Net())) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ext != ".PXL" && ext != ".PXT") continue;
    std::string bytes = praxtest::Slurp(e.path());
    for (const auto& [from, to] : names)
      for (size_t at; (at = bytes.find(from)) != std::string::npos;) bytes.replace(at, from.size(), to);
    std::ofstream(e.path(), std::ios::binary | std::ios::trunc) << bytes;
  }
}

TEST(PgSite, ASiteMovesItsFileOntoTheServer) {
  const Network n({"--users", "5", "--days", "3", "--seed", "29", "--nasty", "0.2", "--start", "2026-01-05"});
  PlantAwkwardNames(n);
  EXPECT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--quiet"}).exitCode, 0);
  const Tables file = FileTables(n.History());
  std::string all;
  for (const auto& [name, rows] : file) for (const auto& row : rows) all += row;
  for (const char c : {'\\', '\t', '\n'}) EXPECT_TRUE(Has(all, std::string(1, c))) << int{c};
  SetHistory(n, OnServer());
  ASSERT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--quiet"}).exitCode, 0);

  const auto refused = n.Praxload({"--copy-history-to-server"});
  EXPECT_TRUE(refused.exitCode == 2 && Has(refused.err, "already holds rows")) << refused.exitCode << refused.err;

  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--only-create"}).exitCode, 0);
  // A server that drops one row the copy sends fails the copy, whole.
  praxtest::TestPgServer().Rows(
      "CREATE FUNCTION drop_one() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN IF NEW::text LIKE '(1,%' THEN "
      "RETURN NULL; END IF; RETURN NEW; END$$; CREATE TRIGGER drop_one BEFORE INSERT ON \"ApplicationsList\" "
      "FOR EACH ROW EXECUTE FUNCTION drop_one()");
  const auto dropped = n.Praxload({"--copy-history-to-server"});
  praxtest::TestPgServer().Rows("DROP FUNCTION drop_one() CASCADE");
  EXPECT_TRUE(dropped.exitCode == 1 && Has(dropped.err, "ApplicationsList")) << dropped.exitCode << dropped.err;
  for (const auto& [name, rows] : ServerTables()) EXPECT_EQ(rows.size(), 0u) << name;

  const auto copied = n.Praxload({"--copy-history-to-server"});
  EXPECT_EQ(copied.exitCode, 0) << copied.err;
  EXPECT_EQ(ServerTables(), file);
  EXPECT_EQ(FileTables(n.History()), file);
  // The next night's run there finds every day loaded.
  EXPECT_EQ(n.Praxload({"--full", "--quiet"}).exitCode, 0);
  EXPECT_EQ(ServerTables(), file);
}

}  // namespace

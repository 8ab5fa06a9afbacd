// A site whose History database is on a server, run as a scheduler runs
// praxload: the same rows as the file, failures named, and a next run that
// completes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "store/history_store.h"
#include "store/pg_history_store.h"
#include "support/pg_server.h"
#include "support/programs.h"

namespace {

namespace stdfs = std::filesystem;
using praxtest::Has;
using praxtest::Network;
using Tables = std::map<std::string, std::vector<std::string>>;

constexpr const char* kNul = "<NUL>";

// Every History table's rows as text, sorted; a NUL character shows as kNul
// (the server keeps U+FFFD in its place).
template <class Read>
Tables ReadTables(Read read, const char* quote) {
  Tables tables;
  for (const auto& t : prax::store::HistorySchema()) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < t.fields.size(); ++i) {
      sql += std::string(i ? " || '|' || " : "") + "coalesce(CAST(" + quote + t.fields[i].name + quote +
             " AS TEXT), '<null>')";
    }
    auto rows = read(sql + " FROM " + quote + t.name + quote);
    for (auto& row : rows) {
      for (const std::string& nul : {std::string(1, '\0'), std::string("\xEF\xBF\xBD")}) {
        for (size_t at; (at = row.find(nul)) != std::string::npos;) row.replace(at, nul.size(), kNul);
      }
    }
    std::sort(rows.begin(), rows.end());
    tables[t.name] = std::move(rows);
  }
  return tables;
}

// The first rows in which two loads differ, table by table; empty when equal.
std::string Differences(const Tables& server, const Tables& file) {
  std::string out;
  for (const auto& [name, rows] : file) {
    const auto& other = server.at(name);
    std::vector<std::string> onlyServer, onlyFile;
    std::set_difference(other.begin(), other.end(), rows.begin(), rows.end(), std::back_inserter(onlyServer));
    std::set_difference(rows.begin(), rows.end(), other.begin(), other.end(), std::back_inserter(onlyFile));
    if (onlyServer.empty() && onlyFile.empty()) continue;
    out += name + ": " + std::to_string(other.size()) + " rows on the server, " + std::to_string(rows.size()) +
           " in the file";
    if (!onlyServer.empty()) out += "; server only: " + onlyServer.front();
    if (!onlyFile.empty()) out += "; file only: " + onlyFile.front();
    out += "\n";
  }
  return out;
}

Tables FileTables(const stdfs::path& file) {
  return ReadTables([&](const std::string& sql) { return praxtest::Query(file, sql); }, "");
}

Tables ServerTables() {
  return ReadTables(
      [](const std::string& sql) { return praxtest::TestPgServer().Rows(sql); }, "\"");
}

// The indexes of the History tables and the load's day indexes that the
// server lacks.
std::string MissingIndexes() {
  std::string missing;
  const auto present = praxtest::TestPgServer().Rows("SELECT indexname FROM pg_indexes");
  for (const auto& t : prax::store::HistorySchema()) {
    std::vector<std::string> names{t.name + "_Day_Ix"};
    for (const auto& ix : t.indexes) names.insert(names.begin(), t.name + "_" + ix.name);
    if (t.name != "AlertSystem" && t.name != "ActivitySystem") names.pop_back();
    for (const auto& name : names) {
      if (std::find(present.begin(), present.end(), name) == present.end()) missing += name + " ";
    }
  }
  return missing;
}

// PXNET.INI of the network's program folder with a section HISTORY holding
// `lines` (none: the file again).
void SetHistory(const Network& n, const std::string& lines) {
  std::ofstream(n.Prog() / "PXNET.INI", std::ios::binary | std::ios::trunc)
      << "[MAIN]\r\nNETDIR=" << n.NetText() << "\r\n"
      << (lines.empty() ? "" : "[HISTORY]\r\n" + lines);
}

std::string OnServer(const std::string& more = "") {
  return "ENGINE=PostgreSQL\r\nCONNECT=" + praxtest::TestPgServer().Connect() + more + "\r\n";
}

// The file's tables after a fresh load of the network, then the section set
// for the server and the file gone.
Tables LoadIntoFileFirst(const Network& n) {
  EXPECT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--quiet"}).exitCode, 0);
  Tables tables = FileTables(n.History());
  stdfs::remove(n.History());
  SetHistory(n, OnServer());
  return tables;
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
    EXPECT_EQ(Differences(ServerTables(), file), "");
    EXPECT_EQ(MissingIndexes(), "");
    for (const auto& [name, rows] : file) {
      for (const auto& row : rows) nulSeen = nulSeen || Has(row, kNul);
    }
  }
  EXPECT_TRUE(nulSeen);  // the damaged lines gave text holding NUL
}

TEST(PgSite, FailuresAreNamedAndChangeNothing) {
  praxtest::PgServer& server = praxtest::TestPgServer();
  const Network n;
  const stdfs::path nowhere = n.Root() / "nowhere";
  const prax::store::PgLoaderLock held(server.Connect(), "a loader on another machine");
  const struct {
    const char* what;
    std::string history;
    int exitCode;
    std::string named;
  } cases[] = {
      {"server unreachable", "ENGINE=postgresql\r\nCONNECT=host=" + nowhere.string() + " dbname=praxdata\r\n", 1,
       nowhere.string()},
      {"login refused", OnServer(" user=nobody_here"), 1, "nobody_here"},
      {"password in PXNET.INI", OnServer(" password=secret"), 2, "PXNET.INI"},
      {"no connection string", "ENGINE=postgresql\r\n", 2, "CONNECT"},
      {"another engine", "ENGINE=oracle\r\nCONNECT=dbname=x\r\n", 2, "oracle"},
      {"another loader holds the server", OnServer(), 2, "a loader on another machine"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetHistory(n, c.history);
    const auto r = n.Praxload({"--full", "--fresh", "--yes"});
    EXPECT_EQ(r.exitCode, c.exitCode);
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

  const pid_t pid = praxtest::Start(n.PraxloadArgs({"--full", "--quiet"}), n.Root());
  bool midRun = false;
  for (int i = 0; i < 3000 && !midRun; ++i) {
    siginfo_t info{};
    if (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) break;
    midRun = server.Rows("SELECT count(*) FROM \"ActivitySystem\"") != std::vector<std::string>{"0"};
    if (!midRun) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  server.Stop();
  const auto lost = praxtest::Wait(pid, n.Root());
  server.Start();
  ASSERT_TRUE(midRun) << "the load ended before the server was stopped";
  EXPECT_EQ(lost.exitCode, 1);
  EXPECT_TRUE(Has(lost.err, server.Connect().substr(5, server.Connect().find(' ') - 5))) << lost.err;

  const auto next = n.Praxload({"--full", "--quiet"});
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(Differences(ServerTables(), file), "");
  EXPECT_EQ(MissingIndexes(), "");
}

TEST(PgSite, ASiteMovesItsFileOntoTheServer) {
  const Network n({"--users", "5", "--days", "3", "--seed", "29", "--nasty", "0.2", "--start", "2026-01-05"});
  EXPECT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--quiet"}).exitCode, 0);
  const Tables file = FileTables(n.History());
  SetHistory(n, OnServer());
  ASSERT_EQ(n.Praxload({"--full", "--fresh", "--yes", "--quiet"}).exitCode, 0);

  const auto refused = n.Praxload({"--copy-history-to-server"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(Has(refused.err, "already holds rows")) << refused.err;

  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--only-create"}).exitCode, 0);
  const auto copied = n.Praxload({"--copy-history-to-server"});
  EXPECT_EQ(copied.exitCode, 0) << copied.err;
  EXPECT_EQ(Differences(ServerTables(), file), "");
  EXPECT_EQ(FileTables(n.History()), file);
  // The next night's run there finds every day loaded.
  EXPECT_EQ(n.Praxload({"--full", "--quiet"}).exitCode, 0);
  EXPECT_EQ(Differences(ServerTables(), file), "");
}

}  // namespace

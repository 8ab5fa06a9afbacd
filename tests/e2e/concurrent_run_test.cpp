// A load as report readers and a second administrator meet it: a reader
// polling PRAXDATA.MDB while praxload writes it sees only whole days and never
// holds the run up, and a second praxload on the same network is refused at
// once, naming the holder of the lock.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace stdfs = std::filesystem;

// Rows per (table, user, day) as one read transaction sees them.
using DayRows = std::map<std::tuple<std::string, long, long>, long>;

// Reads the rows per day of both daily tables in one read transaction;
// false while the file or its tables are not there yet.
bool ReadDayRows(const stdfs::path& file, DayRows& rows) {
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(file.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(h);
    return false;
  }
  sqlite3_busy_timeout(h, 5000);
  bool ok = sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  for (const char* table : {"AlertSystem", "ActivitySystem"}) {
    const std::string sql =
        std::string("SELECT User_Num, Data_Date, count(*) FROM ") + table + " GROUP BY User_Num, Data_Date";
    sqlite3_stmt* st = nullptr;
    if (!ok || sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ok = false;
      sqlite3_finalize(st);
      break;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
      rows[{table, sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1)}] = sqlite3_column_int64(st, 2);
    ok = ok && rc == SQLITE_DONE;
    sqlite3_finalize(st);
  }
  sqlite3_exec(h, "END", nullptr, nullptr, nullptr);
  sqlite3_close(h);
  return ok;
}

std::string Slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Starts praxload with no terminal, its output going to files.
pid_t StartPraxload(const stdfs::path& prog, const std::vector<std::string>& options, const stdfs::path& out,
                    const stdfs::path& err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen(out.c_str(), "w", stdout) ||
        !std::freopen(err.c_str(), "w", stderr))
      ::_exit(127);
    std::vector<std::string> args{PRAX_BINARY_DIR "/praxload", "--program-dir", prog.string()};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ConcurrentRun, ReadersSeeWholeDaysAndASecondLoaderIsRefused) {
  praxtest::TempDir tmp;
  const stdfs::path net = tmp.Path() / "net", prog = tmp.Path() / "prog", history = net / "PRAXDATA.MDB";
  const std::string gen = std::string(PRAX_BINARY_DIR "/praxgen ") + net.string() + " --users 30 --days 12 --seed 5" +
                          " --program-dir " + prog.string() + " >/dev/null";
  ASSERT_EQ(std::system(gen.c_str()), 0);

  const pid_t first = StartPraxload(prog, {"--fresh", "--yes", "--quiet"}, tmp.Path() / "1.out", tmp.Path() / "1.err");
  ASSERT_GT(first, 0);

  // Poll until the first rows appear, then send a second loader in.
  std::vector<DayRows> seen;
  int secondExit = -2;
  std::string secondErr;
  while (true) {
    int status = 0;
    const bool ended = ::waitpid(first, &status, WNOHANG) == first;
    DayRows rows;
    if (ReadDayRows(history, rows) && !rows.empty()) {
      if (secondExit == -2 && !ended) {
        const pid_t second = StartPraxload(prog, {"--quiet"}, tmp.Path() / "2.out", tmp.Path() / "2.err");
        secondExit = WaitExit(second);
        secondErr = Slurp(tmp.Path() / "2.err");
      }
      seen.push_back(std::move(rows));
    }
    if (ended) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(tmp.Path() / "1.err");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  ASSERT_NE(secondExit, -2) << "the load ended before a second loader could be started";
  EXPECT_EQ(secondExit, 2) << secondErr;
  EXPECT_NE(secondErr.find("PRAXSERVER.LCK"), std::string::npos) << secondErr;
  EXPECT_NE(secondErr.find("process " + std::to_string(first)), std::string::npos) << secondErr;

  DayRows final;
  ASSERT_TRUE(ReadDayRows(history, final));
  ASSERT_GE(seen.size(), 3u) << "the reader saw too little of the run to tell anything";
  long partial = 0;
  for (const DayRows& snapshot : seen)
    for (const auto& [day, rows] : snapshot) partial += final.at(day) != rows;
  EXPECT_EQ(partial, 0) << "days seen half-written by a reader";
}

}  // namespace

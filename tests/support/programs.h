#pragma once
// The programs run as a scheduler runs them, and databases read through the SQLite library.

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

struct sqlite3;

namespace praxtest {

inline constexpr unsigned kNobody = 65534;
inline constexpr int kCannotDrop = 126;  // exit status of a child that could not switch to Limits::asUid
inline constexpr int kKilled = 9, kTimedOut = 14;  // Result::signal of Kill and of a timeout (as on POSIX)

#ifdef _WIN32
using Pid = void*;  // the process handle
#else
using Pid = pid_t;
#endif

struct Result {
  int exitCode = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out, err;  // CR LF read as LF
};

struct Limits {
  unsigned asUid = 0, asGid = 0;      // run as this account when started as root; POSIX only
  std::uint64_t maxFileBytes = 0;     // RLIMIT_FSIZE, SIGXFSZ ignored; 0: none; POSIX only
  unsigned timeoutSeconds = 0;        // killed after this long; 0: none
  std::filesystem::path workDir = {};  // current folder of the child; empty: the test's
  std::filesystem::path input = {};    // its standard input; empty: none
};

std::string Slurp(const std::filesystem::path& p);
inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
// A program of this build: PRAX_BINARY_DIR/name, with the executable suffix.
std::string Program(const std::string& name);

// argv[0], its output in scratch/<tag>stdout.txt and <tag>stderr.txt.
Pid Start(const std::vector<std::string>& argv, const std::filesystem::path& scratch, const Limits& limits = {},
          const std::string& tag = "");
Result Wait(Pid pid, const std::filesystem::path& scratch, const std::string& tag = "");
// The sqlite3 program on a database, reading `input`, as another program holding it open (output tag "sqlite3").
Pid StartSqlite3(const std::filesystem::path& db, const std::filesystem::path& input, const std::filesystem::path& scratch);
void Kill(Pid pid);  // at once, as SIGKILL does
bool Ended(Pid pid);  // without collecting it
long ProcessId(Pid pid);  // as the program reports its own
inline Result Run(const std::vector<std::string>& argv, const std::filesystem::path& scratch,
                  const Limits& limits = {}) {
  return Wait(Start(argv, scratch, limits), scratch);
}

// Query gives the rows of one statement, values joined by '|' (Null "<null>"); throws on failure.
class Db {
 public:
  explicit Db(const std::filesystem::path& file, bool write = false);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  std::vector<std::string> Query(const std::string& sql) const;

 private:
  std::string name_;
  sqlite3* h_ = nullptr;
};
inline std::vector<std::string> Query(const std::filesystem::path& db, const std::string& sql, bool write = false) {
  return Db(db, write).Query(sql);
}

extern const std::vector<std::string> kHistoryTables;

// A praxgen network with a program folder; by default users 1, 2, 4, 5, 6 with logs of 2026-01-05 to 07.
class Network {
 public:
  explicit Network(const std::vector<std::string>& gen = {"--users", "5", "--days", "3", "--seed", "11", "--start",
                                                          "2026-01-05"});
  std::filesystem::path Root() const { return root_.Path(); }
  std::filesystem::path Net() const { return Root() / "net"; }
  std::filesystem::path Prog() const { return Root() / "prog"; }
  std::filesystem::path History() const { return Net() / "PRAXDATA.MDB"; }
  std::string NetText() const { return Net().generic_string() + "/"; }

  void Praxgen(std::vector<std::string> options) const;  // on Net()
  void AppendDay() const { Praxgen({"--append-day"}); }
  std::vector<std::string> PraxloadArgs(const std::vector<std::string>& options) const;
  Result Praxload(const std::vector<std::string>& options, const Limits& limits = {}) const {
    return Run(PraxloadArgs(options), Root(), limits);
  }
  long Count(const std::string& sql) const { return std::stol(Sqlite3(History(), sql)); }
  std::string Dump() const;  // every History table, in stored order
  void GiveToNobody() const;  // hands the network and program folder to kNobody

 private:
  praxtest::TempDir root_;
};

}  // namespace praxtest

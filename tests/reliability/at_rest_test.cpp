// Whatever a command does (finishes, is refused, merges), every database file
// it leaves uses the rollback journal with no journal file beside it, so that
// readers on other machines may open it; files it only reads keep their bytes
// and modification time.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>

#include "reliability/programs.h"

namespace {

using reltest::Network;
using reltest::Result;
using reltest::Slurp;
namespace stdfs = std::filesystem;

struct FileState {
  std::string bytes;
  stdfs::file_time_type modified;
  bool operator==(const FileState&) const = default;
};
FileState State(const stdfs::path& p) { return {Slurp(p), stdfs::last_write_time(p)}; }

// Journal files below a folder, and database files whose header does not
// mark the rollback journal (bytes 18 and 19 are 2 in WAL mode).
std::vector<std::string> NotAtRest(const stdfs::path& dir) {
  std::vector<std::string> found;
  for (const auto& e : stdfs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    for (const std::string suffix : {"-wal", "-shm", "-journal"})
      if (name.size() > suffix.size() && name.ends_with(suffix)) found.push_back(name);
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ext != ".MDB" && ext != ".GRP") continue;
    const std::string header = Slurp(e.path()).substr(0, 20);
    if (header.size() < 20 || header[18] != 1 || header[19] != 1) found.push_back(name + " not in rollback mode");
  }
  return found;
}

TEST(AtRest, EveryCommandLeavesPlainFilesAndOnlyReadFilesUntouched) {
  Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--master"}).exitCode, 0);
  // Two networks to merge. A console holds the first one's roster open in WAL
  // mode with a committed table still only in its log (the merge keeps
  // the first roster's tables other than Users).
  const stdfs::path a = n.Root() / "a", b = n.Root() / "b";
  n.Generate(a);
  n.Generate(b);
  std::ofstream(n.Net() / "Networks.Lst", std::ios::binary)
      << "\"" << a.generic_string() << "/\",\"A\",\"GroupA\"\r\n\"" << b.generic_string() << "/\",\"B\",\"GroupB\"\r\n";
  sqlite3* console = nullptr;
  ASSERT_EQ(sqlite3_open((a / "MASTER.MDB").c_str(), &console), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(console,
                         "PRAGMA journal_mode = WAL; CREATE TABLE Annex (Name TEXT); INSERT INTO Annex VALUES ('kept')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  ASSERT_GT(stdfs::file_size(a / "MASTER.MDB-wal"), 0u);

  const stdfs::path master = n.Net() / "MASTER.MDB";
  struct Case {
    const char* journal;  // forced for the load
    std::vector<std::string> args;
    int exitCode;
    std::vector<stdfs::path> onlyRead;
    bool rosterInWal = false;  // as an older version left it: read as it is, set back by the next writer
  };
  const Case cases[] = {
      {"wal", {"--full"}, 0, {master}},
      {"wal", {"--range", "0", "5"}, 2, {master, n.History()}, true},
      {"delete", {"--range", "1", "3"}, 0, {}, true},
      {"wal", {"--fresh", "--yes", "--only-create"}, 0, {master}},
      {"delete", {"--fresh", "--yes", "--master"}, 0, {}},
      {"wal", {"--networks", "--fresh", "--yes"}, 0, {a / "MASTER.MDB", b / "MASTER.MDB"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.journal) + " " + c.args[0]);
    if (c.rosterInWal) praxtest::Sqlite3(master, "PRAGMA journal_mode = WAL;");
    std::vector<FileState> before;
    for (const auto& f : c.onlyRead) before.push_back(State(f));
    ::setenv("PRAX_JOURNAL", c.journal, 1);
    const Result r = n.Praxload(c.args);
    ::unsetenv("PRAX_JOURNAL");
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(State(c.onlyRead[i]) == before[i]) << c.onlyRead[i];
    const bool untouchedWal = c.rosterInWal && c.exitCode == 2;
    EXPECT_EQ(NotAtRest(n.Net()),
              untouchedWal ? std::vector<std::string>{"MASTER.MDB not in rollback mode"} : std::vector<std::string>{});
    EXPECT_EQ(NotAtRest(b), std::vector<std::string>{});
  }
  EXPECT_EQ(praxtest::Sqlite3(master, "SELECT Name FROM Annex;"), "kept\n");
  sqlite3_close(console);
}

}  // namespace

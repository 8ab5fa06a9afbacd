// Damaged, foreign, read-only and full databases: each ends the command with
// a message that names the file and what to do, and loses nothing stored.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <random>

#include "app/execute_command.h"
#include "app/startup.h"
#include "app/status.h"
#include "reliability/programs.h"

namespace {

using reltest::Has;
using reltest::Network;
using reltest::Result;
using reltest::Slurp;
namespace stdfs = std::filesystem;

void WriteBytes(const stdfs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

bool JournalBeside(const stdfs::path& db) {
  for (const char* suffix : {"-wal", "-shm", "-journal"})
    if (stdfs::exists(db.string() + suffix)) return true;
  return false;
}

class LastStatus : public prax::Status {};

TEST(BrokenDatabases, AreRefusedBeforeAnythingWritesToThem) {
  Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--master"}).exitCode, 0);
  const std::string history = Slurp(n.History());

  std::string access(4096, '\0');  // an Access file of an earlier installation
  access[1] = '\x01';
  access.replace(4, 15, "Standard Jet DB");
  std::string random(4096, '\0');
  std::mt19937 gen(7);
  for (char& c : random) c = static_cast<char>(gen());

  struct Case {
    const char* file;
    std::string bytes;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {"PRAXDATA.MDB", history.substr(0, history.size() / 2),
       {"shorter than its own header", "restore it from a backup", "praxload --fresh"}},
      {"MASTER.MDB", random, {"not a database of this program", "restore it from a backup"}},
      {"PRAXDATA.MDB", access, {"Access database from an earlier installation", "move it out", "praxload --fresh"}},
      {"MASTER.MDB", access, {"Access database from an earlier installation", "restore it from a backup"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.says[0]);
    const stdfs::path file = n.Net() / c.file;
    const std::string good = Slurp(file);
    WriteBytes(file, c.bytes);
    stdfs::remove(n.Net() / "UPDATED.DAT");

    const Result r = n.Praxload({"--master"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err.rfind("Error 3343: ", 0), 0u) << r.err;
    EXPECT_TRUE(Has(r.err, file.generic_string())) << r.err;
    for (const std::string& s : c.says) EXPECT_TRUE(Has(r.err, s)) << s << "\n" << r.err;

    // The window's path: the same refusal on the status line.
    LastStatus status;
    prax::RunContext ctx;
    ctx.status = &status;
    ctx.ProgramDir = n.Prog().generic_string();
    prax::RunStartup(ctx);
    prax::WindowChoices choices;
    choices.creationRule = 1;
    choices.masterState = 1;
    try {
      prax::RunExecute(ctx, choices);
      ADD_FAILURE() << "the command ran";
    } catch (const prax::Error& e) {
      prax::FailCommand(ctx, e);
      EXPECT_EQ(status.Message(), "Status: " + prax::DescribeError(e));
      EXPECT_TRUE(Has(e.what(), c.says[0])) << e.what();
    }
    ctx.Db.reset();

    EXPECT_EQ(Slurp(file), c.bytes);
    EXPECT_FALSE(JournalBeside(file));
    EXPECT_FALSE(stdfs::exists(n.Net() / "UPDATED.DAT"));
    WriteBytes(file, good);
  }
}

// Runs as the unprivileged account, so that permissions count even when the
// tests run as root.
TEST(BrokenDatabases, ReadOnlyPlacesRefuseAndARunAfterTheFixCompletes) {
  Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  stdfs::permissions(n.Root(), stdfs::perms::owner_all | stdfs::perms::group_read | stdfs::perms::group_exec |
                                   stdfs::perms::others_read | stdfs::perms::others_exec);
  const auto ro = stdfs::perms::owner_read | stdfs::perms::owner_exec | stdfs::perms::others_read |
                  stdfs::perms::others_exec;
  struct Case {
    const char* what;
    std::function<void()> breakIt, fixIt;
    int exitCode;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {"read-only PRAXDATA.MDB", [&] { stdfs::permissions(n.History(), stdfs::perms::owner_read); },
       [&] { stdfs::permissions(n.History(), stdfs::perms::owner_read | stdfs::perms::owner_write); }, 1,
       {"PRAXDATA.MDB", "Make the file and its folder writable"}},
      {"read-only network directory", [&] { stdfs::permissions(n.Net(), ro); },
       [&] { stdfs::permissions(n.Net(), stdfs::perms::owner_write, stdfs::perm_options::add); }, 2,
       {std::string("'") + n.NetText() + "' is not writable", "Make the folder writable"}},
      {"read-only network directory without a lock file",
       [&] {
         stdfs::remove(n.Net() / "PRAXSERVER.LCK");
         stdfs::permissions(n.Net(), ro);
       },
       [&] { stdfs::permissions(n.Net(), stdfs::perms::owner_write, stdfs::perm_options::add); }, 2,
       {"PRAXSERVER.LCK", "Make the folder writable"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    n.AppendDay();
    n.GiveToNobody();
    c.breakIt();
    const std::string before = Slurp(n.History());
    const Result r = n.Praxload({}, {.asNobody = true});
    if (r.exitCode == reltest::kCannotDrop) GTEST_SKIP() << "cannot switch to uid 65534 here";
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    for (const std::string& s : c.says) EXPECT_TRUE(Has(r.err, s)) << s << "\n" << r.err;
    EXPECT_EQ(Slurp(n.History()), before);
    c.fixIt();
    const Result again = n.Praxload({"--quiet"}, {.asNobody = true});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(Has(again.out, "days loaded: 5 alert, 5 activity")) << again.out;
  }
}

// A full disk, as a file-size limit on the praxload process (a size-limited
// file system would need mount rights): the days committed before the
// failure stay, and a run after the limit is lifted ends as an uninterrupted
// load does.
TEST(BrokenDatabases, FullDiskKeepsTheCommittedDaysAndARerunCompletesTheLoad) {
  auto loadWithTwoNewDays = [](const Network& n) {
    ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
    n.AppendDay();
    n.AppendDay();
  };
  Network reference;
  loadWithTwoNewDays(reference);
  ASSERT_EQ(reference.Praxload({}).exitCode, 0);
  const std::string expected = reference.Dump();

  for (const rlim_t limit : {rlim_t{100 * 1024}, rlim_t{400 * 1024}}) {  // fails in pass 1, in pass 2
    SCOPED_TRACE(limit);
    Network n;
    loadWithTwoNewDays(n);
    const Result r = n.Praxload({}, {.maxFileBytes = limit});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err.rfind("Error 3026: ", 0), 0u) << r.err;
    for (const std::string& s : {n.History().generic_string(), std::string("Not enough space on disk"),
                                 std::string("Free disk space"), std::string("the days stored before are kept")})
      EXPECT_TRUE(Has(r.err, s)) << s << "\n" << r.err;
    EXPECT_EQ(praxtest::Sqlite3(n.History(), "PRAGMA integrity_check;"), "ok\n");
    EXPECT_GE(std::stol(praxtest::Sqlite3(
                  n.History(), "SELECT COUNT(*) FROM (SELECT DISTINCT User_Num, Data_Date FROM AlertSystem);")),
              15);

    const Result again = n.Praxload({"--quiet"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(n.Dump(), expected);
  }
}

}  // namespace

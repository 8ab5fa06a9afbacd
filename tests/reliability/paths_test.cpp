// Symbolic links, '..' and absolute paths in user directories, Networks.Lst
// and the roster never lead the load or the merge outside the directories
// the system names: the entry is skipped and reported, and a sentinel outside
// is neither read, written nor deleted.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <set>

#include "reliability/programs.h"
#include "support/roster.h"

namespace {

using reltest::Has;
using reltest::Network;
using reltest::Result;
using reltest::Slurp;
namespace stdfs = std::filesystem;

// Every file below a folder with its bytes.
std::map<std::string, std::string> Snapshot(const stdfs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : stdfs::recursive_directory_iterator(dir))
    files[e.path().string()] = e.is_regular_file() ? Slurp(e.path()) : "<folder>";
  return files;
}

void Write(const stdfs::path& p, const std::string& bytes) {
  stdfs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

// Logs that would add a tool and an application named SENTINEL on 2026-01-08.
void WriteSentinelLogs(const stdfs::path& dir) {
  Write(dir / "20260108.PXL", "STArted 09:00\r\nUser Action: SENTINEL*260108 09\r\n");
  Write(dir / "20260108.PXT", "001 0900 \"SENTINEL\",\"SENTINEL\" 5 8,1\r\n");
}

TEST(Paths, TheLoadFollowsNoLinkOutOfTheNetworkDirectory) {
  Network n;
  const stdfs::path outside = n.Root() / "outside";
  WriteSentinelLogs(outside);
  const auto outsideBefore = Snapshot(outside);

  struct Case {
    std::string link;    // below the network directory
    stdfs::path target;  // what it points to
    std::string report;  // the status line naming it
  };
  const std::string net = n.NetText();
  const Case cases[] = {
      {"PX000002.DIR", "PX000002.DIR", "User directory '" + net + "PX000002.DIR' not read"},  // a loop
      {"PX000004.DIR", "..", "User directory '" + net + "PX000004.DIR' not read"},            // its parent
      {"PX000005.DIR", outside, "User directory '" + net + "PX000005.DIR' not read"},
      {"PX000001.DIR/20260108.PXL", outside / "20260108.PXL",
       "Log file '" + net + "PX000001.DIR/20260108.PXL' not read"},
      {"PX000001.DIR/20260108.PXT", outside / "20260108.PXT",
       "Log file '" + net + "PX000001.DIR/20260108.PXT' not read"},
  };
  for (const Case& c : cases) {
    stdfs::remove_all(n.Net() / c.link);
    stdfs::create_symlink(c.target, n.Net() / c.link);
  }

  const Result r = n.Praxload({"--fresh", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const Case& c : cases) EXPECT_TRUE(Has(r.out, "Status: " + c.report)) << c.report << "\n" << r.out;
  // Users 1 and 6 loaded as usual, nothing of the sentinel.
  EXPECT_EQ(praxtest::Sqlite3(n.History(), "SELECT DISTINCT User_Num FROM AlertSystem ORDER BY 1;"), "1\n6\n");
  EXPECT_EQ(praxtest::Sqlite3(n.History(), "SELECT COUNT(*) FROM AlertSystem WHERE Data_Date = 20260108;"), "0\n");
  for (const char* list : {"EMSToolsList WHERE Tool_Name", "ApplicationsList WHERE App_Name",
                           "WindowsList WHERE Window_Name"})
    EXPECT_EQ(praxtest::Sqlite3(n.History(), std::string("SELECT COUNT(*) FROM ") + list + " LIKE '%SENTINEL%';"),
              "0\n");
  EXPECT_EQ(Snapshot(outside), outsideBefore);
  for (const Case& c : cases) EXPECT_TRUE(stdfs::is_symlink(n.Net() / c.link)) << c.link;
}

TEST(Paths, TheMergeSkipsParentAbsoluteAndLinkedEntriesAndTouchesNothingOutside) {
  Network n;  // the target: its own logs go, Networks.Lst stays
  const stdfs::path root = n.Root();
  const stdfs::path outside = root / "outside";
  WriteSentinelLogs(outside / "PX000001.DIR");
  Write(outside / "sentinel.txt", "keep me");
  const auto outsideBefore = Snapshot(outside);

  // Network A: one good user, a user whose directory is a link out, a user
  // with a linked log, and roster rows whose Sub_Dir leads elsewhere.
  const stdfs::path a = root / "a";
  praxtest::MakeRoster(a / "MASTER.MDB", {{"U000001", "Good", "Ann", "", "PX000001.DIR"},
                                          {"U000002", "Linked", "Ben", "", "PX000002.DIR"},
                                          {"U000003", "Loop", "Cat", "", "PX000003.DIR"},
                                          {"U000004", "Dots", "Dan", "", ".."},
                                          {"U000005", "Up", "Eve", "", "../outside"},
                                          {"U000006", "Abs", "Fay", "", "/outside.DIR"}});
  Write(a / "PX000001.DIR/20260105.PXL", "STArted 09:00\r\n");
  stdfs::create_symlink(outside / "PX000001.DIR/20260108.PXL", a / "PX000001.DIR/20260108.PXL");
  stdfs::create_directory_symlink(outside / "PX000001.DIR", a / "PX000002.DIR");
  stdfs::create_directory_symlink("PX000003.DIR", a / "PX000003.DIR");
  // Links in the target are removed as links.
  stdfs::create_directory_symlink(outside, n.Net() / "PX000009.DIR");
  stdfs::create_symlink(outside / "sentinel.txt", n.Net() / "notes.txt");

  const std::string aText = a.generic_string() + "/";
  Write(n.Net() / "Networks.Lst", "\"" + aText + "\",\"A\",\"" + (outside / "evil").string() + "\"\r\n" +
                                      "\"" + aText + "../outside/\",\"B\",\"Up\"\r\n" +
                                      "\"" + aText + "\",\"C\",\"../evil\"\r\n");
  const Result r = n.Praxload({"--networks", "--fresh", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  const std::string reports[] = {
      "has no usable group name ('" + (outside / "evil").string() + "')",
      "network '" + aText + "../outside/' skipped: its path has a '..' component",
      "has no usable group name ('../evil')",
      "user directory '" + aText + "PX000002.DIR' not copied: it is a symbolic link",
      "user directory '" + aText + "PX000003.DIR' not copied: it is a symbolic link",
      "'" + aText + "PX000001.DIR/20260108.PXL' not copied: it is a symbolic link",
      "user with Sub_Dir \"..\" skipped",
      "user with Sub_Dir \"../outside\" skipped",
      "user with Sub_Dir \"/outside.DIR\" skipped",
  };
  for (const std::string& s : reports) EXPECT_TRUE(Has(r.out, s)) << s << "\n" << r.out;

  EXPECT_EQ(Snapshot(outside), outsideBefore);
  EXPECT_FALSE(stdfs::exists(root / "evil.Grp"));
  std::set<std::string> names;
  for (const auto& e : stdfs::directory_iterator(n.Net()))
    if (e.path().filename() != "PRAXSERVER.LCK") names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"Networks.Lst", "MASTER.MDB", "Everyone.grp", "PRAXDATA.MDB",
                                          "UPDATED.DAT", "PX000001.DIR", "PX000002.DIR",
                                          "PX000003.DIR", "PX000004.DIR", "PX000005.DIR", "PX000006.DIR"}));
  EXPECT_EQ(Snapshot(n.Net() / "PX000001.DIR").size(), 1u);  // the plain log only
  EXPECT_EQ(praxtest::Sqlite3(n.History(), "SELECT COUNT(*) FROM EMSToolsList WHERE Tool_Name LIKE '%SENTINEL%';"),
            "0\n");
}

}  // namespace

namespace {

// Every file of the network directory but the lock file, which each run
// rewrites with its own process id.
std::map<std::string, std::string> NetworkFiles(const Network& n) {
  auto files = Snapshot(n.Net());
  files.erase((n.Net() / "PRAXSERVER.LCK").string());
  return files;
}

TEST(Paths, AMergeListingTheNetworkDirectoryThroughABindMountDeletesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "mount --bind needs root; run the suite as root to test a bind-mounted alias";
  Network n;
  n.Generate(n.Root() / "b");
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  const stdfs::path alias = n.Root() / "alias";
  stdfs::create_directory(alias);
  if (::mount(n.Net().c_str(), alias.c_str(), nullptr, MS_BIND, nullptr) != 0)
    GTEST_SKIP() << "mount --bind failed here: " << std::strerror(errno);
  struct Unmount {
    stdfs::path at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{alias};
  // The network directory itself, under another name, then a second network.
  Write(n.Net() / "Networks.Lst", std::string("\"") + alias.string() + "/\",\"A\",\"North\"\r\n\"" + (n.Root() / "b").string() +
                                      "/\",\"B\",\"South\"\r\n");
  const auto before = NetworkFiles(n);

  const Result r = n.Praxload({"--networks", "--fresh", "--yes"}, {.timeoutSeconds = 60});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, std::string("'") + alias.string() + "/' is the network directory itself")) << r.err;
  EXPECT_TRUE(Has(r.err, "nothing was deleted")) << r.err;
  EXPECT_EQ(NetworkFiles(n), before);
}

TEST(Paths, LinksPlantedInTheNetworkDirectoryAreNeverWrittenThrough) {
  Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  n.AppendDay();  // every run below has a day to write
  const stdfs::path outside = n.Root() / "outside";
  Write(outside / "a.txt", "keep a");
  stdfs::copy_file(n.History(), outside / "PRAXDATA.MDB");  // a database a followed link would take
  const auto outsideBefore = Snapshot(outside);

  struct Case {
    std::string name, target;
    int exitCode;
  };
  const Case cases[] = {
      {"PRAXDATA.MDB", "PRAXDATA.MDB", 1},  // before the engine opens it
      {"PRAXSERVER.LCK", "a.txt", 2},       // before the command starts
      {"UPDATED.DAT", "a.txt", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const stdfs::path planted = n.Net() / c.name, aside = n.Root() / c.name;
    if (stdfs::exists(planted)) stdfs::rename(planted, aside);
    stdfs::create_symlink(outside / c.target, planted);
    const Result r = n.Praxload({"--full"});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, n.NetText() + c.name + "' is a symbolic link")) << r.err;
    EXPECT_EQ(Snapshot(outside), outsideBefore);
    EXPECT_TRUE(stdfs::is_symlink(planted));
    stdfs::remove(planted);
    if (stdfs::exists(aside)) stdfs::rename(aside, planted);
  }
}

TEST(Paths, AFifoOrDeviceNamedLikeAnInputIsSkippedOrRefusedWithoutWaiting) {
  Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  struct Case {
    std::string file;
    bool device;  // /dev/zero's numbers (root only); otherwise a FIFO
    std::vector<std::string> options;
    int exitCode;
  };
  const Case cases[] = {
      {"PX000001.DIR/20260108.PXL", false, {"--full"}, 0},
      {"PX000001.DIR/20260108.PXT", false, {"--full"}, 0},
      {"UserDefs.Prn", false, {"--full", "--master"}, 1},
      {"Networks.Lst", false, {"--full"}, 0},
      {"PX000002.DIR/20260109.PXL", true, {"--full"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const stdfs::path p = n.Net() / c.file;
    stdfs::remove(p);
    const int made = c.device ? ::mknod(p.c_str(), S_IFCHR | 0644, ::makedev(1, 5)) : ::mkfifo(p.c_str(), 0644);
    if (made != 0) {
      std::cout << "[ SKIPPED  ] " << c.file << ": cannot make it here (" << std::strerror(errno) << ")\n";
      continue;
    }
    const Result r = n.Praxload(c.options, {.timeoutSeconds = 30});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, n.NetText() + c.file + "' is a " + (c.device ? "device" : "FIFO")))
        << r.out << r.err;
    stdfs::remove(p);
  }
}

TEST(Paths, AMissingNetworkDirectoryIsRefusedAndNothingIsCreated) {
  Network n;
  const stdfs::path work = n.Root() / "work";  // the current folder of the runs
  Write(work / "keep.txt", "");
  Write(n.Root() / "file.txt", "");
  struct Case {
    std::string netdir;  // empty: no PXNET.INI ("Not Used")
    std::string shown;
  };
  const Case cases[] = {
      {"", "Not Used"},
      {(n.Root() / "missing").string() + "/", (n.Root() / "missing").string() + "/"},
      {(n.Root() / "file.txt").string() + "/", (n.Root() / "file.txt").string() + "/"},
  };
  auto files = [&] {
    auto all = Snapshot(n.Root());
    all.erase((n.Root() / "stdout.txt").string());
    all.erase((n.Root() / "stderr.txt").string());
    return all;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    stdfs::remove(n.Prog() / "PXNET.INI");
    if (!c.netdir.empty()) Write(n.Prog() / "PXNET.INI", "[MAIN]\r\nNETDIR=" + c.netdir + "\r\n");
    const auto before = files();
    for (const auto& options : {std::vector<std::string>{"--fresh", "--yes", "--master"},
                                std::vector<std::string>{"--networks", "--fresh", "--yes"}}) {
      const Result r = n.Praxload(options, {.timeoutSeconds = 30, .workDir = work});
      EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
      EXPECT_TRUE(Has(r.err, "The network directory '" + c.shown + "' does not exist")) << r.err;
      EXPECT_TRUE(Has(r.err, (n.Prog() / "PXNET.INI").string())) << r.err;
      EXPECT_EQ(files(), before);
    }
  }
}

}  // namespace

// Links, '..' and absolute paths never lead the load or the merge outside the directories the system names: the entry
// is skipped and reported, and a sentinel outside is neither read, written nor deleted. FIFOs, devices, a
// bind-mounted alias and a missing network directory are refused without waiting or creating anything, and so is a
// link, hard link or FIFO at any file a command writes.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "support/programs.h"
#include "support/roster.h"

namespace {

namespace stdfs = std::filesystem;
using praxtest::Has;
using praxtest::Network;
using praxtest::Result;

// Every file below a folder with its bytes, but the files named in `except`.
std::map<std::string, std::string> Snapshot(const stdfs::path& dir, const std::set<stdfs::path>& except = {}) {
  std::map<std::string, std::string> files;
  for (const auto& e : stdfs::recursive_directory_iterator(dir))
    if (!except.count(e.path())) files[e.path().string()] = e.is_regular_file() ? praxtest::Slurp(e.path()) : "<dir>";
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
  PRAX_SKIP_ON_WINDOWS("symbolic-link creation (Wine 8 makes no links)");
  const Network n;
  const stdfs::path outside = n.Root() / "outside";
  WriteSentinelLogs(outside);
  const auto outsideBefore = Snapshot(outside);
  const struct { std::string link; stdfs::path target; std::string kind; } cases[] = {  // link -> target
      {"PX000002.DIR", "PX000002.DIR", "User directory '"},  // a loop
      {"PX000004.DIR", "..", "User directory '"},            // its parent
      {"PX000005.DIR", outside, "User directory '"},
      {"PX000001.DIR/20260108.PXL", outside / "20260108.PXL", "Log file '"},
      {"PX000001.DIR/20260108.PXT", outside / "20260108.PXT", "Log file '"},
  };
  for (const auto& c : cases) {
    stdfs::remove_all(n.Net() / c.link);
    stdfs::create_symlink(c.target, n.Net() / c.link);
  }
  const Result r = n.Praxload({"--fresh", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const auto& c : cases) {
    EXPECT_TRUE(Has(r.out, "Status: " + c.kind + praxtest::Shown(n.Net() / c.link) + "' not read")) << c.link << "\n" << r.out;
    EXPECT_TRUE(stdfs::is_symlink(n.Net() / c.link)) << c.link;
  }
  EXPECT_EQ(praxtest::Sqlite3(n.History(), "SELECT DISTINCT User_Num FROM AlertSystem ORDER BY 1;"), "1\n6\n");
  EXPECT_EQ(n.Count("SELECT COUNT(*) FROM AlertSystem WHERE Data_Date = 20260108;"), 0);
  EXPECT_EQ(n.Count("SELECT COUNT(*) FROM EMSToolsList WHERE Tool_Name LIKE '%SENTINEL%';") +
                n.Count("SELECT COUNT(*) FROM ApplicationsList WHERE App_Name LIKE '%SENTINEL%';"), 0);
  EXPECT_EQ(Snapshot(outside), outsideBefore);
}

TEST(Paths, TheMergeSkipsParentAbsoluteAndLinkedEntriesAndTouchesNothingOutside) {
  PRAX_SKIP_ON_WINDOWS("symbolic-link creation (Wine 8 makes no links)");
  const Network n;  // the target
  const stdfs::path root = n.Root(), outside = root / "outside", a = root / "a";
  WriteSentinelLogs(outside / "PX000001.DIR");
  Write(outside / "sentinel.txt", "keep me");
  const auto outsideBefore = Snapshot(outside);
  // Network A: a good user with a linked log, a user whose directory is a
  // link out, a loop, and Sub_Dirs leading elsewhere.
  praxtest::MakeRoster(a / "MASTER.MDB", {{"U1", "Good", "", "", "PX000001.DIR"}, {"U2", "Out", "", "", "PX000002.DIR"},
                                          {"U3", "Loop", "", "", "PX000003.DIR"}, {"U4", "Dots", "", "", ".."},
                                          {"U5", "Up", "", "", "../outside"}, {"U6", "Abs", "", "", "/outside.DIR"}});
  Write(a / "PX000001.DIR/20260105.PXL", "STArted 09:00\r\n");
  stdfs::create_symlink(outside / "PX000001.DIR/20260108.PXL", a / "PX000001.DIR/20260108.PXL");
  stdfs::create_directory_symlink(outside / "PX000001.DIR", a / "PX000002.DIR");
  stdfs::create_directory_symlink("PX000003.DIR", a / "PX000003.DIR");
  stdfs::create_directory_symlink(outside, n.Net() / "PX000009.DIR");
  stdfs::create_symlink(outside / "sentinel.txt", n.Net() / "notes.txt");
  const std::string aText = a.generic_string() + "/";
  Write(n.Net() / "Networks.Lst", "\"" + aText + "\",\"A\",\"" + (outside / "evil").string() + "\"\r\n\"" + aText +
                                      "../outside/\",\"B\",\"Up\"\r\n\"" + aText + "\",\"C\",\"../evil\"\r\n");
  const Result r = n.Praxload({"--networks", "--fresh", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const std::string& s : {"has no usable group name ('" + (outside / "evil").string() + "')",
                               std::string("has no usable group name ('../evil')"),
                               "user directory '" + aText + "PX000002.DIR' not copied: it is a symbolic link",
                               std::string("user with Sub_Dir \"/outside.DIR\" skipped")})
    EXPECT_TRUE(Has(r.out, s)) << s << "\n" << r.out;
  EXPECT_EQ(Snapshot(outside), outsideBefore);
  EXPECT_FALSE(stdfs::exists(root / "evil.Grp"));
  std::set<std::string> names;
  for (const auto& e : stdfs::directory_iterator(n.Net())) names.insert(e.path().filename().string());
  names.erase("PRAXSERVER.LCK");
  EXPECT_EQ(names, (std::set<std::string>{"Networks.Lst", "MASTER.MDB", "Everyone.grp", "PRAXDATA.MDB", "UPDATED.DAT",
                                          "PX000001.DIR", "PX000002.DIR", "PX000003.DIR",
                                          "PX000004.DIR", "PX000005.DIR", "PX000006.DIR", "Up.Grp"}));
  EXPECT_TRUE(Has(r.err, "network '" + aText + "../outside/' left out")) << r.err;  // it has no roster
  EXPECT_EQ(Snapshot(n.Net() / "PX000001.DIR").size(), 1u);  // the plain log only
  EXPECT_EQ(n.Count("SELECT COUNT(*) FROM EMSToolsList WHERE Tool_Name LIKE '%SENTINEL%';"), 0);
}

TEST(Paths, AMergeListingTheNetworkDirectoryThroughABindMountDeletesNothing) {
  PRAX_SKIP_ON_WINDOWS("bind mounts");
#ifndef _WIN32
  if (::geteuid() != 0) GTEST_SKIP() << "mount --bind needs root; run the suite as root to test a bind-mounted alias";
  const Network n, b;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  const stdfs::path alias = n.Root() / "alias";
  stdfs::create_directory(alias);
  if (::mount(n.Net().c_str(), alias.c_str(), nullptr, MS_BIND, nullptr) != 0)
    GTEST_SKIP() << "mount --bind failed here: " << std::strerror(errno);
  const std::unique_ptr<const char, void (*)(const char*)> unmount(alias.c_str(),
                                                                   [](const char* at) { ::umount2(at, MNT_DETACH); });
  // The network directory itself, under another name, then a second network.
  Write(n.Net() / "Networks.Lst",
        std::string("\"") + alias.string() + "/\",\"A\",\"North\"\r\n\"" + b.NetText() + "\",\"B\",\"South\"\r\n");
  const std::set<stdfs::path> lock = {n.Net() / "PRAXSERVER.LCK"};  // each run writes its process id
  const auto before = Snapshot(n.Net(), lock);
  const Result r = n.Praxload({"--networks", "--fresh", "--yes"}, {.timeoutSeconds = 60});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, std::string("'") + alias.string() + "/' is the network directory itself")) << r.err;
  EXPECT_TRUE(Has(r.err, "nothing was deleted")) << r.err;
  EXPECT_EQ(Snapshot(n.Net(), lock), before);
#endif
}

TEST(Paths, FifosAndDevicesNamedLikeInputsAreRefusedWithoutWaiting) {
  PRAX_SKIP_ON_WINDOWS("FIFOs and device nodes");
#ifndef _WIN32
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  n.AppendDay();  // every run below has a day to write
  const struct { std::string name; bool fifo; std::vector<std::string> options; int exitCode; } cases[] = {
      {"PX000001.DIR/20260109.PXL", true, {"--full"}, 0},
      {"PX000001.DIR/20260109.PXT", true, {"--full"}, 0},
      {"UserDefs.Prn", true, {"--full", "--master"}, 1},
      {"Networks.Lst", true, {"--full"}, 0},
      {"PX000002.DIR/20260109.PXL", false, {"--full"}, 0},  // /dev/zero's numbers (root only)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const stdfs::path planted = n.Net() / c.name, aside = n.Root() / "aside";
    if (stdfs::exists(planted)) stdfs::rename(planted, aside);
    if ((c.fifo ? ::mkfifo(planted.c_str(), 0644) : ::mknod(planted.c_str(), S_IFCHR | 0644, ::makedev(1, 5))) != 0) {
      std::cout << "[ SKIPPED  ] " << c.name << ": cannot make it here (" << std::strerror(errno) << ")\n";
      continue;
    }
    const Result r = n.Praxload(c.options, {.timeoutSeconds = 30});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, praxtest::Shown(n.Net() / c.name) + "' is a " + (c.fifo ? "FIFO" : "device"))) << r.out << r.err;
    stdfs::remove(planted);
    if (stdfs::exists(aside)) stdfs::rename(aside, planted);
  }
#endif
}

// Every file a command writes, planted as a link to an outside file, a dangling link, a second name of an outside
// file or a FIFO: the run ends within seconds naming it, and nothing outside is written or created.
TEST(Paths, EveryWrittenFileRefusesLinksHardLinksAndFifos) {
  const Network n;
  ASSERT_EQ(n.Praxload({"--fresh", "--yes"}).exitCode, 0);
  const stdfs::path outside = n.Root() / "outside", log = n.Prog() / "PRAXLOAD.LOG";
  Write(outside / "a.txt", "keep a");
  Write(n.Net() / "Everyone.grp", "");  // a group file (only its journals are looked at)
  const struct { stdfs::path file; int exitCode; std::vector<std::string> options = {}; } cases[] = {
      {log, 0}, {n.Prog() / "PRAXLOAD.LOG.1", 0}, {n.Prog() / "UPDATED.DAT", 1}, {n.Net() / "UPDATED.DAT", 1},
      {n.Net() / "PRAXSERVER.LCK", 2}, {n.Net() / "PRAXSERVER.WRT", 2}, {n.Net() / "PRAXDATA.MDB-journal", 2},
      {n.Net() / "PRAXDATA.MDB-wal", 2}, {n.Net() / "PRAXDATA.MDB-shm", 2}, {n.Net() / "MASTER.MDB-journal", 2},
      {n.Net() / "MASTER.MDB-wal", 2}, {n.Net() / "Everyone.grp-journal", 2},
      {n.Net() / "PRAXDATA.MDB", 1}, {n.Net() / "PRAXDATA.MDB.building", 1, {"--fresh", "--yes"}},
  };
  const char* kinds[] = {"symbolic link", "symbolic link", "hard link", "FIFO"};
  for (const auto& c : cases)
    for (int kind = 0; kind < 4; ++kind) {
      if (praxtest::kWindows && kind != 2) continue;  // Wine 8 makes no symbolic links, Windows no FIFOs
      SCOPED_TRACE(c.file.filename().string() + " " + std::to_string(kind));
      const stdfs::path aside = n.Root() / "aside";
      if (stdfs::exists(c.file)) stdfs::rename(c.file, aside);
      if (c.file.extension() == ".1") Write(log, std::string(1100 * 1024, 'x'));  // rotated at this run
      if (kind < 2) stdfs::create_symlink(outside / (kind == 0 ? "a.txt" : "gone"), c.file);
      if (kind == 2) stdfs::create_hard_link(outside / "a.txt", c.file);
#ifndef _WIN32
      if (kind == 3) { ASSERT_EQ(::mkfifo(c.file.c_str(), 0644), 0); }
#endif
      const Result r = n.Praxload(c.options, {.timeoutSeconds = 30});
      EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
      EXPECT_TRUE(Has(r.err, praxtest::Shown(c.file) + "' is a " + kinds[kind])) << r.err;
      EXPECT_EQ(Snapshot(outside), (std::map<std::string, std::string>{{(outside / "a.txt").string(), "keep a"}}));
      stdfs::remove(c.file);
      if (stdfs::exists(aside)) stdfs::rename(aside, c.file);
      if (c.file.extension() == ".1") stdfs::remove(log);
    }
}

TEST(Paths, AMissingNetworkDirectoryIsRefusedAndNothingIsCreated) {
  const Network n;
  const stdfs::path work = n.Root() / "work", missing = n.Root() / "missing", file = n.Root() / "file.txt";
  Write(work / "keep.txt", "");  // the current folder of the runs
  Write(file, "");
  const std::set<stdfs::path> output = {n.Root() / "stdout.txt", n.Root() / "stderr.txt"};
  for (const std::string& netdir : {std::string(), missing.string() + "/", file.string() + "/"}) {
    SCOPED_TRACE(netdir);  // empty: no PXNET.INI ("Not Used")
    stdfs::remove(n.Prog() / "PXNET.INI");
    if (!netdir.empty()) Write(n.Prog() / "PXNET.INI", "[MAIN]\r\nNETDIR=" + netdir + "\r\n");
    const auto before = Snapshot(n.Root(), output);
    for (const auto& options : {std::vector<std::string>{"--fresh", "--yes", "--master"},
                                std::vector<std::string>{"--networks", "--fresh", "--yes"}}) {
      const Result r = n.Praxload(options, {.timeoutSeconds = 30, .workDir = work});
      EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
      EXPECT_TRUE(Has(r.err, "The network directory '" + (netdir.empty() ? "Not Used" : praxtest::Shown(netdir)) + "' does not exist"))
          << r.err;
      EXPECT_TRUE(Has(r.err, praxtest::Shown(n.Prog() / "PXNET.INI"))) << r.err;
      EXPECT_EQ(Snapshot(n.Root(), output), before);
    }
  }
}

}  // namespace

#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "platform/fs.h"
#include "platform/run_lock.h"
#include "platform/text.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace prax::fs {
namespace {

ErrorKind KindRaised(const std::function<void()>& f) { return praxtest::Raised(f).Kind(); }

// Path text as the system builds it: backslashes below the folder.
std::string Win(const praxtest::TempDir& dir, const std::string& relative) { return dir.Text() + relative; }

TEST(RealPath, ResolvesLetterCaseWithBackslashes) {
  praxtest::TempDir dir;
  dir.Write("DIR/PX000001.DIR/PRAX032.PXL", "x");
  if (!praxtest::kWindows) dir.Write("DIR/Same.txt", "upper");  // one folder holding both: not on Windows
  dir.Write("DIR/same.txt", "lower");
  dir.Write(".Networks.Lst", "");
  // Windows itself ignores letter case: there the path is kept as written.
  const auto form = [](const std::filesystem::path& p) {
    return praxtest::kWindows ? text::ToUpperAscii(p.generic_string()) : p.generic_string();
  };
  const auto real = [&](const std::string& text) { return form(RealPath(text)); };
  EXPECT_EQ(real(Win(dir, "dir\\px000001.dir\\prax032.pxl")), form(dir.Path() / "DIR" / "PX000001.DIR" / "PRAX032.PXL"));
  EXPECT_EQ(ReadFile(Win(dir, "dir\\same.txt")), "lower");  // the exact name wins
  if (!praxtest::kWindows) {
    EXPECT_EQ(ReadFile(Win(dir, "dir\\Same.txt")), "upper");
  }
  // Missing components are kept as written, with the existing part resolved.
  EXPECT_EQ(real(Win(dir, "dir\\New\\x.PXL")), form(dir.Path() / "DIR" / "New" / "x.PXL"));
  EXPECT_EQ(RealPath("C:\\nowhere\\a"), std::filesystem::path("C:/nowhere/a"));
  EXPECT_EQ((std::vector<bool>{Exists(Win(dir, "DIR\\px000001.DIR\\")), IsDirectory(Win(dir, "dir//px000001.dir")),
                               IsDirectory(Win(dir, "dir\\same.txt")), Exists(Win(dir, "dir\\same.txt"), false),
                               Exists(Win(dir, ".networks.lst")), Exists(Win(dir, ".networks.lst"), false)}),
            (std::vector<bool>{true, true, false, true, true, false}));  // hidden files count only when asked
}

// Paths as messages and written files show them: the system's own separators, a doubled one made single
// except the pair that begins a network name.
TEST(ForDisplay, NativeSeparators) {
  const struct { const char *text, *posix, *windows; } cases[] = {
      {"/net//PX000012.DIR\\PRAX014.PXL", "/net/PX000012.DIR/PRAX014.PXL", "\\net\\PX000012.DIR\\PRAX014.PXL"},
      {"W:/Prax Net/PX000001.DIR\\20261119.PXL", "W:/Prax Net/PX000001.DIR/20261119.PXL",
       "W:\\Prax Net\\PX000001.DIR\\20261119.PXL"},
      {"\\\\server\\share//net\\", "//server/share/net/", "\\\\server\\share\\net\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(ForDisplay(c.text), praxtest::kWindows ? c.windows : c.posix);
}

// What an entry is, a link not followed, alike when asked by name and in its folder's listing.
TEST(List, LinksAreSeenByNameAndInTheListing) {
  praxtest::TempDir dir;
  dir.Write("file.pxl", "");
  dir.Write("folder/f", "");
  std::error_code ec;
  std::filesystem::create_directory_symlink(dir.Path() / "folder", dir.Path() / "link", ec);
  if (ec || !std::filesystem::exists(dir.Path() / "link")) GTEST_SKIP() << "this account cannot make links here";
  const std::map<std::string, EntryKind> kinds = {
      {"file.pxl", EntryKind::kFile}, {"folder", EntryKind::kFolder}, {"link", EntryKind::kLink}};
  for (const DirEntry& e : List(dir.Text())) {
    EXPECT_EQ(KindOfEntry(RealPath(Win(dir, e.name))), kinds.at(e.name)) << e.name;
    EXPECT_TRUE(e.isSymlink == (e.name == "link") && e.isDirectory == (e.name != "file.pxl")) << e.name;
  }
  EXPECT_EQ(KindOfEntry(RealPath(Win(dir, "none"))), EntryKind::kNone);
}

TEST(List, SortedByUpperCaseNameAndFilteredByPattern) {
  praxtest::TempDir dir;
  for (const char* name : {"b.PXL", "A.pxl", "_x.PXL", "a2.PXL", ".h.pxl", "c.PXT", "x.PXLX"}) dir.Write(name, "");
  dir.Write("sub.pxl/f", "");
  auto names = [&](const char* pattern) {
    std::vector<std::string> out;
    for (const auto& e : List(dir.Text(), pattern)) out.push_back(e.name + (e.isDirectory ? "/" : ""));
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names("*.PXL"), (V{".h.pxl", "A.pxl", "a2.PXL", "b.PXL", "sub.pxl/", "_x.PXL"}));
  EXPECT_EQ(names("?.p*"), (V{"A.pxl", "b.PXL", "c.PXT", "x.PXLX"}));
  EXPECT_EQ(List(dir.Text()).size(), 8u);
  EXPECT_TRUE(List(Win(dir, "missing")).empty());
}

// Only a folder that does not exist lists empty: one that cannot be read is
// named as the machine's failure, or handed to a caller that asks why.
TEST(List, AFolderThatCannotBeReadIsNamedNotTakenForEmpty) {
  praxtest::TempDir dir;
  dir.Write("file", "");
  dir.Write("locked/a.pxl", "");
  std::vector<std::pair<std::string, bool>> cases = {{"missing", false}, {"file", true}, {"file\\below", true}};
#ifndef _WIN32  // Windows has no FIFOs, and Wine reads a folder whatever its mode
  ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
  cases.push_back({"fifo", true});
  if (::geteuid() != 0) cases.push_back({"locked", true});  // root reads it all the same
  ::chmod((dir.Path() / "locked").c_str(), 0);
#endif
  for (const auto& [name, raises] : cases) {
    const Error e = praxtest::Raised([&] { EXPECT_TRUE(List(Win(dir, name)).empty()); });
    EXPECT_EQ(e.Kind(), raises ? err::kPathFileAccess : err::kNone) << name;
    EXPECT_TRUE(!raises || (e.Environment() && praxtest::Has(e.what(), ForDisplay(Win(dir, name))))) << e.what();
    std::error_code why;
    EXPECT_TRUE(List(Win(dir, name), "*", &why).empty() && why) << name;
  }
  std::filesystem::permissions(dir.Path() / "locked", std::filesystem::perms::owner_all);
}

TEST(Files, ReadWriteCopyDeleteAndDirectories) {
  praxtest::TempDir dir;
  const std::string bytes("a\0b\r\n\xE9", 6);
  WriteFile(Win(dir, "One.dat"), bytes);
  EXPECT_EQ(ReadFile(Win(dir, "ONE.DAT")), bytes);
  WriteFile(Win(dir, "one.DAT"), "");  // overwrites the existing file
  EXPECT_EQ(ReadFile(Win(dir, "One.dat")), "");

  praxtest::SetMTime(dir.Write("src.pxl", "log"), 2002, 2, 1);
  dir.Write("copy.pxl", "an older copy");
  CopyFile(Win(dir, "SRC.PXL"), Win(dir, "copy.pxl"));  // overwrites it
  EXPECT_EQ(ReadFile(Win(dir, "copy.pxl")), "log");
  auto modified = [&] {
    const auto t = LastModified(Win(dir, "COPY.PXL")).value();
    return std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second};
  };
  EXPECT_EQ(modified(), (std::vector<int>{2002, 2, 1, 12, 0, 0}));
  SetLastModified(Win(dir, "copy.pxl"), {2003, 12, 31, 23, 59, 58});
  EXPECT_EQ(modified(), (std::vector<int>{2003, 12, 31, 23, 59, 58}));
  EXPECT_FALSE(LastModified(Win(dir, "none")).has_value());
  DeleteFile(Win(dir, "Copy.Pxl"));
  EXPECT_FALSE(Exists(Win(dir, "copy.pxl")));
  MakeDirectory(Win(dir, "NewDir"));
  EXPECT_TRUE(IsDirectory(Win(dir, "newdir")));
  RemoveDirectory(Win(dir, "NEWDIR"));
  EXPECT_FALSE(Exists(Win(dir, "NewDir")));
  dir.Write("full/f", "");

  const Error missing = praxtest::Raised([&] { ReadFile(Win(dir, "nothere.pxl")); });
  EXPECT_TRUE(missing.Kind() == err::kFileNotFound && std::string(missing.what()).find("nothere.pxl") != std::string::npos);
  const std::pair<std::function<void()>, ErrorKind> failures[] = {
      {[&] { ReadFile(Win(dir, "nodir\\x")); }, err::kPathNotFound},
      {[&] { ReadFile(dir.Text()); }, err::kPathFileAccess},
      {[&] { WriteFile(Win(dir, "nodir\\x"), "y"); }, err::kPathNotFound},
      {[&] { DeleteFile(Win(dir, "copy.pxl")); }, err::kFileNotFound},
      {[&] { CopyFile(Win(dir, "none"), Win(dir, "x")); }, err::kFileNotFound},
      {[&] { MakeDirectory(Win(dir, "src.pxl")); }, err::kPathFileAccess},
      {[&] { RemoveDirectory(Win(dir, "nodir")); }, err::kPathNotFound},
      {[&] { RemoveDirectory(Win(dir, "FULL")); }, err::kPathFileAccess},
  };
  for (size_t i = 0; i < std::size(failures); ++i) EXPECT_EQ(KindRaised(failures[i].first), failures[i].second) << i;
}

// Only plain files are read or written: a link is not gone through and a FIFO is refused at once, each named; a file
// with a second name is read but never written; what a link points to stays as it was.
TEST(Files, OnlyPlainFilesAreReadOrWritten) {
  praxtest::TempDir dir;
  dir.Write("outside.txt", "keep");
  std::filesystem::create_hard_link(dir.Path() / "outside.txt", dir.Path() / "linked.dat");
#ifndef _WIN32  // Wine 8 makes no symbolic links, Windows no FIFOs: the hard link alone there
  std::filesystem::create_symlink(dir.Path() / "outside.txt", dir.Path() / "link.dat");
  std::filesystem::create_symlink(dir.Path() / "nowhere.txt", dir.Path() / "dangling.dat");
  ASSERT_EQ(::mkfifo((dir.Path() / "pipe.dat").c_str(), 0644), 0);
#endif
  const std::function<void(const std::string&)> uses[] = {  // reading first
      [](const std::string& f) { (void)ReadFile(f); }, [](const std::string& f) { WriteFile(f, "x"); },
      [](const std::string& f) { AppendFile(f, "x"); }, [](const std::string& f) { ReplaceFile(f, "x"); },
      [](const std::string& f) { RequireOwnFile(f); }};
  for (const std::string name : {"link.dat", "dangling.dat", "pipe.dat", "linked.dat"}) {
    if (!std::filesystem::exists(std::filesystem::symlink_status(dir.Path() / name))) continue;
    for (std::size_t i = name == "linked.dat" ? 1 : 0; i < std::size(uses); ++i) {
      const Error e = praxtest::Raised([&] { uses[i](Win(dir, name)); });
      EXPECT_EQ(e.Kind(), err::kPathFileAccess) << name << " " << i;
      EXPECT_NE(std::string(e.what()).find(ForDisplay(Win(dir, name)) + "' is a"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(ReadFile(Win(dir, "linked.dat")), "keep");
  EXPECT_EQ(ReadFile(Win(dir, "outside.txt")), "keep");
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "nowhere.txt"));
}

TEST(RunLock, SecondHolderIsRefusedNamingTheFirstUntilItEnds) {
  praxtest::TempDir dir;
  auto refusal = [](const std::string& dirText) { return std::string(praxtest::Raised([&] { RunLock l(dirText); }).what()); };
  std::optional<RunLock> first;
  first.emplace(dir.Text());
  const std::string message = refusal(dir.Text());
  EXPECT_NE(message.find("process " + std::to_string(::getpid())), std::string::npos) << message;
  // The record and the lock file, and nothing the record was written under first.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
  EXPECT_NE(message.find("PRAXSERVER.LCK"), std::string::npos) << message;
  first.reset();
  EXPECT_EQ(refusal(dir.Text()), "");  // the file left behind, as after a kill, is no obstacle
  EXPECT_NE(refusal(dir.Text() + "missing/").find("PRAXSERVER.LCK"), std::string::npos);
}

// A record left behind is taken over (and said) only when its holder is gone;
// a live one, or a link, is refused naming it and left as it was.
TEST(RunLock, ARecordLeftBehindIsTakenOverOnlyWhenItsHolderIsGone) {
  const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(10);
  using Left = std::function<std::string(const praxtest::TempDir&)>;
  auto foreign = [&](std::vector<const char*> names, bool old) -> Left {
    return [=](const praxtest::TempDir& d) {
      for (const char* name : names) d.Write(name, "host elsewhere, process 1\n");
      for (const char* name : names) old ? std::filesystem::last_write_time(d.Path() / name, longAgo) : void();
      return std::string("host elsewhere");
    };
  };
  const struct { const char* what; Left left; bool taken; const char* windowsLacks = nullptr; } cases[] = {
      {"another machine's, beating", foreign({"PRAXSERVER.RUN"}, false), false},
      {"another machine's, silent for minutes", foreign({"PRAXSERVER.RUN"}, true), true},
      {"and a takeover killed half-way", foreign({"PRAXSERVER.RUN.TAKE", "PRAXSERVER.RUN"}, true), true},
      {"a link to a file elsewhere", [](auto& d) {
         std::filesystem::create_symlink(d.Write("outside", "keep"), d.Path() / "PRAXSERVER.RUN");
         return std::string("PRAXSERVER.RUN' is a"); }, false, "symbolic-link creation (Wine 8)"},
      {"this machine's, its process ended", [](auto& d) {
#ifndef _WIN32
         const pid_t child = ::fork();
         if (child == 0) { new RunLock(d.Text()); ::_exit(0); }  // killed, as it were: nothing released
         ::waitpid(child, nullptr, 0);
         return "process " + std::to_string(child);
#else
         return d.Text();
#endif
       }, true, "fork (a process of this program that ends holding the record)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (praxtest::kWindows && c.windowsLacks) continue;  // the row names what Windows or Wine lacks
    const praxtest::TempDir d;
    const std::string says = c.left(d), before = praxtest::Slurp(d.Path() / "PRAXSERVER.RUN");
    std::optional<RunLock> lock;
    const std::string refused = praxtest::Raised([&] { lock.emplace(d.Text()); }).what();
    ASSERT_EQ(lock.has_value(), c.taken) << refused;
    EXPECT_NE((c.taken ? lock->Notices().at(0) : refused).find(says), std::string::npos) << refused;
    EXPECT_EQ(praxtest::Slurp(d.Path() / "PRAXSERVER.RUN") == before, !c.taken);  // through a link: its target
  }
}

}  // namespace
}  // namespace prax::fs

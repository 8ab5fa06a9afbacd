#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace prax::fs {
namespace {

int ErrorNumber(auto&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.Number();
  }
  return 0;
}

// Path text as the system builds it: backslashes below the folder.
std::string Win(const praxtest::TempDir& dir, const std::string& relative) { return dir.Text() + relative; }

TEST(RealPath, ResolvesLetterCaseWithBackslashes) {
  praxtest::TempDir dir;
  dir.Write("DIR/PX000001.DIR/PRAX032.PXL", "x");
  dir.Write("DIR/Same.txt", "upper");
  dir.Write("DIR/same.txt", "lower");
  const auto real = RealPath(Win(dir, "dir\\px000001.dir\\prax032.pxl"));
  EXPECT_EQ(real, dir.Path() / "DIR" / "PX000001.DIR" / "PRAX032.PXL");
  EXPECT_EQ(ReadFile(Win(dir, "Dir\\Px000001.Dir\\Prax032.Pxl")), "x");
  EXPECT_EQ(ReadFile(Win(dir, "dir\\same.txt")), "lower");  // the exact name wins
  EXPECT_EQ(ReadFile(Win(dir, "dir\\Same.txt")), "upper");
  // Missing components are kept as written, with the existing part resolved.
  EXPECT_EQ(RealPath(Win(dir, "dir\\New\\x.PXL")), dir.Path() / "DIR" / "New" / "x.PXL");
  EXPECT_EQ(RealPath("C:\\nowhere\\a"), std::filesystem::path("C:/nowhere/a"));
  EXPECT_TRUE(Exists(Win(dir, "DIR\\px000001.DIR\\")));
  EXPECT_TRUE(IsDirectory(Win(dir, "dir//px000001.dir")));
  EXPECT_FALSE(IsDirectory(Win(dir, "dir\\same.txt")));
}

TEST(Exists, HiddenFilesCountOnlyWhenAsked) {
  praxtest::TempDir dir;
  dir.Write(".Networks.Lst", "");
  dir.Write("APPS.NO", "");
  EXPECT_TRUE(Exists(Win(dir, ".networks.lst")));
  EXPECT_FALSE(Exists(Win(dir, ".networks.lst"), false));
  EXPECT_TRUE(Exists(Win(dir, "apps.no"), false));
  EXPECT_FALSE(Exists(Win(dir, "keys.max")));
}

TEST(List, SortedByUpperCaseNameAndFilteredByPattern) {
  praxtest::TempDir dir;
  for (const char* name : {"b.PXL", "A.pxl", "_x.PXL", "a2.PXL", ".h.pxl", "c.PXT", "x.PXLX"}) dir.Write(name, "");
  dir.Write("sub.pxl/f", "");
  auto names = [](const std::vector<DirEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name + (e.isDirectory ? "/" : ""));
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names(List(dir.Text(), "*.PXL")), (V{".h.pxl", "A.pxl", "a2.PXL", "b.PXL", "sub.pxl/", "_x.PXL"}));
  EXPECT_EQ(names(List(dir.Text(), "?.p*")), (V{"A.pxl", "b.PXL", "c.PXT", "x.PXLX"}));
  EXPECT_EQ(List(dir.Text()).size(), 8u);
  EXPECT_TRUE(List(Win(dir, "missing")).empty());
}

TEST(Files, ReadWriteCopyDeleteAndDirectories) {
  praxtest::TempDir dir;
  const std::string bytes("a\0b\r\n\xE9", 6);
  WriteFile(Win(dir, "One.dat"), bytes);
  EXPECT_EQ(ReadFile(Win(dir, "ONE.DAT")), bytes);
  WriteFile(Win(dir, "one.DAT"), "");  // overwrites the existing file
  EXPECT_EQ(ReadFile(Win(dir, "One.dat")), "");

  praxtest::SetMTime(dir.Write("src.pxl", "log"), 2002, 2, 1);
  CopyFile(Win(dir, "SRC.PXL"), Win(dir, "copy.pxl"));
  const auto t = LastModified(Win(dir, "copy.pxl"));
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->year * 10000 + t->month * 100 + t->day, 20020201);
  EXPECT_EQ(t->hour, 12);
  SetLastModified(Win(dir, "copy.pxl"), {2003, 12, 31, 23, 59, 58});
  const auto u = LastModified(Win(dir, "COPY.PXL"));
  ASSERT_TRUE(u.has_value());
  EXPECT_EQ((std::vector<int>{u->year, u->month, u->day, u->hour, u->minute, u->second}),
            (std::vector<int>{2003, 12, 31, 23, 59, 58}));
  EXPECT_FALSE(LastModified(Win(dir, "none")).has_value());

  DeleteFile(Win(dir, "Copy.Pxl"));
  EXPECT_FALSE(Exists(Win(dir, "copy.pxl")));
  MakeDirectory(Win(dir, "NewDir"));
  EXPECT_TRUE(IsDirectory(Win(dir, "newdir")));
  RemoveDirectory(Win(dir, "NEWDIR"));
  EXPECT_FALSE(Exists(Win(dir, "NewDir")));

  try {
    ReadFile(Win(dir, "nothere.pxl"));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), err::kFileNotFound);
    EXPECT_NE(std::string(e.what()).find("nothere.pxl"), std::string::npos);
  }
  EXPECT_EQ(ErrorNumber([&] { ReadFile(Win(dir, "nodir\\x")); }), err::kPathNotFound);
  EXPECT_EQ(ErrorNumber([&] { ReadFile(dir.Text()); }), err::kPathFileAccess);
  EXPECT_EQ(ErrorNumber([&] { WriteFile(Win(dir, "nodir\\x"), "y"); }), err::kPathNotFound);
  EXPECT_EQ(ErrorNumber([&] { DeleteFile(Win(dir, "copy.pxl")); }), err::kFileNotFound);
  EXPECT_EQ(ErrorNumber([&] { CopyFile(Win(dir, "none"), Win(dir, "x")); }), err::kFileNotFound);
  EXPECT_EQ(ErrorNumber([&] { MakeDirectory(Win(dir, "src.pxl")); }), err::kPathFileAccess);
  EXPECT_EQ(ErrorNumber([&] { RemoveDirectory(Win(dir, "nodir")); }), err::kPathNotFound);
  dir.Write("full/f", "");
  EXPECT_EQ(ErrorNumber([&] { RemoveDirectory(Win(dir, "FULL")); }), err::kPathFileAccess);
}

// Only plain files are read or written: a link is not gone through and a
// FIFO is refused at once, each named; what a link points to stays as it was.
TEST(Files, OnlyPlainFilesAreReadOrWritten) {
  praxtest::TempDir dir;
  dir.Write("outside.txt", "keep");
  std::filesystem::create_symlink(dir.Path() / "outside.txt", dir.Path() / "link.dat");
  std::filesystem::create_symlink(dir.Path() / "nowhere.txt", dir.Path() / "dangling.dat");
  ASSERT_EQ(::mkfifo((dir.Path() / "pipe.dat").c_str(), 0644), 0);
  for (const char* name : {"link.dat", "dangling.dat", "pipe.dat"}) {
    SCOPED_TRACE(name);
    for (const bool write : {false, true}) {
      try {
        if (write) WriteFile(Win(dir, name), "x");
        else ReadFile(Win(dir, name));
        ADD_FAILURE() << "expected a refusal";
      } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::kPathFileAccess);
        EXPECT_NE(std::string(e.what()).find(dir.Text() + name + "' is a"), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(ErrorNumber([&] { RequirePlainFile(Win(dir, name)); }), err::kPathFileAccess);
  }
  EXPECT_EQ(ReadFile(Win(dir, "outside.txt")), "keep");
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "nowhere.txt"));
  EXPECT_EQ(ForDisplay("/net//PX000012.DIR\\PRAX014.PXL"), "/net/PX000012.DIR/PRAX014.PXL");
}

}  // namespace
}  // namespace prax::fs

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "logs/file_list.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace {

// The days listed in PX000005.DIR, as the status log names them.
std::vector<std::string> Listed(const praxtest::TempDir& dir) {
  std::vector<std::string> labels;
  for (const prax::LogDay& day : prax::BuildFileList(dir.Text() + "PX000005.DIR", "PXL")) labels.push_back(day.Label());
  return labels;
}

// Names the logs are given (PRAX, 19, 20) that give no valid day are named;
// other names are no logs and pass in silence.
TEST(FileList, EntriesInListingOrderAndPassedOverNames) {
  praxtest::TempDir dir;
  const std::pair<const char*, bool> names[] = {  // name, named as passed over
      {"LOG.PXL", false},     {"20011231.TXT", false}, {"PRAX32.PXL", true},   {"PRAX3X.PXL", true},
      {"PRAX000.PXL", true},  {"PRAX367.PXL", true},   {"PRAX400.PXL", true},  {"20011340.PXL", true},
      {"20261131.PXL", true}, {"20010229.PXL", true},  {"2001123.PXL", true},  {"20011231X.PXL", true},
      {"PRAX011.PXL/inner", true}, {"20011231.PXL", false}, {"19991231.pxl", false}};
  for (const auto& [name, named] : names) dir.Write(std::string("PX000005.DIR/") + name, "x");
  praxtest::SetMTime(dir.Write("PX000005.DIR/prax032.pxl", "x"), 2002, 7, 1);
  EXPECT_EQ(Listed(dir), (std::vector<std::string>{"99-12-3119*", "01-12-3120*", "02-02-01032"}));
  // One listing gives both kinds, each with its own names passed over.
  praxtest::SetMTime(dir.Write("PX000005.DIR/PRAX032.PXT", "x"), 2003, 7, 1);
  dir.Write("PX000005.DIR/PRAX3X.PXT", "x");
  const prax::UserLogs logs = prax::BuildUserLogs(dir.Text(), dir.Text() + "PX000005.DIR");
  EXPECT_EQ(logs.alert.files.size(), 3u);
  ASSERT_EQ(logs.activity.files.size(), 1u);
  EXPECT_EQ(logs.activity.files[0].Label(), "03-02-01032");
  EXPECT_EQ(logs.activity.skipped.size(), 1u);
  const std::vector<std::string>& skipped = logs.alert.skipped;
  for (const auto& [name, named] : names) {
    const std::string file = std::string(name).substr(0, std::string(name).find('/'));
    EXPECT_EQ(std::ranges::count_if(skipped, [&](const std::string& s) { return s.find(prax::fs::ForDisplay("/" + file + "'")) != s.npos; }),
              named ? 1 : 0) << name;
  }
  EXPECT_EQ(skipped.size(), 11u);

  // Something else in a user folder's place is named, and read as no logs.
#ifndef _WIN32  // Windows has no FIFOs
  ASSERT_EQ(::mkfifo((dir.Path() / "PX000006.DIR").c_str(), 0600), 0);
  const prax::UserLogs fifo = prax::BuildUserLogs(dir.Text(), dir.Text() + "PX000006.DIR");
  EXPECT_TRUE(fifo.activity.files.empty());
  ASSERT_EQ(fifo.activity.skipped.size(), 1u);
  EXPECT_NE(fifo.activity.skipped[0].find("PX000006.DIR' not read: it is a FIFO"), std::string::npos);
#endif
  praxtest::TempDir empty;
  EXPECT_EQ(Listed(empty), std::vector<std::string>{});  // no such folder
}

// A day number takes the year of the file's modification time; a dated
// name's century names the file only, the day's follows the two-digit year.
TEST(FileList, DaysWithTheirDatesAndNames) {
  const std::tuple<const char*, int, int32_t, const char*> cases[] = {  // name, modified in, date, label
      {"PRAX032.PXL", 2003, 20030201, "03-02-01032"},  {"PRAX366.PXL", 2004, 20041231, "04-12-31366"},
      {"PRAX366.PXL", 2003, 20040101, "04-01-01366"},  {"PRAX001.PXL", 1999, 19990101, "99-01-01001"},
      {"prax365.pxl", 1999, 19991231, "99-12-31365"},  {"20011231.PXL", 2002, 20011231, "01-12-3120*"},
      {"19900101.PXL", 2002, 20900101, "90-01-0119*"}, {"20910101.pxl", 2002, 19910101, "91-01-0120*"},
      {"20000101.PXL", 2002, 20000101, "00-01-0120*"}};
  for (const auto& [name, year, date, label] : cases) {
    praxtest::TempDir dir;
    praxtest::SetMTime(dir.Write(std::string("PX000005.DIR/") + name, "x"), year, 6, 15);
    const prax::FileList list = prax::BuildFileList(dir.Text() + "PX000005.DIR", "PXL");
    ASSERT_EQ(list.size(), 1u) << name;
    EXPECT_EQ(list[0].date, date) << name;
    EXPECT_EQ(list[0].fileName, prax::text::ToUpperAscii(name)) << name;
    EXPECT_EQ(list[0].Label(), label) << name;
  }
}

#ifndef _WIN32  // one folder holding names that differ only in letter case: not on Windows
// Names that differ only in letter case are one path: each is dated by the
// file that path opens, the one in capitals, else the first in byte order.
TEST(FileList, NamesDifferingInCaseDatedByTheFileTheirPathOpens) {
  praxtest::TempDir dir;
  const std::pair<const char*, int> files[] = {{"prax032.pxl", 2001}, {"PRAX032.PXL", 2003}, {"Prax032.pxl", 2002},
                                               {"prax033.pxl", 2005}, {"pRAX033.PXL", 2006}};
  for (const auto& [name, year] : files) {
    praxtest::SetMTime(dir.Write(std::string("PX000005.DIR/") + name, "x"), year, 6, 15);
  }
  EXPECT_EQ(Listed(dir), (std::vector<std::string>{"03-02-01032", "03-02-01032", "03-02-01032", "06-02-02033",
                                                   "06-02-02033"}));
  // Each is read by the name its capitals open.
  std::vector<std::string> read;
  for (const prax::LogDay& day : prax::BuildFileList(dir.Text() + "PX000005.DIR", "PXL")) read.push_back(day.listedName);
  EXPECT_EQ(read, (std::vector<std::string>{"PRAX032.PXL", "PRAX032.PXL", "PRAX032.PXL", "pRAX033.PXL", "pRAX033.PXL"}));
}
#endif

}  // namespace

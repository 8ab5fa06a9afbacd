#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "logs/file_list.h"
#include "platform/error.h"
#include "platform/numbers.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> Listed(const praxtest::TempDir& dir) {
  const prax::FileList list = prax::BuildFileList(dir.Text() + "PX000005.DIR", "PXL");
  EXPECT_EQ(list.at(0), "");
  return {list.begin() + 1, list.end()};
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
  std::vector<std::string> skipped;
  const prax::FileList same = prax::BuildUserFileList(dir.Text(), dir.Text() + "PX000005.DIR", "PXL", skipped);
  EXPECT_EQ(same.size(), 4u);
  for (const auto& [name, named] : names) {
    const std::string file = std::string(name).substr(0, std::string(name).find('/'));
    EXPECT_EQ(std::ranges::count_if(skipped, [&](const std::string& s) { return s.find("/" + file + "'") != s.npos; }),
              named ? 1 : 0) << name;
  }
  EXPECT_EQ(skipped.size(), 11u);

  // Something else in a user folder's place is named, and read as no logs.
  ASSERT_EQ(::mkfifo((dir.Path() / "PX000006.DIR").c_str(), 0600), 0);
  skipped.clear();
  EXPECT_EQ(prax::BuildUserFileList(dir.Text(), dir.Text() + "PX000006.DIR", "PXT", skipped).size(), 1u);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_NE(skipped[0].find("PX000006.DIR' not read: it is a FIFO"), std::string::npos) << skipped[0];
  praxtest::TempDir empty;
  EXPECT_EQ(Listed(empty), std::vector<std::string>{});  // no such folder
}

TEST(FileList, DayNumberTakesTheYearOfTheModificationTime) {
  const std::tuple<int, int, const char*> cases[] = {
      {32, 2003, "03-02-01032"}, {366, 2004, "04-12-31366"}, {366, 2003, "04-01-01366"}, {1, 1999, "99-01-01001"}};
  for (const auto& [day, year, entry] : cases) {
    praxtest::TempDir dir;
    praxtest::SetMTime(dir.Write("PX000005.DIR/PRAX" + prax::num::ZeroPadded(day, "000") + ".PXL", "x"), year, 6, 15);
    EXPECT_EQ(Listed(dir), std::vector<std::string>{entry}) << entry;
  }
  praxtest::TempDir dir;
  EXPECT_THROW(prax::DayNameToDate(dir.Text(), "PRAX032.PXL"), prax::Error);  // no such file
  EXPECT_EQ(prax::DateNameToDate("20011231.PXL"), "01-12-31  -  37256");
  EXPECT_THROW(prax::DateNameToDate("20011340.PXL"), prax::Error);
}

TEST(FileList, EntriesBackToKeysAndNames) {
  const std::tuple<const char*, int, const char*> entries[] = {{"01-12-3120*", 20011231, "20011231.PXL"},
                                                               {"02-02-01032", 20020201, "PRAX032.PXL"},
                                                               {"99-12-31365", 19991231, "PRAX365.PXL"},
                                                               {"90-01-0119*", 20900101, "19900101.PXL"}};
  for (const auto& [entry, key, name] : entries) {
    EXPECT_EQ(prax::EntryDateKey(entry), key) << entry;
    EXPECT_EQ(prax::EntryFileName(entry, "PXL"), name) << entry;
  }
  for (const auto& [in, out] : {std::pair{"910101", "19910101"}, {"900101", "20900101"}, {"000101", "20000101"}}) {
    EXPECT_EQ(prax::AddCentury(in), out) << in;
  }
}

}  // namespace

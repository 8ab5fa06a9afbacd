#include <gtest/gtest.h>

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

TEST(FileList, EntriesInListingOrderAndPassedOverNames) {
  praxtest::TempDir dir;
  for (const char* name : {"LOG.PXL", "20011231.TXT", "PRAX32.PXL", "PRAX3X.PXL", "PRAX000.PXL", "PRAX367.PXL",
                           "20011340.PXL", "20010229.PXL", "2001123.PXL", "20011231X.PXL", "PRAX011.PXL/inner",
                           "20011231.PXL", "19991231.pxl"}) {
    dir.Write(std::string("PX000005.DIR/") + name, "x");
  }
  praxtest::SetMTime(dir.Write("PX000005.DIR/prax032.pxl", "x"), 2002, 7, 1);
  EXPECT_EQ(Listed(dir), (std::vector<std::string>{"99-12-3119*", "01-12-3120*", "02-02-01032"}));
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

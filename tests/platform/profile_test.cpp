#include <gtest/gtest.h>

#include <string>

#include "platform/profile.h"
#include "support/temp_dir.h"

namespace prax::profile {
namespace {

// The value as the start-up reads it: a 255-character buffer, then cleaned.
std::string NetDir(const praxtest::TempDir& dir, const std::string& file = "PXNET.INI") {
  return TrimIniValue(ReadProfileBuffer("MAIN", "NETDIR", "Not Used", dir.Text() + file, 255));
}

TEST(Profile, SectionsKeysCommentsAndQuotes) {
  praxtest::TempDir dir;
  const struct {
    const char* ini;
    const char* value;
  } cases[] = {
      {"[MAIN]\r\nNETDIR=F:\\LOGS\\\r\n", "F:\\LOGS\\"},
      {"[main]\nnetdir = SYS:LOGS\\ \n", "SYSLOGS\\"},
      {"  [ Main ]  \r\n\t NetDir\t=\t  /srv/net/  \r\n", "/srv/net/"},
      {"[OTHER]\r\nNETDIR=x\r\n[MAIN]\r\nNETDIR=y\r\n", "y"},
      {"[MAIN]\r\nNETDIR=first\r\nNETDIR=second\r\n", "first"},
      {"[MAIN]\r\nA=1\r\n[MAIN]\r\nNETDIR=later\r\n", "Not Used"},
      {"[MAIN]\r\n;NETDIR=commented\r\n  ; NETDIR=too\r\nNETDIR=real\r\n", "real"},
      {"[MAIN]\r\nNETDIR=\"  quoted \"\r\n", "quoted"},
      {"[MAIN]\r\nNETDIR='G:\\X\\'\r\n", "G:\\X\\"},
      {"[MAIN]\r\nNETDIR=\"half\r\n", "\"half"},
      {"[MAIN]\r\nNETDIR=a=b\r\n", "a=b"},
      {"[MAIN]\r\nNETDIR=\r\n", ""},
      {"[MAIN]\r\nOTHER=1\r\n", "Not Used"},
      {"[MAINX]\r\nNETDIR=1\r\n", "Not Used"},
  };
  for (const auto& c : cases) {
    dir.Write("PXNET.INI", c.ini);
    EXPECT_EQ(NetDir(dir), c.value) << c.ini;
  }
  EXPECT_EQ(NetDir(dir, "MISSING.INI"), "Not Used");
  EXPECT_EQ(NetDir(dir, "pxnet.ini"), "Not Used");  // found regardless of case: the last case above
}

TEST(Profile, BufferIsTruncatedAndPaddedWithNuls) {
  praxtest::TempDir dir;
  dir.Write("P.INI", "[MAIN]\r\nK=" + std::string(300, 'v') + "\r\nS=abc\r\n");
  const std::string longValue = ReadProfileBuffer("MAIN", "K", "d", dir.Text() + "p.ini", 255);
  EXPECT_EQ(longValue, std::string(254, 'v') + '\0');
  const std::string shortValue = ReadProfileBuffer("MAIN", "S", "d", dir.Text() + "P.INI", 8);
  EXPECT_EQ(shortValue, std::string("abc\0\0\0\0\0", 8));
  EXPECT_EQ(ReadProfileBuffer("MAIN", "none", "default", dir.Text() + "P.INI", 4), std::string("def\0", 4));
}

TEST(TrimIniValue, Table) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"F:\\LOGS\\", "F:\\LOGS\\"},
      {"SYS:LOGS\\", "SYSLOGS\\"},
      {"AB:C:D", "ABC:D"},
      {":X", ":X"},
      {std::string("F:\\A\\ \0zz:z", 11), "F:\\A\\"},
      {"  F:\\A\\", "F\\A\\"},  // leading blanks move the drive colon to position 4
      {std::string("ab\0:cd", 6), "ab"},
      {"  ", ""},
      {"\\\\srv\\share:x\\", "\\\\srv\\sharex\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimIniValue(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace prax::profile

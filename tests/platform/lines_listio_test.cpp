#include <gtest/gtest.h>

#include "platform/lines.h"
#include "platform/listio.h"
#include "platform/profile.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace prax {
namespace {

using Lines = std::vector<std::string>;

Lines ReadAll(LineReader& reader) {
  Lines lines;
  while (!reader.AtEnd()) lines.emplace_back(reader.Next());
  return lines;
}

Lines AllItems(std::string bytes) {
  ListReader reader(std::move(bytes));
  Lines items;
  while (!reader.AtEnd()) items.push_back(reader.ReadItem());
  return items;
}

// The same lines come from bytes in memory, owned or not.
TEST(LineReader, LineEnds) {
  const std::pair<std::string, Lines> cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},   {"a\rb", {"a", "b"}},      {"a\nb\r\nc", {"a\nb", "c"}},
      {"\r\n\r\nx\r\r\n", {"", "", "x", ""}}, {"a\r\n\n", {"a", "\n"}}, {"", {}}};
  for (const auto& [bytes, lines] : cases) {
    LineReader reader{std::string(bytes)};
    EXPECT_EQ(ReadAll(reader), lines);
    LineReader over = LineReader::Over(bytes);
    EXPECT_EQ(ReadAll(over), lines);
  }
  LineReader reader("x");
  EXPECT_EQ(reader.Next(), "x");
  EXPECT_TRUE(reader.AtEnd() && reader.Next().empty());
}

TEST(ReadLogBytes, WholeFileOrSkippedWhenTooLarge) {
  praxtest::TempDir dir;
  const std::string path = dir.Write("big.pxl", std::string(100, 'x')).string();
  EXPECT_EQ(prax::ReadLogBytes(path), std::string(100, 'x'));
  const Error tooLarge = praxtest::Raised([&] { prax::ReadLogBytes(path, 99); });
  EXPECT_FALSE(tooLarge.Environment());  // skipped as unreadable, named
  EXPECT_NE(std::string(tooLarge.what()).find("too large"), std::string::npos) << tooLarge.what();
}

TEST(ListReader, ItemRules) {
  const std::pair<const char*, Lines> cases[] = {
      {"\"a,b\",c\r\n", {"a,b", "c"}},
      {"A1,\"Head Office\"\r\n\"Accounts\",\r\nClerk\r\n", {"A1", "Head Office", "Accounts", "", "Clerk"}},
      {"a,,b", {"a", "", "b"}},
      {"  x y  \t, \t z \r\n", {"x y", "z"}},
      {"\"q\"  junk ,n\nm\rk", {"q", "n", "m", "k"}},
      {"\"two\r\nlines\"\r\n", {"two\r\nlines"}},
      {"a\r\n\r\nb\r\n \r\n\r\n", {"a", "", "b"}},  // blanks at the end are the end
      {"\"unclosed", {"unclosed"}},
      {" \r\n\r\n", {}}};
  for (const auto& [bytes, items] : cases) EXPECT_EQ(AllItems(bytes), items) << bytes;

  ListReader reader("2\r\n1\r\n\"1\",\"250\"\r\n");
  EXPECT_EQ(reader.ReadNumber(), 2);
  EXPECT_EQ(reader.ReadLine(), "1");
  EXPECT_EQ(reader.ReadItem(), "1");
  EXPECT_EQ(reader.ReadItem(), "250");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(praxtest::Raised([&] { reader.ReadItem(); }).Kind(), err::kInputPastEnd);
}

TEST(ListWriter, ExactBytesReadBack) {
  ListWriter w;
  w.Line({int64_t{2}}).Line({std::string("1"), std::string("250")}).Line({std::string(""), std::string("")});
  w.Line({int64_t{-3}, std::string("a,b")}).Line({});
  EXPECT_EQ(w.Bytes(), "2\r\n\"1\",\"250\"\r\n\"\",\"\"\r\n-3,\"a,b\"\r\n\r\n");
  EXPECT_EQ(AllItems(w.Bytes()), (Lines{"2", "1", "250", "", "", "-3", "a,b"}));
}

TEST(SplitListLine, FieldsOfOneLine) {
  const std::pair<const char*, Lines> cases[] = {
      {"\"\\\\srv\\net1\\\", \"N1\" , Sales", {"\\\\srv\\net1\\", "N1", "Sales"}},
      {"a,,c", {"a", "", "c"}}, {"a,", {"a", ""}}, {"  ", {}}, {"\"x,y\"", {"x,y"}}};
  for (const auto& [line, fields] : cases) EXPECT_EQ(SplitListLine(line), fields) << line;
}

// The value as the start-up reads it: a 255-character buffer, then cleaned.
std::string NetDir(const praxtest::TempDir& dir, const std::string& file = "PXNET.INI") {
  return profile::TrimIniValue(profile::ReadProfileBuffer("MAIN", "NETDIR", "Not Used", dir.Text() + file, 255));
}

TEST(Profile, SectionsKeysCommentsAndQuotes) {
  praxtest::TempDir dir;
  const std::pair<const char*, const char*> cases[] = {
      {"[MAIN]\r\nNETDIR=F:\\LOGS\\\r\n", "F:\\LOGS\\"}, {"[main]\nnetdir = SYS:LOGS\\ \n", "SYSLOGS\\"},
      {"  [ Main ]  \r\n\t NetDir\t=\t  /srv/net/  \r\n", "/srv/net/"},
      {"[OTHER]\r\nNETDIR=x\r\n[MAIN]\r\nNETDIR=y\r\n", "y"},
      {"[MAIN]\r\nNETDIR=first\r\nNETDIR=second\r\n", "first"},
      {"[MAIN]\r\nA=1\r\n[MAIN]\r\nNETDIR=later\r\n", "Not Used"},
      {"[MAIN]\r\n;NETDIR=commented\r\n  ; NETDIR=too\r\nNETDIR=real\r\n", "real"},
      {"[MAIN]\r\nNETDIR=\"  quoted \"\r\n", "quoted"}, {"[MAIN]\r\nNETDIR='G:\\X\\'\r\n", "G:\\X\\"},
      {"[MAIN]\r\nNETDIR=\"half\r\n", "\"half"}, {"[MAIN]\r\nNETDIR=a=b\r\n", "a=b"}, {"[MAIN]\r\nNETDIR=\r\n", ""},
      {"[MAIN]\r\nOTHER=1\r\n", "Not Used"}, {"[MAINX]\r\nNETDIR=1\r\n", "Not Used"},
  };
  for (const auto& [ini, value] : cases) {
    dir.Write("PXNET.INI", ini);
    EXPECT_EQ(NetDir(dir), value) << ini;
  }
  EXPECT_EQ(NetDir(dir, "MISSING.INI"), "Not Used");
  EXPECT_EQ(NetDir(dir, "pxnet.ini"), "Not Used");  // found regardless of case: the last case above

  // The buffer is cut to its size less one and padded with NULs.
  dir.Write("P.INI", "[MAIN]\r\nK=" + std::string(300, 'v') + "\r\nS=abc\r\n");
  EXPECT_EQ(profile::ReadProfileBuffer("MAIN", "K", "d", dir.Text() + "p.ini", 255), std::string(254, 'v') + '\0');
  EXPECT_EQ(profile::ReadProfileBuffer("MAIN", "S", "d", dir.Text() + "P.INI", 8), std::string("abc\0\0\0\0\0", 8));
  EXPECT_EQ(profile::ReadProfileBuffer("MAIN", "none", "default", dir.Text() + "P.INI", 4), std::string("def\0", 4));
}

TEST(TrimIniValue, Table) {
  const std::pair<std::string, const char*> cases[] = {
      {"F:\\LOGS\\", "F:\\LOGS\\"}, {"SYS:LOGS\\", "SYSLOGS\\"}, {"AB:C:D", "ABC:D"}, {":X", ":X"},
      {std::string("F:\\A\\ \0zz:z", 11), "F:\\A\\"},
      {"  F:\\A\\", "F\\A\\"},  // leading blanks move the drive colon to position 4
      {std::string("ab\0:cd", 6), "ab"}, {"  ", ""}, {"\\\\srv\\share:x\\", "\\\\srv\\sharex\\"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(profile::TrimIniValue(in), out) << in;
}

}  // namespace
}  // namespace prax

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/lines.h"
#include "platform/listio.h"
#include "support/temp_dir.h"

namespace prax {
namespace {

std::vector<std::string> ReadAll(LineReader& reader) {
  std::vector<std::string> lines;
  while (!reader.AtEnd()) lines.emplace_back(reader.Next());
  return lines;
}

// The lines of bytes held in memory; the same lines must come from a file
// streamed in chunks.
std::vector<std::string> AllLines(std::string bytes) {
  praxtest::TempDir dir;
  LineReader streamed = LineReader::OpenLog(dir.Write("log.pxl", bytes).string());
  const std::vector<std::string> fromFile = ReadAll(streamed);
  LineReader reader(std::move(bytes));
  const std::vector<std::string> lines = ReadAll(reader);
  EXPECT_EQ(fromFile, lines);
  return lines;
}

std::vector<std::string> AllItems(std::string bytes) {
  ListReader reader(std::move(bytes));
  std::vector<std::string> items;
  while (!reader.AtEnd()) items.push_back(reader.ReadItem());
  return items;
}

using Lines = std::vector<std::string>;

TEST(LineReader, LineEnds) {
  EXPECT_EQ(AllLines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(AllLines("a\rb"), (Lines{"a", "b"}));
  EXPECT_EQ(AllLines("a\nb\r\nc"), (Lines{"a\nb", "c"}));
  EXPECT_EQ(AllLines("\r\n\r\nx\r\r\n"), (Lines{"", "", "x", ""}));
  EXPECT_EQ(AllLines("a\r\n\n"), (Lines{"a", "\n"}));
  EXPECT_EQ(AllLines(""), Lines{});
  // A line end that straddles the reader's 64 KiB chunks, and a line longer than one.
  const std::string a(65535, 'a'), b(200000, 'b');
  EXPECT_EQ(AllLines(a + "\r\nx\r" + b + "\r\n"), (Lines{a, "x", b}));
  LineReader reader("x");
  EXPECT_EQ(reader.Next(), "x");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(reader.Next(), "");
}

TEST(LineReader, LogFilesTooLargeOrChangedWhileRead) {
  praxtest::TempDir dir;
  const std::string path = dir.Write("big.pxl", std::string(100, 'x')).string();
  try {
    LineReader::OpenLog(path, 99);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_FALSE(e.Environment());  // skipped as unreadable, named
    EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos) << e.what();
  }
  LineReader reader = LineReader::OpenLog(path);
  dir.Write("big.pxl", std::string(150, 'y'));  // a client writes on meanwhile
  try {
    ReadAll(reader);
    reader.CheckUnchanged();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_TRUE(e.Environment());
  }
}

TEST(ListReader, ItemRules) {
  EXPECT_EQ(AllItems("\"a,b\",c\r\n"), (Lines{"a,b", "c"}));
  EXPECT_EQ(AllItems("A1,\"Head Office\"\r\n\"Accounts\",\r\nClerk\r\n"),
            (Lines{"A1", "Head Office", "Accounts", "", "Clerk"}));
  EXPECT_EQ(AllItems("a,,b"), (Lines{"a", "", "b"}));
  EXPECT_EQ(AllItems("  x y  \t, \t z \r\n"), (Lines{"x y", "z"}));
  EXPECT_EQ(AllItems("\"q\"  junk ,n\nm\rk"), (Lines{"q", "n", "m", "k"}));
  EXPECT_EQ(AllItems("\"two\r\nlines\"\r\n"), (Lines{"two\r\nlines"}));
  EXPECT_EQ(AllItems("a\r\n\r\nb\r\n \r\n\r\n"), (Lines{"a", "", "b"}));  // blanks at the end are the end
  EXPECT_EQ(AllItems("\"unclosed"), (Lines{"unclosed"}));
  EXPECT_EQ(AllItems(" \r\n\r\n"), Lines{});

  ListReader reader("2\r\n1\r\n\"1\",\"250\"\r\n");
  EXPECT_EQ(reader.ReadNumber(), 2);
  EXPECT_EQ(reader.ReadLine(), "1");
  EXPECT_EQ(reader.ReadItem(), "1");
  EXPECT_EQ(reader.ReadItem(), "250");
  EXPECT_TRUE(reader.AtEnd());
  try {
    reader.ReadItem();
    FAIL() << "no error past the end";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), err::kInputPastEnd);
    EXPECT_STREQ(e.what(), "Input past end of file");
  }
}

TEST(ListWriter, ExactBytes) {
  ListWriter w;
  w.Line({int64_t{2}}).Line({std::string("1"), std::string("250")}).Line({std::string(""), std::string("")});
  w.Line({int64_t{-3}, std::string("a,b")}).Line({});
  EXPECT_EQ(w.Bytes(), "2\r\n\"1\",\"250\"\r\n\"\",\"\"\r\n-3,\"a,b\"\r\n\r\n");
  EXPECT_EQ(AllItems(w.Bytes()), (Lines{"2", "1", "250", "", "", "-3", "a,b"}));
}

TEST(SplitListLine, FieldsOfOneLine) {
  EXPECT_EQ(SplitListLine("\"\\\\srv\\net1\\\", \"N1\" , Sales"), (Lines{"\\\\srv\\net1\\", "N1", "Sales"}));
  EXPECT_EQ(SplitListLine("a,,c"), (Lines{"a", "", "c"}));
  EXPECT_EQ(SplitListLine("a,"), (Lines{"a", ""}));
  EXPECT_EQ(SplitListLine("  "), Lines{});
  EXPECT_EQ(SplitListLine("\"x,y\""), (Lines{"x,y"}));
}

}  // namespace
}  // namespace prax

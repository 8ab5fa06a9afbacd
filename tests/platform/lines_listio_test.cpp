#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/lines.h"
#include "platform/listio.h"

namespace prax {
namespace {

std::vector<std::string> AllLines(std::string bytes) {
  LineReader reader(std::move(bytes));
  std::vector<std::string> lines;
  while (!reader.AtEnd()) lines.emplace_back(reader.Next());
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
  LineReader reader("x");
  EXPECT_EQ(reader.Next(), "x");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(reader.Next(), "");
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

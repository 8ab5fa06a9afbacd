#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/text.h"
#include "platform/vbnum.h"

namespace prax {
namespace {

int ErrorNumber(auto&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.Number();
  }
  return 0;
}

TEST(Val, ReadsTheLeadingNumber) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"", 0},         {"abc", 0},      {"12abc", 12},     {"1 2", 12},      {"- 5", -5},     {"+7", 7},
      {".5", 0.5},     {"2.5", 2.5},    {"1e3", 1000},     {"1E+2", 100},    {"25e-1", 2.5},  {"3e", 3},
      {"3ex", 3},      {"3e+", 3},      {"1.2.3", 1.2},    {"\t4\n2 ", 42},  {"--5", 0},      {".", 0},
      {"0012", 12},    {"1 e 2", 100},  {"-0.25x", -0.25}, {"1,5", 1},       {"5.", 5},       {"1e-400", 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(vb::Val(c.text), c.value) << '"' << c.text << '"';
  EXPECT_TRUE(std::isinf(vb::Val("1e400")));
}

TEST(Rounding, HalvesGoToEvenAndRangesOverflow) {
  const struct {
    double in;
    int32_t out;
  } cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2}, {2.4999, 2}, {2.5001, 3},
               {-32768.5, -32768}, {32766.5, 32766}, {-0.4, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(vb::CInt(c.in), c.out) << c.in;
    EXPECT_EQ(vb::CLng(c.in), c.out) << c.in;
  }
  EXPECT_EQ(vb::CInt(32767.4), 32767);
  EXPECT_EQ(vb::CLng(2147483647.4), 2147483647);
  EXPECT_EQ(vb::CLng(-2147483648.5), -2147483648LL);
  for (double v : {32767.5, -32768.6, 40000.0, std::nan(""), std::numeric_limits<double>::infinity()})
    EXPECT_EQ(ErrorNumber([&] { vb::CInt(v); }), err::kOverflow) << v;
  for (double v : {2147483647.5, -2147483649.0, std::nan("")})
    EXPECT_EQ(ErrorNumber([&] { vb::CLng(v); }), err::kOverflow) << v;
  EXPECT_EQ(vb::AddLong(2147483646, 1), 2147483647);
  EXPECT_EQ(ErrorNumber([] { vb::AddLong(2147483647, 1); }), err::kOverflow);
  EXPECT_EQ(ErrorNumber([] { vb::AddLong(-5, std::numeric_limits<int64_t>::min()); }), err::kOverflow);
}

TEST(NumberText, StrFormatAndPercentages) {
  EXPECT_EQ(vb::Str(5), " 5");
  EXPECT_EQ(vb::Str(0), " 0");
  EXPECT_EQ(vb::Str(-5), "-5");
  EXPECT_EQ(vb::Format(45, "000000"), "000045");
  EXPECT_EQ(vb::Format(1234567, "000000"), "1234567");
  EXPECT_EQ(vb::Format(-45, "000000"), "-000045");
  EXPECT_EQ(vb::PercentCaption(33), " 33% ");
  EXPECT_EQ(vb::ProgressPercent(29, 100), 28);  // 29 / 100 * 100 is just below 29
  EXPECT_EQ(vb::ProgressPercent(1, 3), 33);
  EXPECT_EQ(vb::ProgressPercent(100, 100), 100);
  EXPECT_EQ(vb::ProgressPercent(5, 0), 0);
}

TEST(Cp1252, RoundTripAndUndefinedBytes) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = text::Cp1252ToUtf8(all);
  EXPECT_EQ(text::Utf8Length(utf8), 255u);
  EXPECT_EQ(text::Utf8ToCp1252(utf8), all);
  EXPECT_EQ(text::Cp1252ToUtf8("\x80\xE9\x9F"), "\u20AC\u00E9\u0178");
  for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    const std::string expected = {static_cast<char>(0xC2), static_cast<char>(b)};
    EXPECT_EQ(text::Cp1252ToUtf8(std::string(1, static_cast<char>(b))), expected) << int(b);
  }
  // Characters outside the code page, stray and cut-short sequences.
  EXPECT_EQ(text::Utf8ToCp1252("a\u0100b\u4E2D\U0001F600\u0080c"), "a?b???c");
  EXPECT_EQ(text::Utf8ToCp1252("x\x80y\xC3"), "x?y?");
}

TEST(Text, TrimCaseAndSubstrings) {
  EXPECT_EQ(text::Trim("  a b \t "), "a b \t");
  EXPECT_EQ(text::Trim("   "), "");
  EXPECT_EQ(text::ToUpperAscii("prax\xE9z.pxl"), "PRAX\xE9Z.PXL");
  EXPECT_TRUE(text::EqualsIgnoreCase("Px000001.dir", "PX000001.DIR"));
  EXPECT_FALSE(text::EqualsIgnoreCase("\xE9", "\xC9"));
  EXPECT_EQ(text::Mid("PRAX032.PXL", 5, 3), "032");
  EXPECT_EQ(text::Mid("abc", 2), "bc");
  EXPECT_EQ(text::Mid("abc", 4), "");
  EXPECT_EQ(text::Mid("abc", 9, 2), "");
  EXPECT_EQ(text::Mid("abc", 2, 9), "bc");
  EXPECT_EQ(text::Right("abc", 2), "bc");
  EXPECT_EQ(ErrorNumber([] { text::Mid("abc", 0); }), err::kInvalidCall);
  EXPECT_EQ(ErrorNumber([] { text::Mid("abc", 1, -1); }), err::kInvalidCall);
  EXPECT_EQ(ErrorNumber([] { text::Left("abc", -1); }), err::kInvalidCall);
  EXPECT_EQ(text::InStr("a,b,c", ","), 2u);
  EXPECT_EQ(text::InStr("a,b,c", ",", 3), 4u);
  EXPECT_EQ(text::InStr("abc", "c", 4), 0u);
}

// Every capital of Windows-1252 folds together with its small letter; every
// other character of the code page folds to a text of its own.
TEST(Text, FoldCase1252PairsLettersOfTheCodePage) {
  std::vector<std::pair<int, int>> pairs = {{0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF}};
  for (int c = 'A'; c <= 'Z'; ++c) pairs.emplace_back(c, c + 32);
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) pairs.emplace_back(c, c + 32);
  }
  auto fold = [](int b) { return text::FoldCase1252(text::Cp1252ToUtf8(std::string(1, static_cast<char>(b)))); };
  for (const auto& [upper, lower] : pairs) {
    EXPECT_EQ(fold(upper), fold(lower)) << std::hex << upper;
    EXPECT_EQ(fold(lower), text::Cp1252ToUtf8(std::string(1, static_cast<char>(lower)))) << std::hex << lower;
  }
  std::set<std::string> distinct;
  for (int b = 1; b < 256; ++b) distinct.insert(fold(b));
  EXPECT_EQ(distinct.size(), 255 - pairs.size());  // the signs, sharp s and e apart from e-acute stay alone
  EXPECT_EQ(text::FoldCase1252("\xC3\x9C" "BERSICHT \xC3\x97 \xC3\x9F \xE2\x82\xAC"),
            "\xC3\xBC" "bersicht \xC3\x97 \xC3\x9F \xE2\x82\xAC");
}

TEST(Dates, YearDaysSerialsAndValidity) {
  const struct {
    int year, days, y, m, d;
  } cases[] = {{2002, 0, 2002, 1, 1},   {2002, 31, 2002, 2, 1},   {2000, 365, 2000, 12, 31},
               {2001, 365, 2002, 1, 1}, {2004, 59, 2004, 2, 29},  {1900, 59, 1900, 3, 1},
               {2000, 59, 2000, 2, 29}, {2002, -1, 2001, 12, 31}};
  for (const auto& c : cases) {
    const dt::Date d = dt::FromYearDay(c.year, c.days);
    EXPECT_EQ(d.year * 10000 + d.month * 100 + d.day, c.y * 10000 + c.m * 100 + c.d) << c.year << "+" << c.days;
  }
  EXPECT_EQ(dt::SerialDay({1899, 12, 30}), 0);
  EXPECT_EQ(dt::SerialDay({1900, 1, 1}), 2);
  EXPECT_EQ(dt::SerialDay({2002, 2, 1}), 37288);
  EXPECT_EQ(dt::FormatYyMmDd({2002, 2, 1}), "02-02-01");
  EXPECT_EQ(dt::FormatYyMmDd({1999, 12, 31}), "99-12-31");
  EXPECT_TRUE(dt::IsValid(2000, 2, 29));
  EXPECT_TRUE(dt::IsValid(2004, 2, 29));
  EXPECT_FALSE(dt::IsValid(1900, 2, 29));
  EXPECT_FALSE(dt::IsValid(2001, 2, 29));
  EXPECT_FALSE(dt::IsValid(2001, 4, 31));
  EXPECT_FALSE(dt::IsValid(2001, 13, 1));
}

}  // namespace
}  // namespace prax

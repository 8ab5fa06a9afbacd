#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include "platform/datetime.h"
#include "platform/text.h"
#include "platform/numbers.h"
#include "support/raised.h"

namespace prax {
namespace {

ErrorKind KindRaised(const std::function<void()>& f) { return praxtest::Raised(f).Kind(); }

TEST(Val, ReadsTheLeadingNumber) {
  const std::pair<const char*, double> cases[] = {
      {"", 0},      {"abc", 0},     {"12abc", 12},     {"1 2", 12},     {"- 5", -5},   {"+7", 7},
      {".5", 0.5},  {"2.5", 2.5},   {"1e3", 1000},     {"1E+2", 100},   {"25e-1", 2.5}, {"3e", 3},
      {"3ex", 3},   {"3e+", 3},     {"1.2.3", 1.2},    {"\t4\n2 ", 42}, {"--5", 0},    {".", 0},
      {"0012", 12}, {"1 e 2", 100}, {"-0.25x", -0.25}, {"1,5", 1},      {"5.", 5},     {"1e-400", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(num::LeadingNumber(text), value) << '"' << text << '"';
  EXPECT_TRUE(std::isinf(num::LeadingNumber("1e400")));
}

TEST(Val, PlainNumbersReadAsTheFullRuleReadsThem) {
  // Texts at the edges of the shortcut for plain numbers, compared bit for bit (the sign of a zero counts).
  std::vector<std::string> texts = {
      "  12",  "\t-7", "+0", "-0", "-000", "0012", " 5 ", "5 x", "7,3", "x1", "- 5", "-", "+x", "-.5", "12.", "12e3",
      "12E", "1 2", "1\n2", "123456789012345678", "999999999999999999", "1234567890123456789", "9007199254740993",
      "000000000000000000007", "99999999999999999999999999", "18446744073709551617", "-9223372036854775809"};
  // And every text of up to four of the characters that decide it.
  const std::string_view chars = " \t\n-+09.eEx";
  for (std::size_t n = 1, total = 1; n <= 4; ++n) {
    total *= chars.size();
    for (std::size_t i = 0; i < total; ++i) {
      std::string t;
      for (std::size_t k = 0, v = i; k < n; ++k, v /= chars.size()) t += chars[v % chars.size()];
      texts.push_back(t);
    }
  }
  for (const std::string& t : texts) {
    EXPECT_EQ(std::bit_cast<uint64_t>(num::LeadingNumber(t)), std::bit_cast<uint64_t>(num::LeadingNumberFullRule(t)))
        << '"' << t << '"';
    int64_t whole = -1;
    if (num::DigitsOnly(t, whole)) {
      EXPECT_EQ(static_cast<double>(whole), num::LeadingNumberFullRule(t)) << '"' << t << '"';
    }
  }
  int64_t whole = 0;
  EXPECT_TRUE(num::DigitsOnly("999999999", whole) && whole == 999999999);
  for (const char* t : {"", " 1", "1 ", "-1", "1.5", "1234567890"}) EXPECT_FALSE(num::DigitsOnly(t, whole)) << t;
}

TEST(Rounding, HalvesGoToEvenAndRangesOverflow) {
  const std::pair<double, int32_t> cases[] = {{2.5, 2},     {3.5, 4},          {-2.5, -2},       {-3.5, -4},
                                              {0.5, 0},     {1.5, 2},          {2.4999, 2},      {2.5001, 3},
                                              {-0.4, 0},    {-32768.5, -32768}, {32766.5, 32766}, {32767.4, 32767}};
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(num::RoundToInt16(in), out) << in;
    EXPECT_EQ(num::RoundToInt32(in), out) << in;
  }
  EXPECT_EQ(num::RoundToInt32(2147483647.4), 2147483647);
  EXPECT_EQ(num::RoundToInt32(-2147483648.5), -2147483648LL);
  EXPECT_EQ(num::AddCount32(2147483646, 1), 2147483647);
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {32767.5, -32768.6, 40000.0, std::nan(""), inf}) EXPECT_EQ(KindRaised([&] { num::RoundToInt16(v); }), err::kOverflow) << v;
  for (double v : {2147483647.5, -2147483649.0, std::nan("")}) EXPECT_EQ(KindRaised([&] { num::RoundToInt32(v); }), err::kOverflow) << v;
  EXPECT_EQ(KindRaised([] { num::AddCount32(2147483647, 1); }), err::kOverflow);
  EXPECT_EQ(KindRaised([] { num::AddCount32(-5, std::numeric_limits<int64_t>::min()); }), err::kOverflow);
}

TEST(NumberText, StrFormatAndPercentages) {
  const std::pair<std::string, const char*> texts[] = {
      {num::SpacedNumberText(5), " 5"},  {num::SpacedNumberText(0), " 0"}, {num::SpacedNumberText(-5), "-5"},     {num::ZeroPadded(45, "000000"), "000045"},
      {num::ZeroPadded(1234567, "000000"), "1234567"}, {num::ZeroPadded(-45, "000000"), "-000045"},
      {num::PercentCaption(33), " 33% "}};
  for (const auto& [got, want] : texts) EXPECT_EQ(got, want);
  // 29 / 100 * 100 is just below 29.
  EXPECT_EQ((std::vector<int>{num::ProgressPercent(29, 100), num::ProgressPercent(1, 3), num::ProgressPercent(100, 100),
                              num::ProgressPercent(5, 0)}),
            (std::vector<int>{28, 33, 100, 0}));
}

TEST(Cp1252, RoundTripAndUndefinedBytes) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = text::Cp1252ToUtf8(all);
  EXPECT_EQ(text::Utf8Length(utf8), 255u);
  EXPECT_EQ(text::Utf8ToCp1252(utf8), all);
  EXPECT_EQ(text::Cp1252ToUtf8("\x80\xE9\x9F"), "\u20AC\u00E9\u0178");
  EXPECT_EQ(text::Cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");  // undefined bytes
  // Characters outside the code page, stray and cut-short sequences.
  EXPECT_EQ(text::Utf8ToCp1252("a\u0100b\u4E2D\U0001F600\u0080c"), "a?b???c");
  EXPECT_EQ(text::Utf8ToCp1252("x\x80y\xC3"), "x?y?");
}

TEST(Text, TrimCaseAndSubstrings) {
  const std::pair<std::string_view, std::string_view> texts[] = {
      {text::Trim("  a b \t "), "a b \t"},     {text::Trim("   "), ""},
      {text::SliceAt("PRAX032.PXL", 5, 3), "032"}, {text::SliceAt("abc", 2), "bc"},
      {text::SliceAt("abc", 4), ""},              {text::SliceAt("abc", 9, 2), ""},
      {text::SliceAt("abc", 2, 9), "bc"},          {text::LastChars("abc", 2), "bc"}};
  for (const auto& [got, want] : texts) EXPECT_EQ(got, want);
  EXPECT_EQ(text::ToUpperAscii("prax\xE9z.pxl"), "PRAX\xE9Z.PXL");
  EXPECT_TRUE(text::EqualsIgnoreCase("Px000001.dir", "PX000001.DIR") && !text::EqualsIgnoreCase("\xE9", "\xC9"));
  for (const std::function<void()>& bad : std::vector<std::function<void()>>{
           [] { text::SliceAt("abc", 0); }, [] { text::SliceAt("abc", 1, -1); }, [] { text::FirstChars("abc", -1); }})
    EXPECT_EQ(KindRaised(bad), err::kInvalidCall);
  EXPECT_EQ((std::vector<size_t>{text::PositionOf("a,b,c", ","), text::PositionOf("a,b,c", ",", 3), text::PositionOf("abc", "c", 4)}),
            (std::vector<size_t>{2, 4, 0}));
}

TEST(Text, VisibleShowsEveryControlCharacterAsAnEscape) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\\b c.PXL", "a\\b c.PXL"},  // a backslash and printable text stay
      {"x\r\nDatabase Updated.\t", "x\\r\\nDatabase Updated.\\t"},
      {std::string("\x1b[2J\x7f\0z", 7), "\\x1b[2J\\x7f\\x00z"},
      {"\xc2\x85\xc2\x9b\xc2\xa0\xc3\xa9\xe2\x82\xac", "\\u0085\\u009b\xc2\xa0\xc3\xa9\xe2\x82\xac"},
      {"\x9b" "2J \x85\xe9\xff", "\\x9b" "2J \\x85\xe9\xff"},  // raw Windows-1252 bytes
  };
  for (const auto& [raw, shown] : cases) {
    EXPECT_EQ(text::Visible(raw), shown) << raw;
    EXPECT_EQ(text::Visible(shown), shown) << shown;  // showing twice changes nothing
  }
}

// Every capital of Windows-1252 folds together with its small letter; every
// other character of the code page folds to a text of its own.
TEST(Text, FoldCase1252PairsLettersOfTheCodePage) {
  std::vector<std::pair<int, int>> pairs = {{0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF}};
  for (int c = 'A'; c <= 'Z'; ++c) pairs.emplace_back(c, c + 32);
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) pairs.emplace_back(c, c + 32);
  auto utf8 = [](int b) { return text::Cp1252ToUtf8(std::string(1, static_cast<char>(b))); };
  for (const auto& [upper, lower] : pairs) {
    EXPECT_EQ(text::FoldCase1252(utf8(upper)), utf8(lower)) << std::hex << upper;
    EXPECT_EQ(text::FoldCase1252(utf8(lower)), utf8(lower)) << std::hex << lower;
  }
  std::set<std::string> distinct;
  for (int b = 1; b < 256; ++b) distinct.insert(text::FoldCase1252(utf8(b)));
  EXPECT_EQ(distinct.size(), 255 - pairs.size());  // the signs, sharp s and e apart from e-acute stay alone
}

TEST(Dates, YearDaysSerialsAndValidity) {
  // The century rule; the rest of the calendar is read through the log file lists.
  const std::tuple<int, int, int> cases[] = {{1900, 59, 19000301}, {2000, 59, 20000229}, {2002, -1, 20011231}};
  for (const auto& [year, days, ymd] : cases) {
    const dt::Date d = dt::FromYearDay(year, days);
    EXPECT_EQ(d.year * 10000 + d.month * 100 + d.day, ymd) << year << "+" << days;
  }
  EXPECT_EQ((std::vector<int64_t>{dt::SerialDay({1899, 12, 30}), dt::SerialDay({1900, 1, 1}), dt::SerialDay({2002, 2, 1})}),
            (std::vector<int64_t>{0, 2, 37288}));
  EXPECT_TRUE(dt::IsValid(2000, 2, 29) && !dt::IsValid(1900, 2, 29) && !dt::IsValid(2001, 4, 31));
}

}  // namespace
}  // namespace prax

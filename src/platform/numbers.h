#pragma once
// Number reading and writing as the desktop clients' logs and the settings
// files expect: leading-number reading that skips blanks, banker's rounding to
// 16 and 32 bits with overflow errors, number text with a leading blank.

#include <cstdint>
#include <string>
#include <string_view>

namespace prax::num {

// The leading number of a text. Blanks, tabs and line feeds anywhere are
// skipped ("1 2" reads 12); an optional sign, digits, one full stop with
// digits, and an exponent introduced by e or E (with optional sign) are read as
// far as they form a number; the first character that cannot continue ends it.
// A text without a number reads 0. Never throws.
double LeadingNumber(std::string_view text);
// The same reading without the shortcut LeadingNumber takes for the plain
// numbers most fields hold (blanks, a sign, digits); both give the same.
double LeadingNumberFullRule(std::string_view text);
// A text of one to nine digits and nothing else: its value, read without
// floating point (LeadingNumber gives the same). False for any other text.
inline bool DigitsOnly(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 9) return false;
  int64_t v = 0;
  for (const char ch : text) {
    const unsigned digit = static_cast<unsigned char>(ch) - unsigned{'0'};
    if (digit > 9) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

// Rounds to the nearest whole number, halves to the even neighbour.
// Throws Error(err::kOverflow, "Overflow") outside the signed range (or NaN).
int16_t RoundToInt16(double value);
int32_t RoundToInt32(double value);

// A 32-bit count addition that throws Error(err::kOverflow) when the sum
// leaves the signed 32-bit range.
int32_t AddCount32(int32_t a, int64_t b);

// Number text with a leading blank for non-negative numbers: 5 -> " 5",
// -5 -> "-5", 0 -> " 0".
std::string SpacedNumberText(int64_t value);

// Zero-padded formatting for patterns made only of '0' characters
// ("000000", "00"): at least as many digits as the pattern, a minus sign in
// front of negative numbers. ZeroPadded(45, "000000") == "000045".
std::string ZeroPadded(int64_t value, std::string_view zeros);

// Percentage caption: SpacedNumberText(p) followed by "% " (33 -> " 33% ").
std::string PercentCaption(int64_t percent);

// The integer part of (i / n) * 100 computed in double precision with the
// division first, as the progress displays show it (29 of 100 gives 28).
// Returns 0 when n is 0.
int32_t ProgressPercent(double i, double n);

}  // namespace prax::num

#include "platform/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/error.h"

namespace prax::num {

namespace {

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Position of the next character that is not skipped, at or after `pos`.
std::size_t NextSignificant(std::string_view text, std::size_t pos) {
  while (pos < text.size() && IsSkipped(text[pos])) ++pos;
  return pos;
}

[[noreturn]] void ThrowOverflow() { throw Error(err::kOverflow, "Overflow", Cause::kData); }

// Rounds to the nearest whole number, halves to the even neighbour.
double RoundHalfEven(double value) {
  const double lower = std::floor(value);
  const double diff = value - lower;
  if (diff > 0.5) return lower + 1.0;
  if (diff < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

template <class T>
T RoundChecked(double value) {
  if (!std::isfinite(value)) ThrowOverflow();
  const double r = RoundHalfEven(value);
  if (r < static_cast<double>(std::numeric_limits<T>::min()) ||
      r > static_cast<double>(std::numeric_limits<T>::max()))
    ThrowOverflow();
  return static_cast<T>(r);
}

// The form most numbers of a log take: blanks, an optional sign, up to 18
// digits (or none), blanks, then the end or a character that cannot continue
// a number. Gives what the full reading gives (the digits are exact in 64 bits
// and converted with the same rounding), or false for anything else.
bool PlainNumber(std::string_view text, double& value) {
  // Digits alone first: the commonest field of all.
  if (!text.empty() && text.size() <= 18) {
    uint64_t digits = 0;
    std::size_t i = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) digits = digits * 10 + static_cast<uint64_t>(text[i] - '0');
    if (i == text.size()) {
      value = static_cast<double>(digits);
      return true;
    }
  }
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end && IsSkipped(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* const first = p;
  uint64_t digits = 0;
  while (p != end && IsDigit(*p)) digits = digits * 10 + static_cast<uint64_t>(*p++ - '0');
  if (p == first) {
    // No digit: 0, unless blanks after the sign or a full stop may lead to some.
    if (p != end && (IsSkipped(*p) || *p == '.')) return false;
    value = 0.0;
    return true;
  }
  if (p - first > 18) return false;
  while (p != end && IsSkipped(*p)) ++p;
  if (p != end && (IsDigit(*p) || *p == '.' || *p == 'e' || *p == 'E')) return false;
  value = negative ? -static_cast<double>(digits) : static_cast<double>(digits);
  return true;
}

}  // namespace

double LeadingNumber(std::string_view text) {
  double plain = 0.0;
  return PlainNumber(text, plain) ? plain : LeadingNumberFullRule(text);
}

double LeadingNumberFullRule(std::string_view text) {
  // The significant characters are gathered into a compact buffer: digits of
  // the mantissa (a full stop between the whole and the fractional part) and
  // the exponent, then converted in one go independent of the locale.
  std::string number;
  bool negative = false;
  std::size_t pos = NextSignificant(text, 0);
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    pos = NextSignificant(text, pos + 1);
  }
  bool anyDigit = false;
  long long wholeDigits = 0;  // significant digits before the full stop
  while (pos < text.size() && IsDigit(text[pos])) {
    if (!(number.empty() && text[pos] == '0')) {
      number += text[pos];
      ++wholeDigits;
    }
    anyDigit = true;
    pos = NextSignificant(text, pos + 1);
  }
  if (number.empty()) number.push_back('0');
  if (pos < text.size() && text[pos] == '.') {
    pos = NextSignificant(text, pos + 1);
    bool point = false;
    while (pos < text.size() && IsDigit(text[pos])) {
      if (!point) {
        number += '.';
        point = true;
      }
      number += text[pos];
      anyDigit = true;
      pos = NextSignificant(text, pos + 1);
    }
  }
  if (!anyDigit) return 0.0;

  long long exponentSign = 1;
  bool hasExponent = false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    // The exponent counts only when a digit follows (after an optional sign).
    std::size_t p = NextSignificant(text, pos + 1);
    char sign = '+';
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
      sign = text[p];
      p = NextSignificant(text, p + 1);
    }
    if (p < text.size() && IsDigit(text[p])) {
      hasExponent = true;
      exponentSign = sign == '-' ? -1 : 1;
      number += 'e';
      if (sign == '-') number += '-';
      while (p < text.size() && IsDigit(text[p])) {
        number += text[p];
        p = NextSignificant(text, p + 1);
      }
    }
  }

  double value = 0.0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: a whole part that is long enough or
    // a positive exponent makes it infinite, anything else vanishes.
    const bool huge = hasExponent ? (exponentSign > 0 || wholeDigits > 300) : wholeDigits > 0;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

int16_t RoundToInt16(double value) { return RoundChecked<int16_t>(value); }
int32_t RoundToInt32(double value) { return RoundChecked<int32_t>(value); }

int32_t AddCount32(int32_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(static_cast<int64_t>(a), b, &sum) ||
      sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max())
    ThrowOverflow();
  return static_cast<int32_t>(sum);
}

std::string SpacedNumberText(int64_t value) {
  std::string text = std::to_string(value);
  if (value >= 0) text.insert(text.begin(), ' ');
  return text;
}

std::string ZeroPadded(int64_t value, std::string_view zeros) {
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out;
  out.reserve(digits.size() + zeros.size() + 1);
  if (value < 0) out += '-';
  if (digits.size() < zeros.size()) out.append(zeros.size() - digits.size(), '0');
  out += digits;
  return out;
}

std::string PercentCaption(int64_t percent) { return SpacedNumberText(percent) + "% "; }

int32_t ProgressPercent(double i, double n) {
  if (n == 0) return 0;
  const double percent = i / n * 100;
  // Kept as computed (29 / 100 * 100 is just below 29); only an out-of-range
  // result is clamped so that the bar never sees an undefined value.
  if (std::isnan(percent)) return 0;
  if (percent >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (percent <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(percent);
}

}  // namespace prax::num

#include "platform/text.h"

#include <algorithm>
#include <cstdint>

#include "platform/error.h"

namespace prax::text {

namespace {

// Code points of the bytes 0x80 to 0x9F; the five bytes the code page leaves
// undefined stand for the control characters of the same number.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code page byte of a code point, or '?' when the code page lacks it.
char ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  return '?';
}

[[noreturn]] void ThrowInvalidCall() {
  throw Error(err::kInvalidCall, "Invalid procedure call or argument", Cause::kData);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  std::size_t i = 0;
  while (i < bytes.size()) {
    // A run of ASCII goes over as it is, in one piece.
    std::size_t ascii = i;
    while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
    out.append(bytes.substr(i, ascii - i));
    if (ascii == bytes.size()) break;
    const auto b = static_cast<unsigned char>(bytes[ascii]);
    AppendUtf8(out, b < 0xA0 ? kHighControls[b - 0x80] : char32_t{b});
    i = ascii + 1;
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    int extra = 0;
    char32_t cp = 0;
    if ((b & 0xE0) == 0xC0) {
      extra = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      cp = b & 0x07;
    } else {
      out += '?';  // a stray continuation byte or an invalid lead byte
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool valid = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= utf8.size() || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
    }
    out += valid ? ToCp1252(cp) : '?';
    i = j;
  }
  return out;
}

std::size_t Utf8Length(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string_view LTrim(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view() : s.substr(first);
}

std::string_view RTrim(std::string_view s) {
  const auto last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

std::string_view Trim(std::string_view s) { return RTrim(LTrim(s)); }

std::string ToUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

std::string FoldCase1252(std::string_view utf8) {
  std::string out(utf8);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (b >= 'A' && b <= 'Z') {
      out[i] = static_cast<char>(b + 32);
      continue;
    }
    if ((b != 0xC3 && b != 0xC5) || i + 1 == out.size()) continue;
    const auto next = static_cast<unsigned char>(out[i + 1]);
    if (b == 0xC3 && next >= 0x80 && next <= 0x9E && next != 0x97) {
      out[++i] = static_cast<char>(next + 0x20);  // U+00C0-U+00DE but U+00D7
    } else if (b == 0xC5 && (next == 0x92 || next == 0xA0 || next == 0xBD)) {
      out[++i] = static_cast<char>(next + 1);  // U+0152, U+0160, U+017D
    } else if (b == 0xC5 && next == 0xB8) {
      out[i] = '\xC3';  // U+0178 to U+00FF
      out[++i] = '\xBF';
    }
  }
  return out;
}

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0.
std::size_t SequenceAt(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  if (b >= 0xC2 && b <= 0xDF)
    n = 2;
  else if (b >= 0xE0 && b <= 0xEF)
    n = 3;
  else if (b >= 0xF0 && b <= 0xF4)
    n = 4;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  for (int d = digits - 1; d >= 0; --d) out += kHex[(value >> (4 * d)) & 0xF];
}

}  // namespace

std::string Visible(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
      ++i;
    } else if (b == '\t' || b == '\n' || b == '\r') {
      out += b == '\t' ? "\\t" : b == '\n' ? "\\n" : "\\r";
      ++i;
    } else if (b < 0x80) {
      AppendHex(out, "\\x", b, 2);  // other C0 controls, DEL
      ++i;
    } else if (const std::size_t n = SequenceAt(s, i); n == 2 && b == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
      AppendHex(out, "\\u00", static_cast<unsigned char>(s[i + 1]), 2);  // C1 controls in UTF-8
      i += 2;
    } else if (n > 0) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      if (b < 0xA0)
        AppendHex(out, "\\x", b, 2);  // a raw byte of the C1 range
      else
        out += static_cast<char>(b);
      ++i;
    }
  }
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.starts_with(prefix); }
bool EndsWith(std::string_view s, std::string_view suffix) { return s.ends_with(suffix); }

std::string_view SliceAt(std::string_view s, long long start) {
  if (start < 1) ThrowInvalidCall();
  const auto from = static_cast<unsigned long long>(start - 1);
  if (from >= s.size()) return {};
  return s.substr(static_cast<std::size_t>(from));
}

std::string_view SliceAt(std::string_view s, long long start, long long length) {
  if (length < 0) ThrowInvalidCall();
  const std::string_view rest = SliceAt(s, start);
  return rest.substr(0, static_cast<std::size_t>(std::min<unsigned long long>(
                            static_cast<unsigned long long>(length), rest.size())));
}

std::string_view FirstChars(std::string_view s, long long n) {
  if (n < 0) ThrowInvalidCall();
  return s.substr(0, static_cast<std::size_t>(std::min<unsigned long long>(static_cast<unsigned long long>(n), s.size())));
}

std::string_view LastChars(std::string_view s, long long n) {
  if (n < 0) ThrowInvalidCall();
  const auto count = static_cast<std::size_t>(std::min<unsigned long long>(static_cast<unsigned long long>(n), s.size()));
  return s.substr(s.size() - count);
}

std::size_t PositionOf(std::string_view s, std::string_view needle, std::size_t start) {
  if (start < 1) ThrowInvalidCall();
  if (s.empty() || start > s.size()) return 0;
  if (needle.empty()) return start;
  const auto found = s.find(needle, start - 1);
  return found == std::string_view::npos ? 0 : found + 1;
}

}  // namespace prax::text

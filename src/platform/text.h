#pragma once
// Text helpers. Log files are Windows-1252 bytes; the databases hold UTF-8.
// "Trim" everywhere in this system means the space character only.

#include <string>
#include <string_view>

namespace prax::text {

// Windows-1252 bytes to UTF-8. The five bytes that code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to U+0081, U+008D, U+008F,
// U+0090 and U+009D.
std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252; characters the code page cannot hold become '?'.
std::string Utf8ToCp1252(std::string_view utf8);
// Number of characters (code points) of a UTF-8 text.
std::size_t Utf8Length(std::string_view utf8);

std::string_view Trim(std::string_view s);   // leading and trailing spaces
std::string_view LTrim(std::string_view s);  // leading spaces
std::string_view RTrim(std::string_view s);  // trailing spaces

std::string ToUpperAscii(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);  // ASCII letters

// The one letter-case rule of every text comparison that ignores case (list
// names, roster user ids and their order, group members): in UTF-8 text, each
// letter of Windows-1252 that has a capital and a small form there (A-Z,
// U+00C0-U+00DE but the sign U+00D7, U+0152, U+0160, U+017D, U+0178) becomes
// its small form. Everything else stays: accents count, U+00DF (sharp s) has
// no capital, other scripts are left alone. The byte length never changes.
std::string FoldCase1252(std::string_view utf8);

// The text as it may be shown or written as one line: every control
// character becomes a visible escape, so that a name holding CR LF or a
// terminal escape sequence neither starts a line of its own nor recolours a
// screen. Tab, LF and CR read \t, \n and \r; the other C0 controls and DEL
// read \xHH (\x1b for ESC); the C1 controls read \u0080 to \u009f when
// written in UTF-8, and \xHH when they stand alone as raw bytes 0x80-0x9F
// (Windows-1252 text that never went through conversion). Everything else,
// a backslash included, stays as it is; showing a text twice changes nothing.
std::string Visible(std::string_view s);

bool StartsWith(std::string_view s, std::string_view prefix);   // exact case
bool EndsWith(std::string_view s, std::string_view suffix);     // exact case

// 1-based substring helpers with the runtime's rules: SliceAt(s, start) and
// SliceAt(s, start, length) give what exists of the range (start past the end
// gives ""). Left/Right take at most n characters. A start below 1 or a
// negative length throws Error(err::kInvalidCall).
std::string_view SliceAt(std::string_view s, long long start);
std::string_view SliceAt(std::string_view s, long long start, long long length);
std::string_view FirstChars(std::string_view s, long long n);
std::string_view LastChars(std::string_view s, long long n);
// 1-based position of needle in s at or after start, 0 when absent.
std::size_t PositionOf(std::string_view s, std::string_view needle, std::size_t start = 1);

}  // namespace prax::text

#pragma once
// Private-profile (INI) file reading with the behaviour the network
// configuration relies on.

#include <string>
#include <string_view>

namespace prax::profile {

// What a 255-character buffer filled with NUL characters holds after the
// platform's private-profile reader has copied the value into it: the value
// (at most size - 1 characters) followed by NUL characters up to `size`.
// Section and key names ignore letter case; the first matching section and
// the first matching key in it win; lines starting with ';' are comments;
// the value is trimmed of blanks and one pair of matching surrounding quotes
// (double or single) is removed. A missing file, section or key gives
// `defaultValue`. `file` is a path text (see fs::RealPath); one without a
// full path (no leading separator and no drive) is looked for in
// fs::DefaultProfileDir(), as the platform's reader does.
std::string ReadProfileBuffer(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::string_view file,
                              std::size_t size = 255);

// Cleans a profile buffer: the first NUL and everything after it become
// blanks; the first colon is removed when it stands at position 3 or later
// (a drive colon at position 1 or 2 stays); leading and trailing blanks are
// removed.
std::string TrimIniValue(std::string_view buffer);

}  // namespace prax::profile

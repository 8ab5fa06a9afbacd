#pragma once
// Where user number n lives: "PX" & n formatted "000000" & ".DIR", directly
// in the network directory up to 1000, above that in the thousand sub-folder
// (n \ 1000 * 1000 formatted "000000").

#include <cstdint>
#include <string>
#include <string_view>

namespace prax {

// "PX000005.DIR"
std::string UserDirName(int32_t user);
// "" for n <= 1000, else e.g. "001000"
std::string ThousandFolderName(int32_t user);
// NetworkDir & [bucket & "\"] & UserDirName(n), without a trailing separator.
std::string UserDirPath(std::string_view networkDir, int32_t user);

}  // namespace prax

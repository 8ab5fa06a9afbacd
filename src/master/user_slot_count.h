#pragma once
#include <cstdint>
#include <string_view>

namespace prax {

// The number of numbered user slots of a network directory: the highest n
// among the Sub_Dir values of the form PXnnnnnn.DIR in its MASTER.MDB Users
// table; 0 when the roster is missing, cannot be read or holds none.
int32_t UserSlotCount(std::string_view networkDir);

}  // namespace prax

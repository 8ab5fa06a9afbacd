#pragma once
#include <cstdint>
#include <string_view>

namespace prax {

// The number of numbered user slots of a network directory: the highest n
// among the Sub_Dir values of the form PXnnnnnn.DIR in its MASTER.MDB Users
// table; 0 when the roster is missing or holds none. A roster that cannot
// be read (locked past the busy timeout, damaged) throws Error naming it. A
// slot beyond 32767 is skipped and named through `status` (when given).
class Status;
int32_t UserSlotCount(std::string_view networkDir, Status* status = nullptr);

}  // namespace prax

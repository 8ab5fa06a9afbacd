#include "roster/user_slot_count.h"

#include <cstdint>
#include <string>

#include "command/status.h"
#include "store/roster_store.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace prax {

namespace {

// n of a Sub_Dir "PXnnnnnn.DIR" (letters in any case), or -1 for any other text.
int32_t SlotNumber(std::string_view subDir) {
  if (subDir.size() != 12) return -1;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  if (upper(subDir[0]) != 'P' || upper(subDir[1]) != 'X') return -1;
  if (subDir[8] != '.' || upper(subDir[9]) != 'D' || upper(subDir[10]) != 'I' || upper(subDir[11]) != 'R') return -1;
  int32_t n = 0;
  for (std::size_t i = 2; i < 8; ++i) {
    if (subDir[i] < '0' || subDir[i] > '9') return -1;
    n = n * 10 + (subDir[i] - '0');
  }
  return n;
}

}  // namespace

int32_t UserSlotCount(std::string_view networkDir, Status* status) {
  const std::string file = std::string(networkDir) + "MASTER.MDB";
  if (!fs::Exists(file) || fs::IsDirectory(file)) return 0;
  int32_t highest = 0;
  try {
    auto roster = store::Roster::Open(fs::RealPath(file), db::Access::ReadOnly);
    for (const std::optional<std::string>& subDir : roster->SubDirs()) {
      if (!subDir) continue;
      const int32_t n = SlotNumber(*subDir);
      if (n > INT16_MAX) {
        // User numbers are 16-bit: such a slot cannot be loaded, the others can.
        if (status != nullptr) {
          status->PassedOver("user number beyond 32767", fs::ForDisplay(file), "    Skipped: roster row Sub_Dir '" + *subDir + "' of " + fs::ForDisplay(file) + ": user number " +
                             std::to_string(n) + " is beyond 32767, the highest a user may have. Renumber that user.");
        }
      } else if (n > highest) {
        highest = n;
      }
    }
    roster->Close();
  } catch (const Error& e) {
    // A roster without a Users table has no slots; one that cannot be read
    // (locked, damaged, unreadable) is no empty roster.
    if (e.Kind() == err::kCannotFindTable) return 0;
    throw e.WithContext("Reading the roster " + fs::ForDisplay(file));
  }
  return highest;
}

}  // namespace prax

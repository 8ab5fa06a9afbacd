#include "logs/user_dir.h"

#include "platform/numbers.h"

namespace prax {

std::string UserDirName(int32_t user) { return "PX" + num::ZeroPadded(user, "000000") + ".DIR"; }

std::string ThousandFolderName(int32_t user) {
  if (user <= 1000) return {};
  return num::ZeroPadded(user / 1000 * 1000, "000000");
}

std::string UserDirPath(std::string_view networkDir, int32_t user) {
  std::string path(networkDir);
  const std::string bucket = ThousandFolderName(user);
  if (!bucket.empty()) path += bucket + "\\";
  return path + UserDirName(user);
}

}  // namespace prax

#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "roster/roster_operations.h"
#include "roster/merge_paths.h"
#include "store/roster_store.h"

namespace prax {

void CreateGroupFile(const RunContext& run, std::string_view fileName) {
  const std::string file = run.NetworkDir + std::string(fileName);
  if (!merge::IsPlainName(fileName))
    throw Error(err::kPathFileAccess, "Group file '" + fs::ForDisplay(file) +
                                          "': a group file name must be a plain file name inside the network "
                                          "directory; correct the group name in Networks.Lst", Cause::kData);
  if (fs::Exists(file, true)) fs::DeleteFile(file);
  store::GroupFile::Create(fs::RealPath(file));
}

}  // namespace prax

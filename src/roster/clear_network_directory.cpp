#include <string>
#include <vector>

#include "roster/roster_operations.h"
#include "roster/merge_paths.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/run_lock.h"
#include "platform/text.h"

namespace prax {

namespace {

// Deletes the files of a folder (its own sub-folders are not looked into, and
// a link is deleted, not followed), then the folder itself.
void RemoveFolderWithFiles(const std::string& folder) {
  for (const fs::DirEntry& e : fs::List(folder)) {
    const std::string entry = folder + "\\" + e.name;
    if (fs::IsSymlink(entry))
      merge::RemoveLink(entry);
    else if (!e.isDirectory)
      fs::DeleteFile(entry);
  }
  fs::RemoveDirectory(folder);
}

// A thousand sub-folder loses every user directory in it (a link is deleted,
// not followed), so that no merged user is given a directory someone else's
// logs are still in; the folder itself goes when nothing else is left, and
// what is left is named.
void ClearThousandFolder(Status* status, const std::string& folder) {
  bool kept = false;
  for (const fs::DirEntry& e : fs::List(folder)) {
    const std::string entry = folder + "\\" + e.name;
    if (e.isDirectory && merge::IsUserDirName(e.name) && fs::IsSymlink(entry)) {
      merge::RemoveLink(entry);
    } else if (e.isDirectory && merge::IsUserDirName(e.name)) {
      RemoveFolderWithFiles(entry);
    } else {
      kept = true;
      merge::PassOver(status, "Clearing: '" + fs::ForDisplay(entry) + "' is not a user directory; left in place");
    }
  }
  if (!kept) fs::RemoveDirectory(folder);
}

// One pass over the listing: every entry is removed (or the clearing ends
// with an Error), kept, or left in place and reported, so no entry is met
// twice and the clearing always ends.
void ClearEntries(Status* status, const std::string& dir) {
  for (const fs::DirEntry& e : fs::List(dir)) {
    // Networks.Lst drives the merge; the lock files are held by this very command.
    if (e.name == "." || e.name == ".." || e.name == "Networks.Lst" || IsRunLockName(text::ToUpperAscii(e.name)))
      continue;
    const std::string entry = dir + e.name;
    if (fs::IsSymlink(entry)) {
      merge::RemoveLink(entry);
    } else if (!e.isDirectory) {
      fs::DeleteFile(entry);
    } else if (merge::IsUserDirName(e.name) || e.name == "Samples") {
      RemoveFolderWithFiles(entry);
    } else if (merge::IsThousandName(e.name)) {
      ClearThousandFolder(status, entry);
    } else {
      merge::PassOver(status, "Clearing: folder '" + fs::ForDisplay(entry) + "' is not a user directory; left in place");
    }
  }
}

}  // namespace

void ClearNetworkDirectory(Status* status, std::string_view path) {
  const std::string dir(path);
  try {
    ClearEntries(status, dir);
  } catch (const Error& e) {
    throw e.WithContext("Clearing the network directory '" + fs::ForDisplay(dir) +
                        "' (remove the entry named by hand and run the merge again)");
  }
}

}  // namespace prax

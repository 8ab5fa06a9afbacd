#pragma once
// Small helpers shared by the network merge and its clearing: which names
// may be joined to a directory without leading out of it, and reporting to a
// status display that may be absent.

#include <filesystem>
#include <string_view>

namespace prax {

class Status;

namespace merge {

// A single file or folder name: not empty, not "." or "..", and without a
// path separator or drive colon.
bool IsPlainName(std::string_view name);
// A path text with a ".." component (either separator).
bool HasParentComponent(std::string_view pathText);
// A user directory's name (ending ".DIR"), and a thousand sub-folder's name
// of an earlier merge (six digits).
bool IsUserDirName(std::string_view name);
bool IsThousandName(std::string_view name);
// A folder of the network directory that the clearing before a merge empties
// or removes, and the merge then fills.
bool ClearingEmpties(std::string_view name);
// Deletes a symbolic link itself (never what it points to). Error 75 naming
// it when that fails.
void RemoveLink(std::string_view pathText);

void Say(Status* status, std::string_view text);
// Something left out, skipped or left in place: said on the status line and
// given as a passed-over line (shown to the administrator, kept in the run log).
void PassOver(Status* status, std::string_view text);
void Yield(Status* status);

}  // namespace merge
}  // namespace prax

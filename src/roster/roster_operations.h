#pragma once
// The Master database MASTER.MDB: schema upgrade, import of users'
// location, department and position from UserDefs.Prn, and the merge of
// several networks' rosters and user directories into one.

#include <cstdint>
#include <string_view>

#include "command/run_context.h"
#include "command/status.h"

namespace prax {

// Adds the location, department and position columns and lists, each step
// saved on its own (each step that fails is passed over; one kept from being
// saved by the file's other users is named on `status`). A Master database
// that cannot be opened ends the operation with an Error naming the file.
void UpgradeMasterSchema(const RunContext& run, Status* status = nullptr);

// Imports NetworkDir & "UserDefs.Prn" into the roster. Failures from the
// strict stretch end the import with an Error naming the file, the item and
// the reason; rows stored before stay. A user id or name holding a single
// quote is such a failure.
void ImportUserDefs(const RunContext& run, Status* status);

// Rebuilds run.NetworkDir as one network from the networks of Networks.Lst
// (run.NetworkPaths/Prefixes/Names). Refuses, deleting nothing, when the list
// is empty, names the network directory itself, or its first network has no
// MASTER.MDB. Returns the number of merged users.
int32_t MergeNetworks(const RunContext& run, Status* status);
// Replaces fileName (relative to run.NetworkDir) with a new, empty group file.
void CreateGroupFile(const RunContext& run, std::string_view fileName);
// Empties a network directory (path text ending with a separator), keeping
// "Networks.Lst".
void ClearNetworkDirectory(Status* status, std::string_view path);

}  // namespace prax

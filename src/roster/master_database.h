#pragma once
// The Master database MASTER.MDB: schema upgrade, import of users'
// location, department and position from UserDefs.Prn, and the merge of
// several networks' rosters and user directories into one.

#include <string_view>

namespace prax {

struct RunContext;

// The Last_Name placeholder that marks an unassigned user slot in Users
// (compared without regard to letter case).
inline constexpr std::string_view kUnassignedLastName = "Unassigned";

// Adds the location, department and position columns and lists (each
// statement that fails is passed over). A Master database that cannot be
// opened ends the operation with an Error naming the file.
void ModifyMasterDatabase(RunContext& ctx);

// Imports NetworkDir & "UserDefs.Prn" into the roster. Failures from the
// strict stretch end the import with an Error naming the file, the item and
// the reason; rows stored before stay.
void UpdateMasterDatabase(RunContext& ctx);

// Rebuilds ctx.NetworkDir as one network from the networks of Networks.Lst
// (ctx.NetworkPaths/Prefixes/Names). Refuses, deleting nothing, when the list
// is empty, names the network directory itself, or its first network has no
// MASTER.MDB. Afterwards ctx.UserSlotCount is the number of merged users.
void MergeNetworks(RunContext& ctx);
// Replaces fileName (relative to ctx.NetworkDir) with a new, empty group file.
void CreateGroupFile(RunContext& ctx, std::string_view fileName);
// Empties a network directory (path text ending with a separator), keeping
// "Networks.Lst".
void ClearNetworkDirectory(RunContext& ctx, std::string_view path);

}  // namespace prax

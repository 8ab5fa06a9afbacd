#pragma once
// Creation of a fresh, empty History database "PRAXDATA.MDB" in the network
// directory, and its schema (13 tables, one index each).

#include <vector>

#include "store/engine.h"

namespace prax {

struct RunContext;

// The History database's tables in creation order, with their fields in
// column order and their one index each.
const std::vector<db::TableDef>& HistorySchema();

// Builds a new PRAXDATA.MDB in ctx.NetworkDir: shows "Creating new
// database.", resets the four progress displays to 0, builds the 13 tables
// in a temporary file beside it and then puts that file in place of any
// earlier PRAXDATA.MDB, so that a run killed meanwhile leaves the earlier
// file (or none) and never a part-built one. Errors pass to the caller.
void CreateHistoryDatabase(RunContext& ctx);

// Removes the temporary file of a creation that was killed (and its journals).
void RemoveUnfinishedHistoryDatabase(const std::string& networkDir);

}  // namespace prax

#pragma once
// Creation of a fresh, empty History database "PRAXDATA.MDB" in the network
// directory, and its schema (13 tables, one index each).

#include <vector>

#include "db/engine.h"

namespace prax {

struct RunContext;

// The History database's tables in creation order, with their fields in
// column order and their one index each.
const std::vector<db::TableDef>& HistorySchema();

// Deletes any PRAXDATA.MDB in ctx.NetworkDir, creates the file, shows
// "Creating new database.", resets the four progress displays to 0, builds
// the 13 tables and closes the database. Errors pass to the caller.
void CreateHistoryDatabase(RunContext& ctx);

}  // namespace prax

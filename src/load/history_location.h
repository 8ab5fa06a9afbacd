#pragma once
// Where the History database lives: the file PRAXDATA.MDB in the network
// directory, or our tables on the PostgreSQL server of run.HistoryServer.

#include <memory>

#include "command/run_context.h"
#include "command/status.h"
#include "store/history_store.h"

namespace prax {

// Creates a fresh, empty History database: shows "Creating new database."
// and resets the two progress displays to 0. A file is built beside
// PRAXDATA.MDB before it replaces any earlier one, so that a run killed
// meanwhile leaves the earlier file (or none) and never a part-built one; on
// a server our tables, and only ours, are dropped and created again in one
// transaction. Errors pass to the caller.
void CreateHistoryDatabase(const RunContext& run, Status& status);

// Opens the History database for a load (a file: after removing what a
// killed creation left beside it).
std::unique_ptr<store::HistoryStore> OpenHistory(const RunContext& run);

}  // namespace prax

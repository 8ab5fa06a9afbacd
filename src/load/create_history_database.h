#pragma once
// Creation of a fresh, empty History database "PRAXDATA.MDB" in the network
// directory.

#include "platform/run_context.h"
#include "platform/status.h"

namespace prax {

// Builds a new PRAXDATA.MDB in run.NetworkDir: shows "Creating new
// database.", resets the two progress displays to 0 and builds the tables
// beside the file before it replaces any earlier one, so that a run killed
// meanwhile leaves the earlier file (or none) and never a part-built one.
// Errors pass to the caller.
void CreateHistoryDatabase(const RunContext& run, Status& status);

}  // namespace prax

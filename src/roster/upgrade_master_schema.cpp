#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "roster/roster_operations.h"
#include "store/roster_store.h"

namespace prax {

namespace {

// What a step adds, as the administrator reads it.
std::string Describe(const store::UpgradeStep& step) {
  switch (step.kind) {
    case store::UpgradeStep::Kind::kAddField: return "the column " + step.table + "." + step.field.name;
    case store::UpgradeStep::Kind::kCreateTable: return "the table " + step.table;
    case store::UpgradeStep::Kind::kCreateIndex: return "the index " + step.index.name + " of " + step.table;
  }
  return step.table;
}

}  // namespace

void UpgradeMasterSchema(const RunContext& run, Status* status) {
  const std::string file = run.NetworkDir + "MASTER.MDB";
  // The engine's message names the file; the caller names the operation.
  auto roster = store::Roster::Open(fs::RealPath(file));
  // Each step is saved on its own, so that a step that cannot be saved loses
  // no other. On an upgraded database each step fails (the column, table or
  // index exists) and is passed over. A step the file's other users keep
  // from being saved beyond the busy wait is undone and passed over too,
  // named; the next run adds it.
  for (const store::UpgradeStep& step : store::RosterUpgrade()) {
    try {
      TryStep(status, "MASTER.MDB", [&] {
        roster->Apply(step);
        roster->Commit();
      });
    } catch (const Error& e) {
      if (e.Kind() != err::kLocked) throw;
      roster->Rollback();
      if (status != nullptr) {
        const std::string line = "'" + fs::ForDisplay(file) + "' is in use by another program: " + Describe(step) +
                                 " was not added; the next run adds it.";
        status->SetStatus(line);
        status->Warn(line);
      }
    }
  }
  // Nothing is left to save at the close: a failing close loses nothing.
  try {
    roster->Close();
  } catch (const Error&) {
  }
}

}  // namespace prax

#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "roster/master_database.h"
#include "store/roster_store.h"

namespace prax {

void ModifyMasterDatabase(const RunContext& run) {
  const std::string file = run.NetworkDir + "MASTER.MDB";
  // The engine's message names the file; the caller names the operation.
  auto roster = store::Roster::Open(fs::RealPath(file));
  // On an upgraded database each step fails (the column, table or index
  // exists) and is passed over.
  for (const store::UpgradeStep& step : store::RosterUpgrade()) TryStep([&] { roster->Apply(step); });
  TryStep([&] { roster->Close(); });
}

}  // namespace prax

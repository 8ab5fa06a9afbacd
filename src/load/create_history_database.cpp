#include "load/create_history_database.h"

#include "store/history_store.h"

namespace prax {

void CreateHistoryDatabase(const RunContext& run, Status& status) {
  status.SetStatus("Creating new database.");
  status.SetFilePercent(0);
  status.SetUserPercent(0);
  status.Yield();
  store::CreateSqliteHistory(run.NetworkDir + "PRAXDATA.MDB");
  status.Yield();
}

}  // namespace prax

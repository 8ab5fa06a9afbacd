#include "load/history_location.h"

#include "platform/fs.h"
#include "store/pg_history_store.h"

namespace prax {

void CreateHistoryDatabase(const RunContext& run, Status& status) {
  status.SetStatus("Creating new database.");
  status.SetFilePercent(0);
  status.SetUserPercent(0);
  status.Yield();
  if (run.HistoryServer.empty()) {
    store::CreateSqliteHistory(run.NetworkDir + "PRAXDATA.MDB");
  } else {
    store::CreatePgHistory(run.HistoryServer, run.HistoryTimeout);
  }
  status.Yield();
}

std::unique_ptr<store::HistoryStore> OpenHistory(const RunContext& run) {
  if (!run.HistoryServer.empty()) return store::OpenPgHistory(run.HistoryServer, run.HistoryTimeout);
  const std::string file = run.NetworkDir + "PRAXDATA.MDB";
  store::RemoveUnfinishedHistory(file);
  const db::Journal journal = run.HistoryJournal == RunContext::Journal::kWal        ? db::Journal::Wal
                              : run.HistoryJournal == RunContext::Journal::kRollback ? db::Journal::Rollback
                                                                                     : db::Journal::WalWhereLocal;
  return store::OpenSqliteHistory(fs::RealPath(file), journal);
}

}  // namespace prax

// Log bytes through the whole load of a day: parsed as an Alert log and as an
// Activity log, and each day stored through the History store into a real
// PRAXDATA.MDB, names looked up in its lists. A refused row or name is a data
// Error the loaders pass over; nothing else may escape, and the day must
// commit. The database goes back to its fresh copy every few hundred inputs.
#include <memory>

#include "fuzz_env.h"
#include "load/history_location.h"
#include "load/load_activity_logs.h"
#include "load/load_alert_logs.h"
#include "load/load_context.h"

namespace {

struct Env {
  praxfuzz::ScratchDir dir;
  prax::Status status;
  prax::RunContext run;
  praxfuzz::stdfs::path live, pristine;
  std::unique_ptr<prax::store::HistoryStore> store;
  std::unique_ptr<prax::LoadContext> load;
  int inputs = 0;

  Env() {
    run.NetworkDir = dir.Text();
    live = dir.Path() / "PRAXDATA.MDB";
    pristine = dir.Path() / "pristine.MDB";
    prax::CreateHistoryDatabase(run, status);
    praxfuzz::stdfs::copy_file(live, pristine);
    Open();
  }
  void Open() {
    load.reset();
    store = prax::store::OpenSqliteHistory(live);
    load = std::make_unique<prax::LoadContext>(run, status, *store);
    load->user = 7;
    load->OpenPassLists(prax::LogKind::kAlert);
    load->OpenPassLists(prax::LogKind::kActivity);
  }
  void Reset() {
    load.reset();
    store->Close();
    store.reset();
    praxfuzz::Restore(pristine, live);
    Open();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Env env;
  if (++env.inputs % praxfuzz::kResetEvery == 0) env.Reset();
  const std::string_view bytes = praxfuzz::AsText(data, size);
  prax::LoadContext& load = *env.load;
  // Options from the input's size, so that both name rules and several key limits are reached.
  const prax::ActivityOptions options{size % 2 == 1, static_cast<int16_t>(size % 7 == 0 ? 50 : 260)};
  try {
    prax::StoreAlertDay(load, 20021203, prax::ParseAlertDay(bytes, load.alertCarry));
  } catch (const prax::Error& e) {
    if (e.Environment()) std::abort();  // a refused hour row ends the day; the machine never fails here
  }
  load.ids.window = load.ids.project = load.ids.task = -1;
  prax::StoreActivityDay(load, 20021203, prax::ParseActivityDay(bytes, options, load.activityCarry));
  env.store->Commit();
  return 0;
}

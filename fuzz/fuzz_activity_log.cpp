// Activity log (.PXT) files through the parser, its lookups, ProjectNotes and
// the per-line and per-day writers, against a real History database. The
// input's size picks APPS.NO present or not and one of a few key limits, so
// every setting of the tuning files is reached.
#include "logs/activity_day.h"
#include "load/write_error_keys.h"
#include "fuzz_env.h"

namespace {

struct Env {
  praxfuzz::ScratchDir dir;
  prax::Status status;
  prax::RunContext ctx;
  std::unique_ptr<prax::db::Recordset> activityRs;
  prax::ActivityParserState state;
  praxfuzz::stdfs::path live, pristine, log;
  std::string logText;
  int inputs = 0;

  Env() {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
    prax::CreateHistoryDatabase(ctx);
    live = dir.Path() / "PRAXDATA.MDB";
    pristine = dir.Path() / "pristine.MDB";
    praxfuzz::stdfs::copy_file(live, pristine);
    log = dir.Path() / "PX000005.DIR" / "20020615.PXT";
    logText = log.generic_string();
    Open();
  }
  void Open() {
    ctx.Db = prax::db::Database::Open(live);
    for (prax::LookupList* list : {&ctx.Apps, &ctx.Windows, &ctx.Projects, &ctx.Tasks, &ctx.Notes}) {
      list->Prime(*ctx.Db);
      list->Open(*ctx.Db, &status);
    }
    ctx.ProjectNotesRs = ctx.Db->OpenRecordset("SELECT * FROM ProjectNotes");
    ctx.CurrentUser = 5;
    activityRs = ctx.Db->OpenRecordset("SELECT * FROM ActivitySystem WHERE ActivitySystem.User_Num = 5");
  }
  void Reset() {
    activityRs.reset();
    ctx.ProjectNotesRs.reset();
    for (prax::LookupList* list : {&ctx.Apps, &ctx.Windows, &ctx.Projects, &ctx.Tasks, &ctx.Notes})
      prax::TryStep([&] { list->Close(); });
    ctx.Db.reset();
    praxfuzz::Restore(pristine, live);
    Open();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Env env;
  if (++env.inputs % praxfuzz::kResetEvery == 0) env.Reset();
  static constexpr int16_t kLimits[] = {260, 47, 9, 0, -3, 32767};
  env.ctx.AppsNoPresent = size % 2 == 1;
  env.ctx.KeysMax = kLimits[(size / 2) % 6];
  praxfuzz::WriteBytes(env.log, praxfuzz::AsText(data, size));
  const prax::FileList files{"", "02-06-1520*"};
  // Names and texts carry over between files in a job; a fresh state per
  // input keeps each run reproducible on its own.
  env.state = prax::ActivityParserState{};
  env.state.ClearHourKeyCounts();
  prax::TryStep([&] { prax::ParseActivityLog(env.ctx, env.state, env.logText, files, 1, *env.activityRs); });
  prax::TryStep([&] { prax::WriteDayErrorKeys(env.ctx, env.state, files, 1, *env.activityRs); });
  return 0;
}

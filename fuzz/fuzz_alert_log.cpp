// Alert log (.PXL) bytes through the parser, its lookups and note rows, and
// the hourly writer, against a real History database.
#include "logs/alert_day.h"
#include "load/write_alert_hours.h"
#include "fuzz_env.h"

namespace {

struct Env {
  praxfuzz::ScratchDir dir;
  prax::Status status;
  prax::RunContext ctx;
  std::unique_ptr<prax::db::Recordset> alertRs;
  praxfuzz::stdfs::path live, pristine;
  int inputs = 0;

  Env() {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
    prax::CreateHistoryDatabase(ctx);
    live = dir.Path() / "PRAXDATA.MDB";
    pristine = dir.Path() / "pristine.MDB";
    praxfuzz::stdfs::copy_file(live, pristine);
    Open();
  }
  void Open() {
    ctx.Db = prax::db::Database::Open(live);
    for (prax::LookupList* list : {&ctx.Tools, &ctx.BodyParts, &ctx.Discomforts, &ctx.Notes}) {
      list->Prime(*ctx.Db);
      list->Open(*ctx.Db, &status);
    }
    ctx.SystemUsageRs = ctx.Db->OpenRecordset("SELECT * FROM EMSSystemUsage");
    ctx.UserNotesRs = ctx.Db->OpenRecordset("SELECT * FROM UserNotes");
    ctx.CurrentUser = 5;
    alertRs = ctx.Db->OpenRecordset("SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5");
  }
  void Reset() {
    alertRs.reset();
    ctx.SystemUsageRs.reset();
    ctx.UserNotesRs.reset();
    for (prax::LookupList* list : {&ctx.Tools, &ctx.BodyParts, &ctx.Discomforts, &ctx.Notes})
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
  prax::AlertParserState state;
  prax::AlertCounts counts;
  const std::string_view entry = "02-06-1520*";
  prax::ParseAlertBytes(env.ctx, state, counts, std::string(praxfuzz::AsText(data, size)), entry);
  prax::TryStep([&] { prax::WriteAlertHours(env.ctx, counts, entry, *env.alertRs); });
  return 0;
}

// SQL statements and record-set search criteria: the parser on its own, then
// the engine running what parsed against a History database holding a few
// rows (record sets walked, criteria searched on an ordered, an indexed and
// an unindexed record set, action statements executed).
#include "store/sql.h"
#include "fuzz_env.h"

namespace {

struct Env {
  praxfuzz::ScratchDir dir;
  prax::Status status;
  prax::RunContext ctx;
  std::unique_ptr<prax::db::Recordset> ordered, indexed, plain;
  praxfuzz::stdfs::path live, pristine;
  int inputs = 0;

  Env() {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
    prax::CreateHistoryDatabase(ctx);
    live = dir.Path() / "PRAXDATA.MDB";
    pristine = dir.Path() / "pristine.MDB";
    {
      auto db = prax::db::Database::Open(live);
      auto tools = db->OpenRecordset("SELECT * FROM EMSToolsList");
      auto alerts = db->OpenRecordset("SELECT * FROM AlertSystem");
      const char* names[] = {"Mouse", "Keyboard", "Chair", "Desk"};
      for (int i = 0; i < 4; ++i) {
        tools->AddNew();
        tools->Set("Tool_Id", prax::db::Value(i + 1));
        tools->Set("Tool_Name", prax::db::Value(names[i]));
        tools->Update();
        alerts->AddNew();
        alerts->Set("User_Num", prax::db::Value(i + 1));
        alerts->Set("Data_Date", prax::db::Value(20020615 + i));
        alerts->Set("Data_Hour", prax::db::Value(i % 2 ? "00" : "13"));
        alerts->Update();
      }
      db->Close();
    }
    praxfuzz::stdfs::copy_file(live, pristine);
    Open();
  }
  void Open() {
    ctx.Db = prax::db::Database::Open(live);
    prax::TryStep([&] { ordered = ctx.Db->OpenRecordset("SELECT * FROM AlertSystem ORDER BY Data_Date"); });
    prax::TryStep([&] { indexed = ctx.Db->OpenRecordset("SELECT * FROM AlertSystem WHERE User_Num > 1"); });
    prax::TryStep([&] { plain = ctx.Db->OpenRecordset("SELECT * FROM EMSToolsList"); });
  }
  void Reset() {
    ordered.reset();
    indexed.reset();
    plain.reset();
    ctx.Db.reset();
    praxfuzz::Restore(pristine, live);
    Open();
  }
};

void Walk(prax::db::Recordset& rs) {
  for (int i = 0; i < 20 && !rs.Eof(); ++i) {
    for (const std::string& field : rs.FieldNames()) (void)rs.Get(field).Describe();
    rs.MoveNext();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Env env;
  if (++env.inputs % praxfuzz::kResetEvery == 0) env.Reset();
  const std::string_view text = praxfuzz::AsText(data, size);
  namespace sql = prax::db::sql;

  bool isSelect = false, parsed = false;
  prax::TryStep([&] {
    const sql::Statement st = sql::Parse(text);
    parsed = true;
    isSelect = std::holds_alternative<sql::Select>(st);
  });
  prax::TryStep([&] { (void)sql::ParseCriteria(text); });

  prax::db::Database& db = *env.ctx.Db;
  if (parsed && isSelect) {
    prax::TryStep([&] {
      auto rs = db.OpenRecordset(text);
      Walk(*rs);
      prax::TryStep([&] { rs->MoveLast(); });
    });
  } else if (parsed) {
    prax::TryStep([&] { db.Execute(text); });
  }
  for (auto* rs : {env.ordered.get(), env.indexed.get(), env.plain.get()}) {
    if (rs == nullptr) continue;
    prax::TryStep([&] {
      rs->FindFirst(text);
      if (!rs->NoMatch()) Walk(*rs);
    });
  }
  return 0;
}

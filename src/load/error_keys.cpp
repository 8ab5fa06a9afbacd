// The error-keys step of the load job: the hourly alert records of a user
// receive in Error_Keys the number of Backspace and Delete strokes of that
// hour, taken from the user's whole-application activity rows (App_Id -1).

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/run_context.h"
#include "platform/status.h"
#include "load/run_load_job.h"
#include "platform/error.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

namespace {

using HourKey = std::pair<int64_t, std::string>;  // Data_Date, Data_Hour (upper case)

// Whether the record set is past its last row; an unreadable record set
// counts as ended so that no sweep retries a failing read.
bool Ended(const db::Recordset& rs) {
  bool eof = true;
  TryStep([&] { eof = rs.Eof(); });
  return eof;
}

void CloseQuietly(std::unique_ptr<db::Recordset>& rs) {
  if (rs) TryStep([&] { rs->Close(); });
  rs.reset();
}

// Adds the counts of the user's whole-application error-key rows (keys 8
// and 46) to the sums; false when the record set cannot be opened. One sweep
// over the user's rows through the User_Num index serves both keys: the sums
// are the same whichever order the rows come in.
bool SumKeyRows(RunContext& ctx, const std::string& userText, std::map<HourKey, int64_t>& sums) {
  ctx.SqlText =
      "SELECT ActivitySystem.Data_Date, ActivitySystem.Data_Hour, ActivitySystem.Key_Num, ActivitySystem.Key_Count "
      "FROM ActivitySystem WHERE ActivitySystem.User_Num =" +
      userText + " AND ActivitySystem.App_Id = -1";
  std::unique_ptr<db::Recordset> rs;
  if (!TryStep([&] { rs = ctx.Db->OpenRecordset(ctx.SqlText); })) return false;
  TryStep([&] { rs->MoveFirst(); });
  while (!Ended(*rs)) {
    TryStep([&] {
      const db::Value key = rs->Get("Key_Num");
      if (!key.IsInt() || (key.IntValue() != 8 && key.IntValue() != 46)) return;
      const db::Value count = rs->Get("Key_Count");
      if (count.IsNull()) return;
      HourKey hour{rs->Get("Data_Date").AsInt(), text::ToUpperAscii(rs->Get("Data_Hour").AsText())};
      sums[std::move(hour)] += count.AsInt();
    });
    if (ctx.status != nullptr) ctx.status->Yield();
    if (!TryStep([&] { rs->MoveNext(); })) break;
  }
  CloseQuietly(rs);
  return true;
}

}  // namespace

void WriteUserErrorKeys(RunContext& ctx, int32_t user) {
  if (!ctx.Db) return;
  const std::string userText = num::SpacedNumberText(user);

  // The fresh sum per date and hour slot, key 8 and key 46 together.
  std::map<HourKey, int64_t> sums;
  if (!SumKeyRows(ctx, userText, sums)) return;
  if (sums.empty()) return;  // no activity rows: every Error_Keys keeps its value

  ctx.SqlText =
      "SELECT AlertSystem.Data_Date, AlertSystem.Data_Hour, AlertSystem.Error_Keys FROM AlertSystem "
      "WHERE AlertSystem.User_Num =" +
      userText;
  std::unique_ptr<db::Recordset> alertRs;
  if (!TryStep([&] { alertRs = ctx.Db->OpenRecordset(ctx.SqlText); })) return;
  TryStep([&] { alertRs->MoveFirst(); });

  // The first alert row of each date and hour (in record-set order) takes the
  // sum; a row is rewritten only when its value differs. Activity hours
  // without an alert row are passed over.
  while (!sums.empty() && !Ended(*alertRs)) {
    TryStep([&] {
      const db::Value date = alertRs->Get("Data_Date");
      const db::Value hour = alertRs->Get("Data_Hour");
      if (date.IsNull() || hour.IsNull()) return;
      const auto it = sums.find(HourKey{date.AsInt(), text::ToUpperAscii(hour.AsText())});
      if (it == sums.end()) return;
      const int64_t sum = it->second;
      sums.erase(it);
      const db::Value stored = alertRs->Get("Error_Keys");
      if (stored.IsInt() && stored.AsInt() == sum) return;
      alertRs->Edit();
      try {
        alertRs->Set("Error_Keys", db::Value(sum));
        alertRs->Update();
      } catch (const Error&) {
        TryStep([&] { alertRs->CancelUpdate(); });
        throw;
      }
    });
    if (!TryStep([&] { alertRs->MoveNext(); })) break;
  }
  CloseQuietly(alertRs);
}

}  // namespace prax

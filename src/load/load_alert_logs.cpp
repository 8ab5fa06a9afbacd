#include "load/load_alert_logs.h"

#include <new>
#include <string>

#include "logs/alert_day.h"
#include "load/write_alert_hours.h"
#include "platform/run_context.h"
#include "platform/status.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/numbers.h"

namespace prax {

int LoadAlertLogs(RunContext& ctx, AlertParserState& state, std::string_view userDir, const FileList& fileList,
                  db::Recordset& alertRs) {
  Status& status = *ctx.status;
  status.SetStatus("Updating history database from AlertSystem...");

  const int n = static_cast<int>(fileList.size()) - 1;
  AlertCounts counts;
  bool strict = false;  // from the first write on, a failure ends the loader
  int loaded = 0;

  for (int i = 1; i <= n; ++i) {
    const std::string& entry = fileList[static_cast<std::size_t>(i)];
    const bool byDate = !entry.empty() && entry.back() == '*';
    const std::string path = std::string(userDir) + "\\" + EntryFileName(entry, "PXL");
    try {
      // Already loaded when AlertSystem holds any row of this user for the day.
      ctx.SqlText = "Data_Date =" + std::to_string(EntryDateKey(entry));
      alertRs.FindFirst(ctx.SqlText);
      if (alertRs.NoMatch() && LeftForLater(ctx, entry, path)) {
        // Still being written, perhaps; a later run loads it whole.
      } else if (alertRs.NoMatch()) {
        counts.Clear();
        status.UpdateLog((byDate ? "    Loading-1: " : "    Loading-2: ") + entry);
        const AlertLogOutcome outcome = ParseAlertLog(ctx, state, counts, path, entry);
        if (outcome.read == AlertLogRead::kUnreadable) {
          // Nothing of the day is written, so the next run tries it again.
          status.PassedOver("    Skipped: " + fs::ForDisplay(path) + ": " + outcome.reason);
          status.SetStatus("Alert log skipped: " + outcome.reason);
        } else {
          strict = true;
          WriteAlertHours(ctx, counts, entry, alertRs);
          // A day is stored whole or not at all: a run cut short leaves no
          // half-written day behind, and readers never see one.
          ctx.Db->Commit();
          if (outcome.read == AlertLogRead::kParsed) ++loaded;
        }
      }
    } catch (const Error& e) {
      // Before the first write a failing search passes the day over; a
      // failure of the machine never does.
      if (strict || e.Environment()) throw e.WithContext("Alert log " + fs::ForDisplay(path));
    } catch (const std::bad_alloc&) {
      throw OutOfMemory("Alert log " + fs::ForDisplay(path));
    }
    status.SetFilePercent(num::ProgressPercent(i, n));
    status.Yield();
  }

  status.EndBusy();
  return loaded;
}

}  // namespace prax

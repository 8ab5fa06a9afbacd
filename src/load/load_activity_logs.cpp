#include "load/load_activity_logs.h"

#include <new>

#include "logs/activity_day.h"
#include "load/write_error_keys.h"
#include "platform/run_context.h"
#include "platform/status.h"
#include "platform/error.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

namespace {

// The log of an entry: a dated entry ("yy-mm-dd" & century & "*") gives
// UserDir\yyyymmdd.PXT, a day-number entry ("yy-mm-dd" & nnn) UserDir\PRAXnnn.PXT.
std::string ActivityLogPath(std::string_view userDir, std::string_view entry) {
  std::string path(userDir);
  if (text::EndsWith(entry, "*")) {
    path += '\\';
    path += text::SliceAt(entry, 9, 2);
    path += text::SliceAt(entry, 1, 2);
    path += text::SliceAt(entry, 4, 2);
    path += text::SliceAt(entry, 7, 2);
  } else {
    path += "\\PRAX";
    path += text::SliceAt(entry, 9, 3);
  }
  path += ".PXT";
  return path;
}

}  // namespace

int LoadActivityLogs(RunContext& ctx, ActivityParserState& state, std::string_view userDir,
                     const FileList& fileList, db::Recordset& activityRs) {
  Status& status = *ctx.status;
  status.SetStatus("Updating history database from Activity System...");

  int16_t n = 0;
  TryStep([&] { n = num::RoundToInt16(static_cast<double>(fileList.empty() ? 0 : fileList.size() - 1)); });

  int parsed = 0;
  for (int i = 1; i <= n; ++i) {
    const std::string& entry = fileList[static_cast<std::size_t>(i)];

    // A day counts as loaded once the user's rows hold its date. A day whose
    // date cannot be formed or searched is left for a later run.
    bool load = false;
    TryStep([&] {
      ctx.SqlText = "Data_Date =" + std::to_string(EntryDateKey(entry));
      activityRs.FindFirst(ctx.SqlText);
      load = activityRs.NoMatch();
    });

    std::string path;
    if (load) TryStep([&] { path = ActivityLogPath(userDir, entry); });
    if (load && !LeftForLater(ctx, entry, path)) {
      state.ClearHourKeyCounts();
      ++parsed;
      try {
        TryStep([&] { ParseActivityLog(ctx, state, path, fileList, i, activityRs); });
        TryStep([&] { WriteDayErrorKeys(ctx, state, fileList, i, activityRs); });
      } catch (const Error& e) {
        throw e.WithContext("Activity log " + path);
      } catch (const std::bad_alloc&) {
        throw OutOfMemory("Activity log " + path);
      }
      // A day is stored whole or not at all. A commit that fails (a full
      // disk, say) ends the job rather than being passed over.
      ctx.Db->Commit();
    }

    status.SetFilePercent(num::ProgressPercent(i, n));
    status.Yield();
  }

  status.EndBusy();
  return parsed;
}

}  // namespace prax

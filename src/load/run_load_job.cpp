#include "load/run_load_job.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "load/load_activity_logs.h"
#include "logs/activity_day.h"
#include "load/load_alert_logs.h"
#include "platform/run_context.h"
#include "platform/status.h"
#include "load/create_history_database.h"
#include "logs/file_list.h"
#include "logs/user_dir.h"
#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

namespace {

// The History tables the file holds, by schema name and stored name. The
// rows a run added are the engine's count of what its transactions
// committed: counting every table of the file before and after would read
// millions of rows for a figure the job knows already.
std::vector<std::pair<std::string, std::string>> CountedTables(db::Database& db) {
  std::vector<std::pair<std::string, std::string>> tables;
  TryStep([&] {
    for (const db::TableDef& stored : db.TableDefs()) {
      for (const db::TableDef& table : HistorySchema()) {
        if (text::EqualsIgnoreCase(stored.name, table.name)) tables.emplace_back(table.name, stored.name);
      }
    }
  });
  return tables;
}

std::unique_ptr<db::Recordset> OpenUserRecordset(RunContext& ctx, std::string_view table, int32_t user) {
  ctx.SqlText = "SELECT * FROM " + std::string(table) + " WHERE " + std::string(table) + ".User_Num =" + num::SpacedNumberText(user);
  return ctx.Db->OpenRecordset(ctx.SqlText);
}

void CloseRecordset(std::unique_ptr<db::Recordset>& rs) {
  if (rs) rs->Close();
  rs.reset();
}

// The run log says when a reader kept the History file from returning to the
// rollback journal.
void ReportLeftInUse(RunContext& ctx) {
  const std::string& note = ctx.Db->LeftInUse();
  if (note.empty()) return;
  ctx.status->SetStatus(note);
  ctx.status->UpdateLog("  " + note);
}

void ShowUserProgress(RunContext& ctx, int32_t user) {
  ctx.status->SetUserPercent(num::ProgressPercent(user, ctx.UserSlotCount));
}

// Pass 1: every user's alert logs.
void AlertPass(RunContext& ctx, LoadSummary& summary, AlertParserState& state, int32_t userStart, int32_t userEnd) {
  Status& status = *ctx.status;
  db::Database& db = *ctx.Db;

  // Priming: tools and body parts tolerant, discomforts and notes strict.
  TryStep([&] { ctx.Tools.Prime(db); });
  TryStep([&] { ctx.BodyParts.Prime(db); });
  ctx.Discomforts.Prime(db);
  ctx.Notes.Prime(db);

  ctx.Tools.Open(db, &status);
  ctx.SqlText = "SELECT * FROM EMSSystemUsage";
  ctx.SystemUsageRs = db.OpenRecordset(ctx.SqlText);
  ctx.BodyParts.Open(db, &status);
  ctx.Discomforts.Open(db, &status);
  ctx.SqlText = "SELECT * FROM UserNotes";
  ctx.UserNotesRs = db.OpenRecordset(ctx.SqlText);
  ctx.Notes.Open(db, &status);

  for (int32_t u = userStart; u <= userEnd; ++u) {
    const std::string userText = num::SpacedNumberText(u);
    status.SetLoading("Pass 1, User" + userText + ":");
    status.UpdateLog("  Pass 1, User" + userText + ":");
    try {
      const std::string userDir = UserDirPath(ctx.NetworkDir, u);
      ctx.CurrentUser = u;
      const FileList fileList = BuildUserFileList(status, ctx.NetworkDir, userDir, "PXL");
      if (fileList.size() > 1) {
        std::unique_ptr<db::Recordset> alertRs = OpenUserRecordset(ctx, "AlertSystem", u);
        status.Yield();
        summary.alertDaysLoaded += LoadAlertLogs(ctx, state, userDir, fileList, *alertRs);
        CloseRecordset(alertRs);
      }
      ctx.Db->Commit();
    } catch (const Error& e) {
      throw e.WithContext("Loading alert logs of user" + userText);
    }
    ShowUserProgress(ctx, u);
  }

  ctx.Tools.Close();
  ctx.BodyParts.Close();
  ctx.Discomforts.Close();
  CloseRecordset(ctx.UserNotesRs);
  ctx.Notes.Close();
  CloseRecordset(ctx.SystemUsageRs);
}

// Pass 2: every user's activity logs.
void ActivityPass(RunContext& ctx, LoadSummary& summary, ActivityParserState& state, int32_t userStart,
                  int32_t userEnd) {
  Status& status = *ctx.status;
  db::Database& db = *ctx.Db;

  // Priming, tolerant throughout.
  TryStep([&] { ctx.Notes.Prime(db); });
  TryStep([&] { ctx.Apps.Prime(db); });
  TryStep([&] { ctx.Windows.Prime(db); });
  TryStep([&] { ctx.Projects.Prime(db); });
  TryStep([&] { ctx.Tasks.Prime(db); });

  ctx.Apps.Open(db, &status);
  ctx.Windows.Open(db, &status);
  ctx.Projects.Open(db, &status);
  ctx.Tasks.Open(db, &status);
  ctx.Notes.Open(db, &status);
  ctx.SqlText = "SELECT * FROM ProjectNotes";
  ctx.ProjectNotesRs = db.OpenRecordset(ctx.SqlText);

  for (int32_t u = userStart; u <= userEnd; ++u) {
    const std::string userText = num::SpacedNumberText(u);
    status.SetLoading("Pass 2, User" + userText + ":");
    try {
      const std::string userDir = UserDirPath(ctx.NetworkDir, u);
      ctx.CurrentUser = u;
      const FileList fileList = BuildUserFileList(status, ctx.NetworkDir, userDir, "PXT");
      if (fileList.size() > 1) {
        std::unique_ptr<db::Recordset> activityRs = OpenUserRecordset(ctx, "ActivitySystem", u);
        status.Yield();
        summary.activityDaysLoaded += LoadActivityLogs(ctx, state, userDir, fileList, *activityRs);
        CloseRecordset(activityRs);
      }
      ctx.Db->Commit();
    } catch (const Error& e) {
      throw e.WithContext("Loading activity logs of user" + userText);
    }
    ShowUserProgress(ctx, u);
    status.Yield();
  }

  ctx.Apps.Close();
  ctx.Windows.Close();
  ctx.Projects.Close();
  ctx.Notes.Close();
  CloseRecordset(ctx.ProjectNotesRs);
  ctx.Tasks.Close();
}

}  // namespace

LoadSummary RunLoadJob(RunContext& ctx, int16_t userStart, int16_t userEnd) {
  Status& status = *ctx.status;
  LoadSummary summary;
  status.SetRunning(true);

  // The parser states live for the whole job: what they carry goes from one
  // user to the next.
  auto alertState = std::make_unique<AlertParserState>();
  auto activityState = std::make_unique<ActivityParserState>();

  const std::filesystem::path dbFile = fs::RealPath(ctx.NetworkDir + "PRAXDATA.MDB");
  RemoveUnfinishedHistoryDatabase(ctx.NetworkDir);
  ctx.Db = db::Database::Open(dbFile, {db::Access::ReadWrite, db::Journal::WalWhereLocal});
  const auto countedTables = CountedTables(*ctx.Db);

  status.MarkPhase("Loading AlertSystems, Start");
  status.UpdateLog(" ");
  status.UpdateLog("Starting Job - " + dt::NowLongDate());

  try {
    AlertPass(ctx, summary, *alertState, userStart, userEnd);
    status.MarkPhase("Loading PXTs, Start");
    ActivityPass(ctx, summary, *activityState, userStart, userEnd);

    // Pass 3, tolerant throughout (as far as the data goes).
    status.MarkPhase("Loading error keys, Start");
    for (int32_t u = userStart; u <= userEnd; ++u) {
      status.SetLoading("Pass 3, User" + num::SpacedNumberText(u) + ":");
      ctx.CurrentUser = u;
      try {
        TryStep([&] { WriteUserErrorKeys(ctx, u); });
        TryStep([&] { ctx.Db->Commit(); });
      } catch (const Error& e) {
        throw e.WithContext("Loading error keys of user" + num::SpacedNumberText(u));
      }
    }
  } catch (const Error& e) {
    if (e.Environment()) {
      // The machine failed (a busy file, an I/O error, a full disk): the day
      // being loaded is undone, so it is not taken for loaded and the next
      // run loads it whole.
      try {
        ctx.Db->Rollback();
      } catch (const Error&) {
        // The file is out of reach; SQLite undoes the open transaction itself.
      }
    } else {
      // The job ends here; what was written so far stays.
      TryStep([&] { ctx.Db->Commit(); });
    }
    // The file is left at rest; the failure passed up is the one to report.
    try {
      ctx.Db->Close();
      ReportLeftInUse(ctx);
    } catch (const Error&) {
    }
    throw;
  }

  // A file replaced or removed under the run, or a last commit that failed,
  // ends the job: it did not store what it loaded.
  ctx.Db->Close();
  ReportLeftInUse(ctx);
  const std::map<std::string, int64_t> added = ctx.Db->RowsAdded();
  ctx.Db.reset();
  for (const auto& [table, stored] : countedTables) {
    const auto rows = added.find(stored);
    summary.rowsAdded[table] = rows == added.end() ? 0 : rows->second;
  }
  summary.usersProcessed = userEnd >= userStart ? int32_t{userEnd} - userStart + 1 : 0;
  status.MarkPhase("Done.");
  status.SetRunning(false);
  status.EndBusy();
  return summary;
}

}  // namespace prax

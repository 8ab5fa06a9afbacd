#pragma once
// A fresh History database with every list and note table open and user 5's
// AlertSystem and ActivitySystem rows as record sets; logs are written into
// user 5's folder. Shared by the alert and activity tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "logs/activity_day.h"
#include "load/load_alert_logs.h"
#include "logs/alert_day.h"
#include "platform/run_context.h"
#include "platform/status.h"
#include "load/create_history_database.h"
#include "platform/error.h"
#include "support/temp_dir.h"

namespace praxtest {

// Records the run log and each new file-progress caption.
struct RecordingStatus : prax::Status {
  std::vector<std::string> log, captions;
  std::string shown = "0%";
  void OnLog(std::string_view line) override { log.emplace_back(line); }
  void OnChanged() override {
    if (FileCaption() != shown) captions.push_back(shown = FileCaption());
  }
};

// Counts of one alert log parsed without a database (row steps fail quietly).
inline prax::AlertCounts CountsOf(std::string bytes, prax::AlertParserState* state = nullptr) {
  prax::RunContext ctx;
  prax::AlertParserState local;
  prax::AlertCounts counts;
  prax::ParseAlertBytes(ctx, state ? *state : local, counts, std::move(bytes), "02-06-1520*");
  return counts;
}

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
    prax::CreateHistoryDatabase(ctx);
    ctx.Db = prax::db::Database::Open(dir.Path() / "PRAXDATA.MDB");
    for (prax::LookupList* list : {&ctx.Tools, &ctx.BodyParts, &ctx.Discomforts, &ctx.Notes, &ctx.Apps, &ctx.Windows,
                                   &ctx.Projects, &ctx.Tasks}) {
      list->Prime(*ctx.Db);
      list->Open(*ctx.Db, &status);
    }
    ctx.SystemUsageRs = ctx.Db->OpenRecordset("SELECT * FROM EMSSystemUsage");
    ctx.UserNotesRs = ctx.Db->OpenRecordset("SELECT * FROM UserNotes");
    ctx.ProjectNotesRs = ctx.Db->OpenRecordset("SELECT * FROM ProjectNotes");
    ctx.CurrentUser = 5;
    alertRs = ctx.Db->OpenRecordset("SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5");
    activityRs = ctx.Db->OpenRecordset("SELECT * FROM ActivitySystem WHERE ActivitySystem.User_Num = 5");
  }

  std::string UserDir() const { return dir.Text() + "PX000005.DIR"; }
  // Writes the alert log of 15 June 2002 and parses it into `counts`.
  prax::AlertLogOutcome ParseAlert(std::string_view bytes) {
    dir.Write("PX000005.DIR/20020615.PXL", bytes);
    counts.Clear();
    return prax::ParseAlertLog(ctx, alertState, counts, UserDir() + "\\20020615.PXL", "02-06-1520*");
  }
  // Writes the activity log of 15 June 2002 and parses it as position 1.
  void ParseActivity(std::string_view bytes) {
    dir.Write("PX000005.DIR/20020615.PXT", bytes);
    act->ClearHourKeyCounts();
    prax::ParseActivityLog(ctx, *act, UserDir() + "\\20020615.PXT", files, 1, *activityRs);
  }
  int32_t Hour(int slot, int key) const {
    return act->HourKeyCounts[static_cast<std::size_t>(slot)][static_cast<std::size_t>(key)];
  }
  // What the sqlite3 reader prints, after a commit.
  std::string Query(std::string_view sql) {
    ctx.Db->Commit();
    return Sqlite3(dir.Path() / "PRAXDATA.MDB", sql);
  }
  std::string Rows(std::string_view table) { return Query("SELECT * FROM " + std::string(table) + " ORDER BY rowid;"); }
  // The rows with the text columns quoted (Null and blanks show).
  std::string UsageRows() {
    return Query("SELECT User_Num, quote(Data_Date), quote(Data_Hour), Tool_Id FROM EMSSystemUsage ORDER BY rowid;");
  }
  std::string NoteRows(std::string_view table = "UserNotes") {
    return Query("SELECT User_Num, Data_Date, quote(Data_Hour), quote(Data_Minute), " +
                 std::string(table == "UserNotes" ? "BodyPart_Id, Discomfort_Id" : "Project_Id, Task_Id") +
                 ", quote(Note_Id) FROM " + std::string(table) + " ORDER BY rowid;");
  }

  TempDir dir;
  RecordingStatus status;
  prax::RunContext ctx;
  prax::FileList files{"", "02-06-1520*"};
  prax::AlertParserState alertState;
  prax::AlertCounts counts;
  std::unique_ptr<prax::ActivityParserState> act = std::make_unique<prax::ActivityParserState>();
  std::unique_ptr<prax::db::Recordset> alertRs, activityRs;
};

}  // namespace praxtest

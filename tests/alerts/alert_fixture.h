#pragma once
// A fresh History database with the alert pass's lists and note tables open,
// user 5's AlertSystem rows as the record set, and helpers that parse a log
// written into user 5's folder.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "alerts/load_alert_logs.h"
#include "alerts/parse_alert_log.h"
#include "app/run_context.h"
#include "app/status.h"
#include "db/create_history_database.h"
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

// Counts of one log parsed without a database (row steps fail quietly).
inline prax::AlertCounts CountsOf(std::string bytes, prax::AlertParserState* state = nullptr) {
  prax::RunContext ctx;
  prax::AlertParserState local;
  prax::AlertCounts counts;
  prax::ParseAlertBytes(ctx, state ? *state : local, counts, std::move(bytes), "02-06-1520*");
  return counts;
}

class AlertDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
    prax::CreateHistoryDatabase(ctx);
    ctx.Db = prax::db::Database::Open(dir.Path() / "PRAXDATA.MDB");
    for (prax::LookupList* list : {&ctx.Tools, &ctx.BodyParts, &ctx.Discomforts, &ctx.Notes}) {
      list->Prime(*ctx.Db);
      list->Open(*ctx.Db, &status);
    }
    ctx.SystemUsageRs = ctx.Db->OpenRecordset("SELECT * FROM EMSSystemUsage");
    ctx.UserNotesRs = ctx.Db->OpenRecordset("SELECT * FROM UserNotes");
    ctx.CurrentUser = 5;
    alertRs = ctx.Db->OpenRecordset("SELECT * FROM AlertSystem WHERE AlertSystem.User_Num = 5");
  }

  std::string UserDir() const { return dir.Text() + "PX000005.DIR"; }

  // Writes the log of 15 June 2002 and parses it into `counts`.
  prax::AlertLogOutcome Parse(std::string_view bytes) {
    dir.Write("PX000005.DIR/20020615.PXL", bytes);
    counts.Clear();
    return prax::ParseAlertLog(ctx, state, counts, UserDir() + "\\20020615.PXL", "02-06-1520*");
  }

  std::string Query(std::string_view sql) {
    ctx.Db->Commit();
    return Sqlite3(dir.Path() / "PRAXDATA.MDB", sql);
  }
  std::string UsageRows() {
    return Query("SELECT User_Num, quote(Data_Date), quote(Data_Hour), Tool_Id FROM EMSSystemUsage ORDER BY rowid;");
  }
  std::string NoteRows() {
    return Query("SELECT User_Num, Data_Date, quote(Data_Hour), quote(Data_Minute), BodyPart_Id, Discomfort_Id, "
                 "quote(Note_Id) FROM UserNotes ORDER BY rowid;");
  }
  std::string ListRows(std::string_view table) {
    return Query("SELECT * FROM " + std::string(table) + " ORDER BY 1;");
  }

  TempDir dir;
  RecordingStatus status;
  prax::RunContext ctx;
  prax::AlertParserState state;
  prax::AlertCounts counts;
  std::unique_ptr<prax::db::Recordset> alertRs;
};

}  // namespace praxtest

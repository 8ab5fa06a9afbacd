#pragma once
// A fresh History database with the activity pass's lists and ProjectNotes
// open and user 5's ActivitySystem rows as the record set.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "activity/parse_activity_log.h"
#include "app/run_context.h"
#include "app/status.h"
#include "db/create_history_database.h"
#include "support/temp_dir.h"

namespace praxtest {

class LogStatus : public prax::Status {
 public:
  std::vector<std::string> log, captions;

 protected:
  void OnLog(std::string_view line) override { log.emplace_back(line); }
  void OnChanged() override { captions.push_back(FileCaption()); }
};

class ActivityDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
    prax::CreateHistoryDatabase(ctx);
    ctx.Db = prax::db::Database::Open(dir.Path() / "PRAXDATA.MDB");
    for (prax::LookupList* list : {&ctx.Apps, &ctx.Windows, &ctx.Projects, &ctx.Tasks, &ctx.Notes}) {
      list->Prime(*ctx.Db);
      list->Open(*ctx.Db, &status);
    }
    ctx.ProjectNotesRs = ctx.Db->OpenRecordset("SELECT * FROM ProjectNotes");
    ctx.CurrentUser = 5;
    activityRs = ctx.Db->OpenRecordset("SELECT * FROM ActivitySystem WHERE ActivitySystem.User_Num = 5");
  }

  std::string UserDir() const { return dir.Text() + "PX000005.DIR"; }
  int32_t Hour(int slot, int key) const {
    return state->HourKeyCounts[static_cast<std::size_t>(slot)][static_cast<std::size_t>(key)];
  }

  // Writes the log of 15 June 2002 and parses it as position 1.
  void Parse(std::string_view bytes) {
    dir.Write("PX000005.DIR/20020615.PXT", bytes);
    state->ClearHourKeyCounts();
    prax::ParseActivityLog(ctx, *state, UserDir() + "\\20020615.PXT", files, 1, *activityRs);
  }

  // What the sqlite3 reader prints, after a commit.
  std::string Query(std::string_view sql) {
    ctx.Db->Commit();
    return Sqlite3(dir.Path() / "PRAXDATA.MDB", sql);
  }
  std::string ActivityRows() {
    return Query("SELECT User_Num, Data_Date, Data_Hour, App_Id, Window_Id, Proj_Id, Task_Id, Key_Num, Key_Count "
                 "FROM ActivitySystem;");
  }
  std::string NoteRows() {
    return Query("SELECT User_Num, Data_Date, quote(Data_Hour), quote(Data_Minute), Project_Id, Task_Id, Note_Id "
                 "FROM ProjectNotes;");
  }

  TempDir dir;
  LogStatus status;
  prax::RunContext ctx;
  std::unique_ptr<prax::db::Recordset> activityRs;
  std::unique_ptr<prax::ActivityParserState> state = std::make_unique<prax::ActivityParserState>();
  prax::FileList files{"", "02-06-1520*"};
};

}  // namespace praxtest

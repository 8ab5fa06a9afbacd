#pragma once
// A fresh History database, its store and both passes' lists open as a job opens them, loading for user 5; logs are
// written into user 5's folder and loaded as a pass loads them. Rows are read back with the sqlite3 program.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "load/history_location.h"
#include "load/load_activity_logs.h"
#include "load/load_alert_logs.h"
#include "load/load_context.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "support/recording_status.h"
#include "support/temp_dir.h"

namespace praxtest {


class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.NetworkDir = dir.Text();
    prax::CreateHistoryDatabase(run, status);
    store = prax::store::OpenSqliteHistory(dir.Path() / "PRAXDATA.MDB");
    load = std::make_unique<prax::LoadContext>(run, status, *store);
    load->user = 5;
    load->OpenPassLists(prax::LogKind::kAlert);
    load->OpenPassLists(prax::LogKind::kActivity);
  }

  std::string UserDir() const { return dir.Text() + "PX000005.DIR"; }
  // Parses one day's log and stores it as 15 June 2002.
  void StoreAlert(std::string_view bytes) {
    prax::StoreAlertDay(*load, 20020615, prax::ParseAlertDay(bytes, load->alertCarry));
  }
  void StoreActivity(std::string_view bytes) {
    load->ids.window = load->ids.project = load->ids.task = -1;
    prax::StoreActivityDay(*load, 20020615,
                           prax::ParseActivityDay(bytes, {run.AppsNoPresent, run.KeysMax}, load->activityCarry));
  }
  // The pass's writing side over user 5's days of `files`, read on the spot.
  int Load(prax::LogKind kind, const prax::FileList& files) {
    status.captions.clear();
    prax::DayReader reader(*load, kind);
    const prax::PreparedUser user{5, UserDir(), files, {}, nullptr};
    std::size_t i = 0;
    const auto next = [&] { return reader.Day(user, i++); };
    const std::size_t days = prax::DaysToLoad(kind, files);
    return kind == prax::LogKind::kAlert ? prax::StoreAlertDays(*load, days, next, nullptr)
                                         : prax::StoreActivityDays(*load, days, next, nullptr);
  }
  // What the sqlite3 reader prints, after a commit.
  std::string Query(std::string_view sql) {
    store->Commit();
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
  prax::RunContext run;
  std::unique_ptr<prax::store::HistoryStore> store;
  std::unique_ptr<prax::LoadContext> load;
};

}  // namespace praxtest

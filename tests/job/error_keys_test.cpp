// The error-keys step on hand-made AlertSystem and ActivitySystem rows.

#include <gtest/gtest.h>

#include "app/run_context.h"
#include "app/status.h"
#include "db/create_history_database.h"
#include "db/engine.h"
#include "job/run_load_job.h"
#include "support/temp_dir.h"

namespace {

class ErrorKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.NetworkDir = dir.Text();
    ctx.status = &status;
    prax::CreateHistoryDatabase(ctx);
    ctx.Db = prax::db::Database::Open(dir.Path() / "PRAXDATA.MDB");
  }

  void Add(const char* table, std::initializer_list<std::pair<const char*, prax::db::Value>> fields) {
    auto rs = ctx.Db->OpenRecordset(std::string("SELECT * FROM ") + table);
    rs->AddNew();
    for (const auto& [name, value] : fields) rs->Set(name, value);
    rs->Update();
  }
  void Alert(int user, int date, const char* hour, int errorKeys) {
    Add("AlertSystem", {{"User_Num", user}, {"Data_Date", date}, {"Data_Hour", hour}, {"Error_Keys", errorKeys}});
  }
  void Activity(int user, int date, const char* hour, int app, int key, int count) {
    Add("ActivitySystem", {{"User_Num", user}, {"Data_Date", date}, {"Data_Hour", hour}, {"App_Id", app},
                           {"Key_Num", key}, {"Key_Count", count}});
  }
  std::string ErrorKeys() {
    ctx.Db->Commit();
    return praxtest::Sqlite3(dir.Path() / "PRAXDATA.MDB",
                             "SELECT User_Num, Data_Date, Data_Hour, Error_Keys FROM AlertSystem ORDER BY rowid;");
  }

  praxtest::TempDir dir;
  prax::Status status;
  prax::RunContext ctx;
};

TEST_F(ErrorKeysTest, FreshSumOfBothKeysFromTheWholeApplicationRows) {
  Alert(5, 20011231, "00", 0);
  Alert(5, 20011231, "10", 99);  // a stale value is replaced
  Alert(5, 20011231, "11", 0);   // key 46 only
  Alert(5, 20011231, "12", 4);   // no activity: kept
  Alert(5, 20011231, "13", 3);   // a sum beyond the column: kept
  Alert(5, 20011231, "10", 0);   // a second row of the hour: only the first is matched
  Alert(6, 20011231, "10", 0);   // another user
  Activity(5, 20011231, "00", -1, 8, 5);
  Activity(5, 20011231, "00", -1, 46, 3);
  Activity(5, 20011231, "10", -1, 8, 5);
  Activity(5, 20011231, "10", -1, 46, 2);
  Activity(5, 20011231, "10", 3, 8, 50);   // a per-line row
  Activity(5, 20011231, "10", -1, 65, 9);  // another key
  Activity(5, 20011231, "11", -1, 46, 1);
  Activity(5, 20011231, "13", -1, 8, 30000);
  Activity(5, 20011231, "13", -1, 46, 30000);
  Activity(5, 20020101, "10", -1, 8, 4);  // a date without alert rows
  Activity(6, 20011231, "10", 3, 8, 1);
  const std::string expected =
      "5|20011231|00|8\n5|20011231|10|7\n5|20011231|11|1\n5|20011231|12|4\n5|20011231|13|3\n"
      "5|20011231|10|0\n6|20011231|10|0\n";
  for (int run = 0; run < 2; ++run) {  // a second run changes nothing
    prax::WriteUserErrorKeys(ctx, 5);
    prax::WriteUserErrorKeys(ctx, 6);  // no whole-application rows
    EXPECT_EQ(ErrorKeys(), expected);
  }
  ctx.Db->Close();
  EXPECT_NO_THROW(prax::WriteUserErrorKeys(ctx, 5));
  ctx.Db.reset();
  EXPECT_NO_THROW(prax::WriteUserErrorKeys(ctx, 5));
}

}  // namespace

#pragma once
// Shared pieces of the database engine tests: a temporary History database
// and row adding.

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "load/create_history_database.h"
#include "store/engine.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace dbtest {

using praxtest::Raised;
inline int ErrorOf(const std::function<void()>& step) { return Raised(step).Number(); }

using Fields = std::initializer_list<std::pair<const char*, prax::db::Value>>;
// Adds one row through the record set.
inline prax::Error Add(prax::db::Recordset& rs, Fields fields) {
  return Raised([&] {
    rs.AddNew();
    for (const auto& [name, value] : fields) rs.Set(name, value);
    rs.Update();
  });
}

// A History database with all its tables in a temporary folder.
class HistoryDb : public ::testing::Test {
 protected:
  void SetUp() override {
    db = prax::db::Database::Create(file);
    for (const auto& t : prax::HistorySchema()) db->AppendTable(t);
  }
  int64_t Count(const std::string& table) {
    int64_t n = 0;
    for (auto rs = db->OpenRecordset("SELECT * FROM " + table); !rs->Eof(); rs->MoveNext()) ++n;
    return n;
  }

  praxtest::TempDir dir;
  std::filesystem::path file = dir.Path() / "PRAXDATA.MDB";
  std::unique_ptr<prax::db::Database> db;
};

}  // namespace dbtest

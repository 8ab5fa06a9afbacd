#pragma once
// Shared pieces of the database engine tests: a temporary History database
// and helpers that check an engine error's number.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "db/create_history_database.h"
#include "db/engine.h"
#include "platform/error.h"
#include "support/temp_dir.h"

namespace dbtest {

// The error number a step raises, or 0 when it succeeds.
inline int ErrorOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const prax::Error& e) {
    return e.Number();
  }
  return 0;
}

inline std::string MessageOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const prax::Error& e) {
    return e.what();
  }
  return {};
}

// A History database with its 13 tables in a temporary folder.
class HistoryDb : public ::testing::Test {
 protected:
  void SetUp() override {
    file = dir.Path() / "PRAXDATA.MDB";
    db = prax::db::Database::Create(file);
    for (const auto& t : prax::HistorySchema()) db->AppendTable(t);
  }
  void Reopen() {
    db->Close();
    db = prax::db::Database::Open(file);
  }

  praxtest::TempDir dir;
  std::filesystem::path file;
  std::unique_ptr<prax::db::Database> db;
};

}  // namespace dbtest

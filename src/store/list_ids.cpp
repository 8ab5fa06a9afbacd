#include "store/list_ids.h"

#include <string>

#include "platform/status.h"
#include "platform/error.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

namespace {

int16_t ToId(const db::Value& v, const LookupSpec& columns) {
  const int64_t id = v.AsInt();
  if (id < INT16_MIN || id > INT16_MAX) {
    throw Error(err::kOverflow, "Overflow: " + std::string(columns.table) + " holds the id " + std::to_string(id) +
                                    ", outside the range -32768 to 32767");
  }
  return static_cast<int16_t>(id);
}

}  // namespace

void LookupList::Prime(db::Database& db) {
  max_ = 0;
  version_ = db.DataVersion();
  std::string sql = "SELECT MAX(";
  sql += columns_.idColumn;
  sql += ") AS ";
  sql += columns_.maxAlias;
  sql += " FROM ";
  sql += columns_.table;
  auto rs = db.OpenRecordset(sql);
  const db::Value v = rs->Get(columns_.maxAlias);
  if (!v.IsNull()) max_ = num::RoundToInt16(static_cast<double>(v.AsInt()));
  rs->Close();
}

void LookupList::Open(db::Database& db, Status* status) {
  std::string sql = "SELECT * FROM ";
  sql += columns_.table;
  known_.clear();
  rs_ = db.OpenRecordset(sql);
  db_ = &db;
  status_ = status;
}

void LookupList::Reload() {
  Prime(*db_);
  auto old = std::move(rs_);
  old->Close();
  Open(*db_, status_);
}

int16_t LookupList::Get(std::string_view name) {
  if (!rs_) {
    throw Error(err::kOtherEngineError,
                "The list " + std::string(columns_.table) + " is not open; it is opened at the start of each pass");
  }
  const std::string_view trimmed = text::Trim(name);
  if (trimmed.empty()) {
    // No list row can hold an empty name; refuse before an id is spent on it.
    throw Error(err::kZeroLengthString, "Field '" + std::string(columns_.table) + "." + std::string(columns_.nameColumn) +
                                            "' cannot be a zero-length string");
  }

  key_ = text::FoldCase1252(trimmed);
  if (const auto known = known_.find(key_); known != known_.end()) {
    if (status_ != nullptr) status_->Yield();
    return known->second;
  }

  std::string criteria;
  criteria.reserve(columns_.nameColumn.size() + trimmed.size() + 5);
  criteria += columns_.nameColumn;
  criteria += " = '";
  criteria += trimmed;
  criteria += '\'';
  rs_->FindFirst(criteria);
  if (rs_->NoMatch() && db_ != nullptr) {
    // With the write lock held nobody else can commit; a changed data version
    // says somebody did since the list was read.
    db_->BeginWrite();
    if (db_->DataVersion() != version_) {
      Reload();
      rs_->FindFirst(criteria);
    }
  }

  int16_t id;
  if (rs_->NoMatch()) {
    if (max_ == INT16_MAX) {
      throw Error(err::kOverflow, "Overflow: the list " + std::string(columns_.table) + " already holds id 32767");
    }
    id = ++max_;  // spent even when the row below is refused
    try {
      rs_->AddNew();
      rs_->Set(columns_.idColumn, db::Value(int{id}));
      rs_->Set(columns_.nameColumn, db::Value(std::string(trimmed)));
      rs_->Update();
    } catch (const Error&) {
      TryStep([&] { rs_->CancelUpdate(); });
      throw;
    }
  } else {
    id = ToId(rs_->Get(columns_.idColumn), columns_);
  }
  known_.emplace(key_, id);
  if (status_ != nullptr) status_->Yield();
  return id;
}

void LookupList::Close() {
  auto rs = std::move(rs_);
  status_ = nullptr;
  db_ = nullptr;
  known_.clear();
  if (rs) rs->Close();
}

}  // namespace prax

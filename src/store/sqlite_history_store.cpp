#include <sqlite3.h>

#include "store/sqlite_file.h"
#include "store/history_store.h"

namespace prax::store {

namespace {

using db::Value;

// A writer of every column of a History table.
db::TableWriter Writer(db::SqliteFile& file, const db::TableDef& table) {
  std::vector<std::string> columns;
  for (const auto& f : table.fields) columns.push_back(f.name);
  return db::TableWriter(file, table.name, std::move(columns));
}

template <class T>
std::optional<T> Read(sqlite3_stmt* st, int col);
template <>
std::optional<int64_t> Read(sqlite3_stmt* st, int col) {
  const Value v = db::ReadValue(st, col);
  return v.IsNull() ? std::nullopt : std::optional<int64_t>(v.AsInt());
}
template <>
std::optional<std::string> Read(sqlite3_stmt* st, int col) {
  const Value v = db::ReadValue(st, col);
  return v.IsNull() ? std::nullopt : std::optional<std::string>(v.AsText());
}

constexpr int kErrorKeysColumn = 3 + kAlertCountColumns;

}  // namespace

// Beside the tables, an index per user and date on the two tables a day's
// load is known by makes "is this day loaded" one probe.
bool AddLoadAids(db::SqliteFile& file, bool indexes) {
  const auto alerts = file.FindTable("AlertSystem"), activity = file.FindTable("ActivitySystem");
  if (!alerts || !activity) return true;
  const bool tracked = file.FindTable(kPendingTable) != nullptr;
  file.BeginWrite();
  if (indexes) {
    file.Exec("CREATE INDEX IF NOT EXISTS \"AlertSystem_Day_Ix\" ON " + alerts->quoted + " (User_Num, Data_Date)");
    file.Exec("CREATE INDEX IF NOT EXISTS \"ActivitySystem_Day_Ix\" ON " + activity->quoted +
              " (User_Num, Data_Date)");
  }
  file.Exec("CREATE TABLE IF NOT EXISTS " + std::string(kPendingTable) +
            " (User_Num INTEGER NOT NULL, Data_Date INTEGER NOT NULL, PRIMARY KEY (User_Num, Data_Date))");
  file.Commit();
  file.SchemaChanged();
  return tracked;
}

namespace {

class SqliteHistoryStore : public HistoryStore {
 public:
  // readOnly: only read, the load's aids neither added nor kept.
  explicit SqliteHistoryStore(std::unique_ptr<db::SqliteFile> db, bool readOnly = false)
      : db_(std::move(db)), file_(*db_), readOnly_(readOnly) {
    writers_.reserve(kRowKindCount);
    for (int k = 0; k < kRowKindCount; ++k) writers_.push_back(Writer(file_, RowTable(static_cast<RowKind>(k))));
    for (int l = 0; l < kHistoryListCount; ++l) {
      const db::TableDef& t = ListTableDef(static_cast<HistoryList>(l));
      lists_.push_back(std::make_unique<db::SqliteListTable>(file_, t.name, t.fields[0].name, t.fields[1].name));
    }
    // A file with no day loaded yet (a fresh database) gets the day indexes
    // when the load closes it: built once over its rows, they cost less than
    // kept up row by row, and its own days need no probe.
    const bool empty = Empty();
    untracked_ = readOnly_ ? file_.FindTable(kPendingTable) == nullptr : !AddLoadAids(file_, !empty);
    // A run on a loaded file writes a few days and probes many: a small page
    // cache keeps its memory the same however long the history grows.
    if (!empty) file_.Exec("PRAGMA cache_size = -2048");
  }

  bool DayLoaded(DayTable table, int32_t user, int32_t date) override {
    const auto info = file_.Table(table == DayTable::kAlerts ? "AlertSystem" : "ActivitySystem");
    sqlite3_stmt* st =
        file_.Prepare("SELECT 1 FROM " + info->quoted + " WHERE User_Num = ?1 AND Data_Date = ?2 LIMIT 1");
    sqlite3_bind_int64(st, 1, user);
    sqlite3_bind_int64(st, 2, date);
    bool found = false;
    db::ForEachRow(file_, st, [&](sqlite3_stmt*) { found = true; });
    return found;
  }

  std::vector<int32_t> LoadedDates(DayTable table, int32_t user, int32_t first, int32_t last) override {
    const auto info = file_.Table(table == DayTable::kAlerts ? "AlertSystem" : "ActivitySystem");
    // Each step seeks the next date in the day index: one probe per date
    // loaded, never a walk over a day's rows.
    const auto next = [&](const char* after) {
      return "(SELECT Data_Date FROM " + info->quoted + " WHERE User_Num = ?1 AND Data_Date " + after +
             " ORDER BY Data_Date LIMIT 1)";
    };
    sqlite3_stmt* st = file_.Prepare("WITH RECURSIVE loaded(d) AS (SELECT " + next(">= ?2") + " UNION ALL SELECT " +
                                     next("> d") + " FROM loaded WHERE d < ?3) SELECT d FROM loaded WHERE d <= ?3");
    sqlite3_bind_int64(st, 1, user);
    sqlite3_bind_int64(st, 2, first);
    sqlite3_bind_int64(st, 3, last);
    std::vector<int32_t> dates;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) { dates.push_back(sqlite3_column_int(r, 0)); });
    return dates;
  }

  // Both walk the users through the day index (each next user one probe),
  // then read each user's dates from it, so neither scans the table.
  std::map<int32_t, int64_t> DaysPerDate(DayTable table, int32_t from, int32_t to) override {
    sqlite3_stmt* st = file_.Prepare(UsersOf(table) + "SELECT d, COUNT(*) FROM (SELECT DISTINCT u.n, t.Data_Date AS d FROM u "
                                     "JOIN " + DayTableOf(table) + " AS t ON t.User_Num = u.n AND t.Data_Date BETWEEN "
                                     "?1 AND ?2) GROUP BY d");
    sqlite3_bind_int64(st, 1, from);
    sqlite3_bind_int64(st, 2, to);
    std::map<int32_t, int64_t> days;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) { days[sqlite3_column_int(r, 0)] = sqlite3_column_int64(r, 1); });
    return days;
  }

  std::map<int32_t, int32_t> NewestDays(DayTable table) override {
    sqlite3_stmt* st = file_.Prepare(UsersOf(table) + "SELECT n, (SELECT MAX(Data_Date) FROM " + DayTableOf(table) +
                                     " WHERE User_Num = u.n) FROM u WHERE n IS NOT NULL");
    std::map<int32_t, int32_t> newest;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) {
      if (sqlite3_column_type(r, 1) != SQLITE_NULL) newest[sqlite3_column_int(r, 0)] = sqlite3_column_int(r, 1);
    });
    return newest;
  }

  ListTable& List(HistoryList list) override { return *lists_.at(static_cast<size_t>(list)); }

  void Append(TableRow row) override { writers_[static_cast<size_t>(row.kind)].Append(row.values); }

  std::vector<StoredKeyCount> WholeApplicationKeyCounts(int32_t user, std::optional<int32_t> date) override {
    const auto info = file_.Table("ActivitySystem");
    sqlite3_stmt* st = file_.Prepare("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM " + info->quoted +
                                     " WHERE User_Num = ?1 AND App_Id = -1" +
                                     (date ? " AND Data_Date = ?2" : "") + " ORDER BY rowid");
    sqlite3_bind_int64(st, 1, user);
    if (date) sqlite3_bind_int64(st, 2, *date);
    std::vector<StoredKeyCount> rows;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) {
      rows.push_back(StoredKeyCount{Read<int64_t>(r, 0), Read<std::string>(r, 1), Read<int64_t>(r, 2),
                                    Read<int64_t>(r, 3)});
    });
    return rows;
  }

  std::vector<StoredAlertHour> AlertHours(int32_t user, std::optional<int32_t> date) override {
    const auto info = file_.Table("AlertSystem");
    sqlite3_stmt* st = file_.Prepare("SELECT rowid, Data_Date, Data_Hour, Error_Keys FROM " + info->quoted +
                                     " WHERE User_Num = ?1" + (date ? " AND Data_Date = ?2" : "") +
                                     " ORDER BY rowid");
    sqlite3_bind_int64(st, 1, user);
    if (date) sqlite3_bind_int64(st, 2, *date);
    std::vector<StoredAlertHour> rows;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) {
      rows.push_back(StoredAlertHour{sqlite3_column_int64(r, 0), Read<int64_t>(r, 1), Read<std::string>(r, 2),
                                     Read<int64_t>(r, 3)});
    });
    return rows;
  }

  void MarkErrorKeysPending(int32_t user, int32_t date) override {
    sqlite3_stmt* st = file_.Prepare("INSERT OR IGNORE INTO " + std::string(kPendingTable) + " VALUES (?1, ?2)");
    sqlite3_bind_int64(st, 1, user);
    sqlite3_bind_int64(st, 2, date);
    file_.BeginWrite();
    db::TableWriter::RunWrite(file_, st);
  }

  std::vector<int32_t> ErrorKeysPending(int32_t user) override {
    sqlite3_stmt* st = file_.Prepare("SELECT Data_Date FROM " + std::string(kPendingTable) +
                                     " WHERE User_Num = ?1 ORDER BY Data_Date");
    sqlite3_bind_int64(st, 1, user);
    std::vector<int32_t> dates;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) { dates.push_back(sqlite3_column_int(r, 0)); });
    return dates;
  }

  void ClearErrorKeysPending(int32_t user, std::optional<int32_t> date) override {
    sqlite3_stmt* st = file_.Prepare("DELETE FROM " + std::string(kPendingTable) + " WHERE User_Num = ?1" +
                                     (date ? " AND Data_Date = ?2" : ""));
    sqlite3_bind_int64(st, 1, user);
    if (date) sqlite3_bind_int64(st, 2, *date);
    file_.BeginWrite();
    db::TableWriter::RunWrite(file_, st);
  }

  bool ErrorKeysUntracked() const override { return untracked_; }

  std::string DayTableOf(DayTable table) {
    return file_.Table(table == DayTable::kAlerts ? "AlertSystem" : "ActivitySystem")->quoted;
  }
  // "WITH RECURSIVE u(n)": the users of the table, in order.
  std::string UsersOf(DayTable table) {
    const std::string t = DayTableOf(table);
    return "WITH RECURSIVE u(n) AS (SELECT MIN(User_Num) FROM " + t + " UNION ALL SELECT (SELECT MIN(User_Num) FROM " +
           t + " WHERE User_Num > u.n) FROM u WHERE u.n IS NOT NULL) ";
  }

  // Whether neither day table holds a row.
  bool Empty() {
    for (const char* table : {"AlertSystem", "ActivitySystem"}) {
      const auto info = file_.FindTable(table);
      if (!info) continue;
      bool any = false;
      db::ForEachRow(file_, file_.Prepare("SELECT 1 FROM " + info->quoted + " LIMIT 1"),
                     [&](sqlite3_stmt*) { any = true; });
      if (any) return false;
    }
    return true;
  }

  void SetErrorKeys(RowId row, int64_t errorKeys) override {
    writers_[static_cast<size_t>(RowKind::kAlertHour)].Check({{kErrorKeysColumn, Value(errorKeys)}});
    // The table was found by the check before; SQL names are matched
    // whatever their letter case.
    sqlite3_stmt* st = file_.Prepare("UPDATE AlertSystem SET Error_Keys = ?1 WHERE rowid = ?2");
    sqlite3_bind_int64(st, 1, errorKeys);
    sqlite3_bind_int64(st, 2, row);
    db::TableWriter::RunWrite(file_, st);
  }

  void Commit() override { db_->Commit(); }
  void Rollback() override { db_->Rollback(); }
  void Close() override {
    if (file_.IsOpen() && !readOnly_) AddLoadAids(file_, true);
    db_->Close();
  }
  const std::string& LeftInUse() const override { return db_->LeftInUse(); }

  std::map<std::string, int64_t> RowsAdded() const override { return EveryHistoryTable(db_->RowsAdded()); }

 private:
  std::unique_ptr<db::SqliteFile> db_;
  db::SqliteFile& file_;
  bool readOnly_ = false;
  bool untracked_ = false;
  std::vector<db::TableWriter> writers_;  // by RowKind
  std::vector<std::unique_ptr<db::SqliteListTable>> lists_;
};

}  // namespace

std::unique_ptr<HistoryStore> OpenSqliteHistory(const std::filesystem::path& file, db::Journal journal) {
  return std::make_unique<SqliteHistoryStore>(db::SqliteFile::Open(file, db::OpenOptions{db::Access::ReadWrite, journal}),
                                              false);
}

std::unique_ptr<HistoryStore> OpenSqliteHistoryToRead(const std::filesystem::path& file) {
  return std::make_unique<SqliteHistoryStore>(db::SqliteFile::Open(file, db::OpenOptions{db::Access::ReadOnly}),
                                              /*readOnly=*/true);
}

}  // namespace prax::store

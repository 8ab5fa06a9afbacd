#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

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

// The tables a day's load is known by, by DayTable.
constexpr RowKind kDayKinds[] = {RowKind::kAlertHour, RowKind::kActivity};

// Creates what is missing of the indexes the day tables have while a load
// reads them: their schema indexes (which a fresh load builds last) and an
// index per user and date, which makes "is this day loaded" one probe. The
// checks on their numbers a fresh load wrote without are put back first,
// proven against every row when `proveChecks` (another program may have
// written since they went).
void AddDayIndexes(db::SqliteFile& file, bool proveChecks) {
  for (const RowKind kind : kDayKinds) file.SetNumberChecks(RowTable(kind), true, proveChecks);
  for (const RowKind kind : kDayKinds) {
    const db::TableDef& def = RowTable(kind);
    for (const auto& ix : def.indexes) file.Exec(db::CreateIndexSql(def, ix, true));
  }
  for (const RowKind kind : kDayKinds) {
    const std::string& name = RowTable(kind).name;
    file.Exec("CREATE INDEX IF NOT EXISTS \"" + name + "_Day_Ix\" ON " + file.Table(name)->quoted +
              " (User_Num, Data_Date)");
  }
  file.SchemaChanged();
}

}  // namespace

bool AddLoadAids(db::SqliteFile& file, bool indexes, bool proveChecks) {
  const auto alerts = file.FindTable("AlertSystem"), activity = file.FindTable("ActivitySystem");
  if (!alerts || !activity) return true;
  const bool tracked = file.FindTable(kPendingTable) != nullptr;
  file.BeginWrite();
  if (indexes) AddDayIndexes(file, proveChecks);
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
    // A file with no day loaded yet (a fresh database) gets the indexes of
    // its day tables when the load first reads their rows by user or closes
    // it: built once over the rows, they cost less than kept up row by row.
    // Meanwhile the store knows the days it loaded without a probe: nobody
    // else writes while the load holds the file. Until then, too, the day
    // tables go without the checks on their numbers, which cost SQLite a
    // third of its work per row: every row this store writes passes the
    // same checks first (TableWriter), and another program's rows are
    // proven against them before they come back (a data version that moved
    // says there were some).
    const bool empty = Empty();
    if (empty && !readOnly_ && file_.FindTable("AlertSystem") && file_.FindTable("ActivitySystem")) {
      file_.BeginWrite();
      for (const RowKind kind : kDayKinds) {
        for (const auto& ix : RowTable(kind).indexes) {
          file_.Exec("DROP INDEX IF EXISTS " + db::Quote(RowTable(kind).name + "_" + ix.name));
        }
        file_.SetNumberChecks(RowTable(kind), false, false);
      }
      file_.SchemaChanged();
      deferred_ = true;
      dataVersion_ = file_.DataVersion();
    }
    untracked_ = readOnly_ ? file_.FindTable(kPendingTable) == nullptr : !AddLoadAids(file_, !empty);
    // A run on a loaded file writes a few days and probes many: a small page
    // cache keeps its memory the same however long the history grows.
    if (!empty) file_.Exec("PRAGMA cache_size = -2048");
  }

  bool DayLoaded(DayTable table, int32_t user, int32_t date) override {
    if (deferred_) return Known(table, user, date, date).size() == 1;
    Flush();
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
    if (deferred_) return Known(table, user, first, last);
    Flush();
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
    ReadByUser();
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
    ReadByUser();
    sqlite3_stmt* st = file_.Prepare(UsersOf(table) + "SELECT n, (SELECT MAX(Data_Date) FROM " + DayTableOf(table) +
                                     " WHERE User_Num = u.n) FROM u WHERE n IS NOT NULL");
    std::map<int32_t, int32_t> newest;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) {
      if (sqlite3_column_type(r, 1) != SQLITE_NULL) newest[sqlite3_column_int(r, 0)] = sqlite3_column_int(r, 1);
    });
    return newest;
  }

  ListTable& List(HistoryList list) override { return *lists_.at(static_cast<size_t>(list)); }

  // Rows wait in their writer and go in multi-row statements: at a full
  // batch, and before anything reads a table, commits or closes.
  void Append(TableRow row) override { AppendValues(row.kind, row.values); }
  void AppendValues(RowKind kind, std::span<Value> values) override {
    const auto k = static_cast<size_t>(kind);
    const int known = !deferred_ ? -1 : kind == RowKind::kAlertHour ? 0 : kind == RowKind::kActivity ? 1 : -1;
    const std::pair<int32_t, int32_t> day =
        known < 0 ? std::pair<int32_t, int32_t>{}
                  : std::pair{static_cast<int32_t>(values[0].IntValue()), static_cast<int32_t>(values[1].IntValue())};
    writers_[k].Add(values);
    if (known >= 0 && lastDay_[known] != day) {
      openDays_[known].insert(day);
      lastDay_[known] = day;
    }
  }

  std::vector<StoredKeyCount> WholeApplicationKeyCounts(int32_t user, std::optional<DateSpan> dates) override {
    ReadByUser();
    const auto info = file_.Table("ActivitySystem");
    sqlite3_stmt* st = file_.Prepare("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM " + info->quoted +
                                     " WHERE User_Num = ?1 AND App_Id = -1" +
                                     (dates ? " AND Data_Date BETWEEN ?2 AND ?3" : ""));
    BindUserDates(st, user, dates);
    std::vector<StoredKeyCount> rows;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) {
      rows.push_back(StoredKeyCount{Read<int64_t>(r, 0), Read<std::string>(r, 1), Read<int64_t>(r, 2),
                                    Read<int64_t>(r, 3)});
    });
    return rows;
  }

  std::vector<StoredAlertHour> AlertHours(int32_t user, std::optional<DateSpan> dates) override {
    ReadByUser();
    const auto info = file_.Table("AlertSystem");
    sqlite3_stmt* st = file_.Prepare("SELECT rowid, Data_Date, Data_Hour, Error_Keys FROM " + info->quoted +
                                     " WHERE User_Num = ?1" + (dates ? " AND Data_Date BETWEEN ?2 AND ?3" : "") +
                                     " ORDER BY rowid");
    BindUserDates(st, user, dates);
    std::vector<StoredAlertHour> rows;
    db::ForEachRow(file_, st, [&](sqlite3_stmt* r) {
      rows.push_back(StoredAlertHour{sqlite3_column_int64(r, 0), Read<int64_t>(r, 1), Read<std::string>(r, 2),
                                     Read<int64_t>(r, 3)});
    });
    return rows;
  }

  static void BindUserDates(sqlite3_stmt* st, int32_t user, std::optional<DateSpan> dates) {
    sqlite3_bind_int64(st, 1, user);
    if (!dates) return;
    sqlite3_bind_int64(st, 2, dates->first);
    sqlite3_bind_int64(st, 3, dates->last);
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

  void Flush() {
    for (auto& w : writers_) w.Flush();
  }

  // Before rows are read by user: the rows kept written, and the indexes a
  // fresh load left for later built (in the open transaction).
  void ReadByUser() {
    Flush();
    if (!deferred_) return;
    file_.BeginWrite();
    AddDayIndexes(file_, OthersWrote());
    deferred_ = false;
    builtInOpen_ = true;
  }

  // While the indexes wait: the dates from..to of the user's days this
  // store has loaded into the table.
  std::vector<int32_t> Known(DayTable table, int32_t user, int32_t from, int32_t to) const {
    std::vector<int32_t> dates;
    const auto t = static_cast<size_t>(table == DayTable::kAlerts ? 0 : 1);
    const auto& done = days_[t];
    const auto end = std::upper_bound(done.begin(), done.end(), std::pair{user, to});
    for (auto it = std::lower_bound(done.begin(), done.end(), std::pair{user, from}); it != end; ++it) {
      dates.push_back(it->second);
    }
    const auto& open = openDays_[t];
    const auto openEnd = open.upper_bound({user, to});
    for (auto it = open.lower_bound({user, from}); it != openEnd; ++it) dates.push_back(it->second);
    std::sort(dates.begin(), dates.end());
    dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
    return dates;
  }

  // Whether another program committed to the file since the day tables'
  // checks went.
  bool OthersWrote() { return file_.DataVersion() != dataVersion_; }

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
    Flush();
    writers_[static_cast<size_t>(RowKind::kAlertHour)].Check({{kErrorKeysColumn, Value(errorKeys)}});
    // The table was found by the check before; SQL names are matched
    // whatever their letter case.
    sqlite3_stmt* st = file_.Prepare("UPDATE AlertSystem SET Error_Keys = ?1 WHERE rowid = ?2");
    sqlite3_bind_int64(st, 1, errorKeys);
    sqlite3_bind_int64(st, 2, row);
    db::TableWriter::RunWrite(file_, st);
  }

  void Commit() override {
    Flush();
    db_->Commit();
    for (int t = 0; t < 2; ++t) {
      // Days mostly come in ascending order: appended, merged only when not.
      auto& done = days_[t];
      const std::size_t before = done.size();
      done.insert(done.end(), openDays_[t].begin(), openDays_[t].end());
      if (before > 0 && before < done.size() && done[before] < done[before - 1]) {
        std::inplace_merge(done.begin(), done.begin() + static_cast<std::ptrdiff_t>(before), done.end());
      }
      openDays_[t].clear();
    }
    builtInOpen_ = false;
  }
  void Rollback() override {
    for (auto& w : writers_) w.Drop();
    for (int t = 0; t < 2; ++t) {
      openDays_[t].clear();
      lastDay_[t] = kNoDay;
    }
    // Indexes built in the transaction undone are gone with it.
    if (builtInOpen_) {
      deferred_ = true;
      file_.SchemaChanged();
    }
    builtInOpen_ = false;
    db_->Rollback();
  }
  void Close() override {
    if (file_.IsOpen() && !readOnly_) {
      Flush();
      AddLoadAids(file_, true, !deferred_ || OthersWrote());
      deferred_ = false;
    }
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
  // A fresh load's day-table indexes wait (see the constructor); built in
  // the open transaction, they wait again if it is rolled back.
  bool deferred_ = false, builtInOpen_ = false;
  int64_t dataVersion_ = 0;  // when the day tables' checks went
  // While they wait, by DayTable: the (user, date) days committed, those of
  // the open transaction, and the last one added to it.
  // (The committed ones sorted in a vector: a fresh H holds 100,000 of them.)
  std::array<std::vector<std::pair<int32_t, int32_t>>, 2> days_;
  std::array<std::set<std::pair<int32_t, int32_t>>, 2> openDays_;
  static constexpr std::pair<int32_t, int32_t> kNoDay{INT32_MIN, INT32_MIN};
  std::array<std::pair<int32_t, int32_t>, 2> lastDay_{kNoDay, kNoDay};
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

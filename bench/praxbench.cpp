// praxbench: the floors and the limit a load is measured against.
//
//   praxbench parse NETDIR MAXUSER
//       Both log parsers and the loaders' row building over every log of
//       users 1..MAXUSER of the network, written to a counting History store
//       instead of a database. Prints "parse_floor seconds=S rows=N days=D"
//       and the rows per table.
//   praxbench insert SOURCE.MDB EMPTY.MDB
//       SQLite alone: the rows of a freshly loaded History database SOURCE
//       inserted with raw prepared statements into EMPTY (a History database
//       just made by the system's creation step), with the engine's pragmas and
//       one transaction per user and pass, as a fresh load commits, in the
//       engine's best way for the same transactions: multi-row INSERTs of up
//       to 32 rows (each row count prepared once), values bound, the two day
//       tables without the checks on their numbers, as a fresh load fills
//       them, and their User_Num indexes dropped first and built once at the
//       end. Only the inserts, commits and that build are timed.
//       Prints "insert_floor seconds=S rows=N transactions=T".
//   praxbench copy SOURCE.MDB EMPTY.MDB
//       The engine-copy limit: EMPTY (made by the system's creation step)
//       ATTACHes SOURCE and every History table is filled by one
//       "INSERT INTO t SELECT * FROM src.t", all in one transaction, with the
//       engine's pragmas. The indexes SOURCE has and EMPTY lacks (those a
//       fresh load builds when it closes) are made first, so both files have
//       the same tables, CHECKs and indexes. Only the transaction is timed.
//       Prints "copy_floor seconds=S rows=N tables=T indexes_added=I".
//
// The parse floor runs the loaders' own code (StoreAlertDay,
// StoreActivityDay, the list ids) over a store that only counts: it keeps in
// memory only what the lists need to hand out ids.

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "load/load_activity_logs.h"
#include "load/load_alert_logs.h"
#include "load/load_context.h"
#include "logs/file_list.h"
#include "logs/user_dir.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/lines.h"
#include "command/run_context.h"
#include "command/status.h"
#include "store/history_store.h"
#include "store/sqlite_file.h"

namespace {

// A list that keeps its names in memory.
class CountingList : public prax::store::ListTable {
 public:
  explicit CountingList(std::string name) : name_(std::move(name)) {}
  const std::string& TableName() const override { return name_; }
  std::optional<int64_t> MaxId() override {
    if (entries_.empty()) return std::nullopt;
    return *entries_.back().id;
  }
  std::vector<prax::store::ListEntry> Entries() override { return entries_; }
  void Insert(int16_t id, std::string_view name) override { entries_.push_back({id, std::string(name)}); }
  void BeginWrite() override {}
  int64_t DataVersion() override { return 0; }  // no other writer

 private:
  std::string name_;
  std::vector<prax::store::ListEntry> entries_;
};

// The History store that counts the rows it is given.
class CountingStore : public prax::store::HistoryStore {
 public:
  CountingStore() {
    for (int i = 0; i < prax::store::kHistoryListCount; ++i) lists_.emplace_back("list" + std::to_string(i));
  }
  bool DayLoaded(prax::store::DayTable, int32_t, int32_t) override { return false; }
  std::vector<int32_t> LoadedDates(prax::store::DayTable, int32_t, int32_t, int32_t) override { return {}; }
  prax::store::ListTable& List(prax::store::HistoryList list) override { return lists_[static_cast<size_t>(list)]; }
  // Counted by kind, as cheaply as the engine's store takes a row's values.
  void Append(prax::store::TableRow row) override { ++byKind_[static_cast<size_t>(row.kind)]; }
  void AppendValues(prax::store::RowKind kind, std::span<prax::db::Value>) override {
    ++byKind_[static_cast<size_t>(kind)];
  }
  std::vector<prax::store::StoredKeyCount> WholeApplicationKeyCounts(int32_t,
                                                                    std::optional<prax::store::DateSpan>) override {
    return {};
  }
  std::vector<prax::store::StoredAlertHour> AlertHours(int32_t, std::optional<prax::store::DateSpan>) override {
    return {};
  }
  std::map<int32_t, int64_t> DaysPerDate(prax::store::DayTable, int32_t, int32_t) override { return {}; }
  std::map<int32_t, int32_t> NewestDays(prax::store::DayTable) override { return {}; }
  void MarkErrorKeysPending(int32_t, int32_t) override {}
  std::vector<int32_t> ErrorKeysPending(int32_t) override { return {}; }
  void ClearErrorKeysPending(int32_t, std::optional<int32_t>) override {}
  bool ErrorKeysUntracked() const override { return false; }
  void SetErrorKeys(prax::store::RowId, int64_t) override {}
  void Commit() override {}
  void Rollback() override {}
  void Close() override {}
  const std::string& LeftInUse() const override { return none_; }
  std::map<std::string, int64_t> RowsAdded() const override {
    std::map<std::string, int64_t> rows;
    for (int k = 0; k < prax::store::kRowKindCount; ++k) {
      if (byKind_[k] != 0) rows[prax::store::RowTable(static_cast<prax::store::RowKind>(k)).name] = byKind_[k];
    }
    return rows;
  }

 private:
  std::vector<CountingList> lists_;
  std::string none_;
  std::array<int64_t, prax::store::kRowKindCount> byKind_{};
};

}  // namespace

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// ---------------------------------------------------------------------------
// Parse floor

int ParseFloor(const std::string& netDir, int maxUser) {
  prax::Status status;
  prax::RunContext run;
  run.NetworkDir = netDir;
  if (run.NetworkDir.back() != '/' && run.NetworkDir.back() != '\\') run.NetworkDir += '/';
  CountingStore store;
  prax::LoadContext load(run, status, store);
  load.OpenPassLists(prax::LogKind::kAlert);
  load.OpenPassLists(prax::LogKind::kActivity);

  const auto t0 = Clock::now();
  int64_t days = 0;
  for (const char* ext : {"PXL", "PXT"}) {
    const bool alerts = ext[2] == 'L';
    for (int u = 1; u <= maxUser; ++u) {
      const std::string userDir = prax::UserDirPath(run.NetworkDir, u);
      const prax::UserLogs logs = prax::BuildUserLogs(run.NetworkDir, userDir);
      const prax::FileList& files = alerts ? logs.alert.files : logs.activity.files;
      load.user = u;
      for (const prax::LogDay& day : files) {
        // Read as the loader reads it: by the name it was listed under.
        const std::string path = userDir + "\\" + (day.listedName.empty() ? day.fileName : day.listedName);
        const int32_t date = day.date;
        if (!prax::TryStep([&] {
              const std::string bytes = prax::ReadLogBytes(path);
              if (alerts) {
                prax::StoreAlertDay(load, date, prax::ParseAlertDay(bytes, load.alertCarry));
              } else {
                load.ids.window = load.ids.project = load.ids.task = -1;
                prax::StoreActivityDay(load, date, prax::ParseActivityDay(bytes, {}, load.activityCarry));
              }
            }))
          continue;
        ++days;
      }
    }
  }
  const double seconds = Since(t0);

  int64_t rows = 0;
  for (const auto& [table, n] : store.RowsAdded()) rows += n;
  std::printf("parse_floor seconds=%.3f rows=%lld days=%lld\n", seconds, static_cast<long long>(rows),
              static_cast<long long>(days));
  for (const auto& [table, n] : store.RowsAdded()) {
    std::printf("parse_rows %s %lld\n", table.c_str(), static_cast<long long>(n));
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Insert floor

[[noreturn]] void Die(sqlite3* h, const std::string& what) {
  std::fprintf(stderr, "praxbench: %s: %s\n", what.c_str(), h ? sqlite3_errmsg(h) : "");
  std::exit(1);
}

void Exec(sqlite3* h, const char* sql) {
  if (sqlite3_exec(h, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Die(h, sql);
}

// One table's rows in rowid order, read a user-day at a time from SOURCE.
struct TableStream {
  std::string name;
  int columns = 0;
  sqlite3_stmt* read = nullptr;
  std::string insertSql;                     // one row
  std::vector<sqlite3_stmt*> inserts;        // by rows, 1..kRows, prepared when first used
  sqlite3* dst = nullptr;
  bool more = false;
  static constexpr size_t kRows = 32;
  std::vector<sqlite3_value*> row;  // the current source row

  void Open(sqlite3* src, sqlite3* to, const std::string& table) {
    name = table;
    const std::string q = "\"" + table + "\"";
    if (sqlite3_prepare_v2(src, ("SELECT * FROM " + q + " ORDER BY rowid").c_str(), -1, &read, nullptr) != SQLITE_OK) {
      Die(src, "reading " + table);
    }
    columns = sqlite3_column_count(read);
    std::string marks;
    for (int i = 0; i < columns; ++i) marks += i == 0 ? "?" : ", ?";
    std::string cols;
    for (int i = 0; i < columns; ++i) cols += std::string(i == 0 ? "\"" : ", \"") + sqlite3_column_name(read, i) + "\"";
    insertSql = "INSERT INTO " + q + " (" + cols + ") VALUES (" + marks + ")";
    dst = to;
    inserts.assign(kRows + 1, nullptr);
    Step();
  }
  sqlite3_stmt* Insert(size_t rows) {
    if (!inserts[rows]) {
      std::string sql = insertSql;
      const std::string values = sql.substr(sql.rfind(" ("));
      for (size_t r = 1; r < rows; ++r) sql += "," + values;
      if (sqlite3_prepare_v3(dst, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &inserts[rows], nullptr) != SQLITE_OK) {
        Die(dst, "preparing the insert into " + name);
      }
    }
    return inserts[rows];
  }
  void Step() {
    for (auto* v : row) sqlite3_value_free(v);
    row.clear();
    more = sqlite3_step(read) == SQLITE_ROW;
    if (!more) return;
    for (int i = 0; i < columns; ++i) row.push_back(sqlite3_value_dup(sqlite3_column_value(read, i)));
  }
  // (User_Num, Data_Date) of the current row, for per-user tables.
  std::pair<int64_t, int64_t> Key() const {
    return {sqlite3_value_int64(row[0]), row[1] ? sqlite3_value_int64(row[1]) : 0};
  }
  ~TableStream() {
    for (auto* v : row) sqlite3_value_free(v);
    sqlite3_finalize(read);
    for (auto* st : inserts) sqlite3_finalize(st);
  }
};

// The rows of a batch, copied out of the source before the clock runs.
struct Batch {
  TableStream* table;
  std::vector<std::vector<sqlite3_value*>> rows;
};

int InsertFloor(const std::string& sourceFile, const std::string& emptyFile) {
  {
    // The day tables without the checks on their numbers, as a fresh load
    // fills them (the loader's rows passed the same checks before).
    auto db = prax::db::SqliteFile::Open(emptyFile, {});
    for (const auto kind : {prax::store::RowKind::kAlertHour, prax::store::RowKind::kActivity}) {
      db->SetNumberChecks(prax::store::RowTable(kind), false, false);
    }
    db->Close();
  }
  sqlite3* src = nullptr;
  sqlite3* dst = nullptr;
  if (sqlite3_open_v2(sourceFile.c_str(), &src, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) Die(src, sourceFile);
  if (sqlite3_open_v2(emptyFile.c_str(), &dst, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) Die(dst, emptyFile);
  // The engine's settings of every connection.
  sqlite3_busy_timeout(dst, 5000);
  Exec(dst, "PRAGMA journal_mode = WAL");
  Exec(dst, "PRAGMA synchronous = NORMAL");
  Exec(dst, "PRAGMA cache_size = -16384");

  auto open = [&](const char* table) {
    auto s = std::make_unique<TableStream>();
    s->Open(src, dst, table);
    return s;
  };
  // Pass 1 writes alert hours, tool use and user notes; pass 2 activity rows
  // and project notes; the lists take their few rows in the first
  // transaction of the pass that fills them.
  std::vector<std::unique_ptr<TableStream>> pass1, pass2, lists1, lists2;
  pass1.push_back(open("AlertSystem"));
  pass1.push_back(open("EMSSystemUsage"));
  pass1.push_back(open("UserNotes"));
  for (const char* t : {"EMSToolsList", "BodyPartsList", "DiscomfortsList", "NotesList"}) lists1.push_back(open(t));
  pass2.push_back(open("ActivitySystem"));
  pass2.push_back(open("ProjectNotes"));
  for (const char* t : {"ApplicationsList", "WindowsList", "ProjectsList", "ProjectTasksList"}) lists2.push_back(open(t));

  double seconds = 0;
  int64_t rows = 0, transactions = 0;
  std::vector<Batch> batch;
  auto take = [&](TableStream& s, bool all, std::pair<int64_t, int64_t> upTo) {
    Batch b{&s, {}};
    while (s.more && (all || s.Key() <= upTo)) {
      b.rows.push_back(s.row);
      s.row.clear();
      s.Step();
    }
    if (!b.rows.empty()) batch.push_back(std::move(b));
  };
  auto insertBatch = [&] {
    const auto t0 = Clock::now();
    Exec(dst, "BEGIN IMMEDIATE");
    for (Batch& b : batch) {
      const int width = b.table->columns;
      for (size_t first = 0; first < b.rows.size();) {
        const size_t n = std::min(TableStream::kRows, b.rows.size() - first);
        sqlite3_stmt* st = b.table->Insert(n);
        for (size_t r = 0; r < n; ++r) {
          for (int i = 0; i < width; ++i) {
            sqlite3_bind_value(st, static_cast<int>(r) * width + i + 1, b.rows[first + r][static_cast<size_t>(i)]);
          }
        }
        if (sqlite3_step(st) != SQLITE_DONE) Die(dst, "insert into " + b.table->name);
        sqlite3_reset(st);
        rows += static_cast<int64_t>(n);
        first += n;
      }
    }
    Exec(dst, "COMMIT");
    seconds += Since(t0);
    ++transactions;
    for (Batch& b : batch) {
      for (auto& row : b.rows) {
        for (auto* v : row) sqlite3_value_free(v);
      }
    }
    batch.clear();
  };
  // One transaction per user of the pass's main table, with the other
  // tables' rows of that user.
  auto pass = [&](std::vector<std::unique_ptr<TableStream>>& tables, std::vector<std::unique_ptr<TableStream>>& lists) {
    TableStream& main = *tables.front();
    bool first = true;
    while (main.more) {
      const std::pair<int64_t, int64_t> key{main.Key().first, INT64_MAX};
      take(main, false, key);
      for (size_t i = 1; i < tables.size(); ++i) take(*tables[i], false, key);
      if (first) {
        for (auto& l : lists) take(*l, true, {});
        first = false;
      }
      insertBatch();
    }
    for (size_t i = 1; i < tables.size(); ++i) take(*tables[i], true, {});
    if (!batch.empty()) insertBatch();
  };
  // The User_Num indexes of the day tables wait until every row is in, as
  // in a fresh load; their statements are kept to build them again.
  std::vector<std::string> userIndexes;
  {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(dst, "SELECT sql FROM sqlite_master WHERE name IN ('AlertSystem_User_Num_Ix', "
                                "'ActivitySystem_User_Num_Ix') ORDER BY rowid", -1, &st, nullptr) != SQLITE_OK) {
      Die(dst, "reading the indexes");
    }
    while (sqlite3_step(st) == SQLITE_ROW) userIndexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
  }
  const auto t0 = Clock::now();
  Exec(dst, "DROP INDEX IF EXISTS \"AlertSystem_User_Num_Ix\"");
  Exec(dst, "DROP INDEX IF EXISTS \"ActivitySystem_User_Num_Ix\"");
  seconds += Since(t0);
  pass(pass1, lists1);
  pass(pass2, lists2);
  const auto t1 = Clock::now();
  for (const auto& sql : userIndexes) Exec(dst, sql.c_str());
  seconds += Since(t1);

  std::printf("insert_floor seconds=%.3f rows=%lld transactions=%lld\n", seconds, static_cast<long long>(rows),
              static_cast<long long>(transactions));
  pass1.clear();
  pass2.clear();
  lists1.clear();
  lists2.clear();
  sqlite3_close(src);
  if (sqlite3_close(dst) != SQLITE_OK) Die(dst, "closing " + emptyFile);
  return 0;
}

// ---------------------------------------------------------------------------
// Engine copy

// The text of the first column of every row of a query, with NAME bound to
// its ?1 if given.
std::vector<std::string> Texts(sqlite3* h, const std::string& sql, const std::string* name = nullptr) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Die(h, sql);
  if (name) sqlite3_bind_text(st, 1, name->c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> out;
  int rc = 0;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(st, 0);
    out.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) Die(h, sql);
  return out;
}

std::string Quoted(const std::string& name) {
  std::string q = "\"";
  for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

int CopyFloor(const std::string& sourceFile, const std::string& emptyFile) {
  sqlite3* dst = nullptr;
  if (sqlite3_open_v2(emptyFile.c_str(), &dst, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) Die(dst, emptyFile);
  sqlite3_busy_timeout(dst, 5000);
  Exec(dst, "PRAGMA journal_mode = WAL");
  Exec(dst, "PRAGMA synchronous = NORMAL");
  Exec(dst, "PRAGMA cache_size = -16384");
  sqlite3_stmt* attach = nullptr;
  if (sqlite3_prepare_v2(dst, "ATTACH DATABASE ?1 AS src", -1, &attach, nullptr) != SQLITE_OK) Die(dst, "attach");
  sqlite3_bind_text(attach, 1, sourceFile.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(attach) != SQLITE_DONE) Die(dst, "attaching " + sourceFile);
  sqlite3_finalize(attach);

  // Same tables with the same definitions, or the figure means nothing.
  auto master = [](const char* schema, const char* what) {
    return std::string("SELECT ") + what + " FROM " + schema + ".sqlite_master WHERE ";
  };
  const char* userTables = "type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name";
  const auto tables = Texts(dst, master("main", "name") + userTables);
  if (tables != Texts(dst, master("src", "name") + userTables)) {
    std::fprintf(stderr, "praxbench: %s and %s do not have the same tables\n", sourceFile.c_str(), emptyFile.c_str());
    return 1;
  }
  const char* definition = "type = 'table' AND name = ?1";
  for (const auto& t : tables) {
    if (Texts(dst, master("main", "sql") + definition, &t) != Texts(dst, master("src", "sql") + definition, &t)) {
      std::fprintf(stderr, "praxbench: table %s is defined differently in %s\n", t.c_str(), sourceFile.c_str());
      return 1;
    }
  }
  // The source's indexes the empty file lacks, made before the clock runs.
  const char* indexes = "type = 'index' AND sql IS NOT NULL ORDER BY name";
  const auto have = Texts(dst, master("main", "name") + indexes);
  int added = 0;
  for (const auto& ix : Texts(dst, master("src", "name") + indexes)) {
    if (std::find(have.begin(), have.end(), ix) != have.end()) continue;
    Exec(dst, Texts(dst, master("src", "sql") + "type = 'index' AND name = ?1", &ix).at(0).c_str());
    ++added;
  }

  int64_t rows = 0;
  const auto t0 = Clock::now();
  Exec(dst, "BEGIN IMMEDIATE");
  for (const auto& t : tables) {
    Exec(dst, ("INSERT INTO main." + Quoted(t) + " SELECT * FROM src." + Quoted(t)).c_str());
    rows += sqlite3_changes64(dst);
  }
  Exec(dst, "COMMIT");
  const double seconds = Since(t0);

  std::printf("copy_floor seconds=%.3f rows=%lld tables=%zu indexes_added=%d\n", seconds,
              static_cast<long long>(rows), tables.size(), added);
  Exec(dst, "DETACH DATABASE src");
  if (sqlite3_close(dst) != SQLITE_OK) Die(dst, "closing " + emptyFile);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "parse" && argc == 4) return ParseFloor(argv[2], std::atoi(argv[3]));
  if (mode == "insert" && argc == 4) return InsertFloor(argv[2], argv[3]);
  if (mode == "copy" && argc == 4) return CopyFloor(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: praxbench parse NETDIR MAXUSER\n"
               "       praxbench insert SOURCE.MDB EMPTY.MDB\n"
               "       praxbench copy SOURCE.MDB EMPTY.MDB\n");
  return 2;
}

// praxbench: the two floors a load is measured against.
//
//   praxbench parse NETDIR MAXUSER
//       Both log parsers over every log of users 1..MAXUSER of the network,
//       with every database write replaced by counting. Prints
//       "parse_floor seconds=S rows=N days=D" and the rows per table.
//   praxbench insert SOURCE.MDB EMPTY.MDB
//       SQLite alone: the rows of a freshly loaded History database SOURCE
//       inserted with raw prepared statements into EMPTY (a History database
//       just made by the system's creation step), with the engine's pragmas and
//       one transaction per user-day and pass, as the load commits. Only the
//       inserts and commits are timed. Prints "insert_floor seconds=S rows=N
//       transactions=T".
//
// The seam of the parse floor is the link: this program is built from the
// parser, writer and lookup-list sources themselves, compiled as the loader
// compiles them, but linked against the counting engine below instead of
// src/db. The loader's code is not changed at all and pays nothing for it (no
// virtual calls, no flag tested per row); the counting engine keeps in memory
// only what the lookups need to hand out ids.

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "logs/activity_day.h"
#include "load/write_error_keys.h"
#include "logs/alert_day.h"
#include "load/write_alert_hours.h"
#include "platform/run_context.h"
#include "platform/status.h"
#include "store/engine.h"
#include "logs/file_list.h"
#include "logs/user_dir.h"
#include "platform/error.h"
#include "platform/fs.h"

// ---------------------------------------------------------------------------
// The counting engine: the parts of the engine interface the parsers use.

namespace prax::db {

class Connection {
 public:
  std::map<std::string, int64_t> rows;  // rows stored per table
  // The lists' names (lower case) and ids, so that a lookup finds what it stored.
  std::map<std::string, std::unordered_map<std::string, int64_t>> lists;
};

struct Recordset::Impl {
  std::shared_ptr<Connection> conn;
  std::string table;
  int64_t* count = nullptr;
  bool isList = false;
  std::vector<std::string> names;
  std::string nameValue;
  int64_t idValue = 0;
  bool noMatch = true, adding = false;
};

int64_t Value::AsInt() const {
  if (IsNull()) throw Error(err::kInvalidUseOfNull, "Invalid use of Null");
  if (IsInt()) return std::get<int64_t>(v_);
  return std::stoll(std::get<std::string>(v_));
}
std::string Value::AsText() const {
  if (IsNull()) throw Error(err::kInvalidUseOfNull, "Invalid use of Null");
  return IsInt() ? std::to_string(std::get<int64_t>(v_)) : std::get<std::string>(v_);
}
std::string Value::Describe() const { return IsNull() ? "Null" : AsText(); }

Database::Database(std::shared_ptr<Connection> conn) : conn_(std::move(conn)) {}
Database::~Database() = default;
std::unique_ptr<Database> Database::Create(const std::filesystem::path&, std::string_view) {
  return std::unique_ptr<Database>(new Database(std::make_shared<Connection>()));
}
void Database::Commit() {}
void Database::BeginWrite() {}
int64_t Database::DataVersion() { return 0; }  // no other writer
void Database::Close() {}
std::map<std::string, int64_t> Database::RowsAdded() const { return conn_->rows; }

// "SELECT * FROM <table>": the only statement the parsers' record sets are opened on.
std::unique_ptr<Recordset> Database::OpenRecordset(std::string_view sql) {
  auto impl = std::make_unique<Recordset::Impl>();
  impl->conn = conn_;
  impl->table = std::string(sql.substr(sql.rfind(' ') + 1));
  impl->count = &conn_->rows[impl->table];
  impl->isList = impl->table.size() > 4 && impl->table.compare(impl->table.size() - 4, 4, "List") == 0;
  return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
}

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Recordset::~Recordset() = default;

void Recordset::AddNew() { impl_->adding = true; }
void Recordset::Edit() {
  if (*impl_->count == 0) throw Error(err::kNoCurrentRecord, "No current record.");
}
void Recordset::Update() {
  Impl& r = *impl_;
  if (r.adding) {
    ++*r.count;
    if (r.isList) r.conn->lists[r.table][r.nameValue] = r.idValue;
  }
  r.adding = false;
}
void Recordset::CancelUpdate() { impl_->adding = false; }
void Recordset::Set(std::string_view, Value v) {
  Impl& r = *impl_;
  if (!r.isList) return;
  if (v.IsInt()) {
    r.idValue = v.IntValue();
  } else if (v.IsText()) {
    r.nameValue = v.TextRef();
    for (char& c : r.nameValue) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  }
}
// Criteria "<name column> = '<name>'" on a list.
void Recordset::FindFirst(std::string_view criteria) {
  Impl& r = *impl_;
  const size_t open = criteria.find('\'');
  std::string name(criteria.substr(open + 1, criteria.size() - open - 2));
  for (char& c : name) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  const auto& list = r.conn->lists[r.table];
  const auto it = list.find(name);
  r.noMatch = it == list.end();
  if (!r.noMatch) r.idValue = it->second;
}
bool Recordset::NoMatch() const { return impl_->noMatch; }
void Recordset::MoveFirst() {}
void Recordset::MoveNext() {}
void Recordset::MoveLast() {
  if (*impl_->count == 0) throw Error(err::kNoCurrentRecord, "No current record.");
}
bool Recordset::Eof() const { return true; }
bool Recordset::Bof() const { return true; }
Value Recordset::Get(std::string_view) const { return Value(impl_->idValue); }
const std::vector<std::string>& Recordset::FieldNames() const { return impl_->names; }
void Recordset::Close() {}

}  // namespace prax::db

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// ---------------------------------------------------------------------------
// Parse floor

int ParseFloor(const std::string& netDir, int maxUser) {
  prax::Status status;
  prax::RunContext ctx;
  ctx.status = &status;
  ctx.NetworkDir = netDir;
  if (ctx.NetworkDir.back() != '/' && ctx.NetworkDir.back() != '\\') ctx.NetworkDir += '/';
  ctx.Db = prax::db::Database::Create("counting");
  prax::db::Database& db = *ctx.Db;

  const auto t0 = Clock::now();
  int64_t days = 0;
  auto alertState = std::make_unique<prax::AlertParserState>();
  auto activityState = std::make_unique<prax::ActivityParserState>();

  // Pass 1 as the job runs it: the lists and note tables open for the pass,
  // one record set per user.
  for (auto* list : {&ctx.Tools, &ctx.BodyParts, &ctx.Discomforts, &ctx.Notes}) list->Open(db, &status);
  ctx.SystemUsageRs = db.OpenRecordset("SELECT * FROM EMSSystemUsage");
  ctx.UserNotesRs = db.OpenRecordset("SELECT * FROM UserNotes");
  prax::AlertCounts counts;
  for (int u = 1; u <= maxUser; ++u) {
    const std::string userDir = prax::UserDirPath(ctx.NetworkDir, u);
    const prax::FileList files = prax::BuildUserFileList(status, ctx.NetworkDir, userDir, "PXL");
    if (files.size() < 2) continue;
    ctx.CurrentUser = u;
    auto alertRs = db.OpenRecordset("SELECT * FROM AlertSystem");
    for (size_t i = 1; i < files.size(); ++i) {
      counts.Clear();
      const std::string path = userDir + "\\" + prax::EntryFileName(files[i], "PXL");
      if (prax::ParseAlertLog(ctx, *alertState, counts, path, files[i]).read != prax::AlertLogRead::kParsed) continue;
      prax::WriteAlertHours(ctx, counts, files[i], *alertRs);
      ++days;
    }
  }
  for (auto* list : {&ctx.Tools, &ctx.BodyParts, &ctx.Discomforts, &ctx.Notes}) list->Close();

  // Pass 2.
  for (auto* list : {&ctx.Apps, &ctx.Windows, &ctx.Projects, &ctx.Tasks, &ctx.Notes}) list->Open(db, &status);
  ctx.ProjectNotesRs = db.OpenRecordset("SELECT * FROM ProjectNotes");
  for (int u = 1; u <= maxUser; ++u) {
    const std::string userDir = prax::UserDirPath(ctx.NetworkDir, u);
    const prax::FileList files = prax::BuildUserFileList(status, ctx.NetworkDir, userDir, "PXT");
    if (files.size() < 2) continue;
    ctx.CurrentUser = u;
    auto activityRs = db.OpenRecordset("SELECT * FROM ActivitySystem");
    for (size_t i = 1; i < files.size(); ++i) {
      activityState->ClearHourKeyCounts();
      const std::string path = userDir + "\\" + prax::EntryFileName(files[i], "PXT");
      prax::TryStep([&] {
        prax::ParseActivityLog(ctx, *activityState, path, files, static_cast<int>(i), *activityRs);
      });
      prax::TryStep([&] { prax::WriteDayErrorKeys(ctx, *activityState, files, static_cast<int>(i), *activityRs); });
      ++days;
    }
  }
  const double seconds = Since(t0);

  int64_t rows = 0;
  for (const auto& [table, n] : db.RowsAdded()) rows += n;
  std::printf("parse_floor seconds=%.3f rows=%lld days=%lld\n", seconds, static_cast<long long>(rows),
              static_cast<long long>(days));
  for (const auto& [table, n] : db.RowsAdded()) {
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
  sqlite3_stmt* insert = nullptr;
  bool more = false;
  std::vector<sqlite3_value*> row;  // the current source row

  void Open(sqlite3* src, sqlite3* dst, const std::string& table) {
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
    if (sqlite3_prepare_v3(dst, ("INSERT INTO " + q + " (" + cols + ") VALUES (" + marks + ")").c_str(), -1,
                           SQLITE_PREPARE_PERSISTENT, &insert, nullptr) != SQLITE_OK) {
      Die(dst, "preparing the insert into " + table);
    }
    Step();
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
    sqlite3_finalize(insert);
  }
};

// The rows of a batch, copied out of the source before the clock runs.
struct Batch {
  TableStream* table;
  std::vector<std::vector<sqlite3_value*>> rows;
};

int InsertFloor(const std::string& sourceFile, const std::string& emptyFile) {
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
      sqlite3_stmt* st = b.table->insert;
      for (const auto& row : b.rows) {
        for (int i = 0; i < b.table->columns; ++i) sqlite3_bind_value(st, i + 1, row[static_cast<size_t>(i)]);
        if (sqlite3_step(st) != SQLITE_DONE) Die(dst, "insert into " + b.table->name);
        sqlite3_reset(st);
        ++rows;
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
  // One transaction per user-day of the pass's main table, with the other
  // tables' rows of that user up to that day.
  auto pass = [&](std::vector<std::unique_ptr<TableStream>>& tables, std::vector<std::unique_ptr<TableStream>>& lists) {
    TableStream& main = *tables.front();
    bool first = true;
    while (main.more) {
      const auto key = main.Key();
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
  pass(pass1, lists1);
  pass(pass2, lists2);

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

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "parse" && argc == 4) return ParseFloor(argv[2], std::atoi(argv[3]));
  if (mode == "insert" && argc == 4) return InsertFloor(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: praxbench parse NETDIR MAXUSER\n"
               "       praxbench insert SOURCE.MDB EMPTY.MDB\n");
  return 2;
}

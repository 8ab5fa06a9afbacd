#include "store/connection.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "platform/text.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace prax::db {

namespace {

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The field a declared SQLite column type stands for. Files this program
// writes declare SMALLINT, INTEGER and VARCHAR(n); other writers' columns
// are read in the nearest way.
FieldDef FieldFromDeclared(std::string name, std::string_view declared) {
  FieldDef f;
  f.name = std::move(name);
  std::string upper;
  for (char c : declared) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  if (upper.rfind("SMALLINT", 0) == 0) {
    f.type = FieldType::Integer;
    f.size = 2;
  } else if (upper.find("INT") != std::string::npos) {
    f.type = FieldType::Long;
    f.size = 4;
  } else if (upper.empty() || upper.find("CHAR") != std::string::npos || upper.find("TEXT") != std::string::npos ||
             upper.find("CLOB") != std::string::npos) {
    f.type = FieldType::Text;
    f.size = 255;
    const size_t open = upper.find('(');
    if (open != std::string::npos) {
      int n = 0;
      size_t p = open + 1;
      while (p < upper.size() && upper[p] == ' ') ++p;
      bool any = false;
      while (p < upper.size() && upper[p] >= '0' && upper[p] <= '9' && n < 100000) {
        n = n * 10 + (upper[p] - '0');
        ++p;
        any = true;
      }
      if (any && n > 0) f.size = n;
    }
  } else {
    f.type = FieldType::Long;
    f.size = 4;
  }
  return f;
}

void FoldFunction(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;  // the result stays Null
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  if (!p) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  const std::string folded =
      text::FoldCase1252(std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(argv[0]))));
  sqlite3_result_text(ctx, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::string FoldSql(std::string_view column) { return std::string(kFoldFunction) + "(" + Quote(column) + ")"; }

std::string Quote(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerChar(c);
  return out;
}

std::string StoredIndexName(std::string_view table, std::string_view name) {
  return std::string(table) + "_" + std::string(name);
}

std::string ColumnSql(const FieldDef& f, bool notNull) {
  const std::string q = Quote(f.name);
  std::string s = q;
  switch (f.type) {
    case FieldType::Integer:
      s += " SMALLINT";
      if (notNull) s += " NOT NULL";
      s += " CHECK (" + q + " BETWEEN -32768 AND 32767)";
      break;
    case FieldType::Long:
      s += " INTEGER";
      if (notNull) s += " NOT NULL";
      s += " CHECK (" + q + " BETWEEN -2147483648 AND 2147483647)";
      break;
    case FieldType::Text: {
      const std::string n = std::to_string(f.size);
      s += " VARCHAR(" + n + ") COLLATE NOCASE";
      if (notNull) s += " NOT NULL";
      s += " CHECK (length(" + q + ") BETWEEN 1 AND " + n + ")";
      break;
    }
  }
  return s;
}

std::string JournalMode(sqlite3* h, const char* set) {
  const std::string sqlText = set ? std::string("PRAGMA journal_mode = ") + set : "PRAGMA journal_mode";
  std::string mode;
  auto keep = [](void* out, int, char** values, char**) {
    if (values[0]) *static_cast<std::string*>(out) = LowerAscii(values[0]);
    return 0;
  };
  if (sqlite3_exec(h, sqlText.c_str(), keep, &mode, nullptr) != SQLITE_OK) return "";
  return mode;
}

Value ReadValue(sqlite3_stmt* st, int col) {
  switch (sqlite3_column_type(st, col)) {
    case SQLITE_INTEGER: return Value(static_cast<int64_t>(sqlite3_column_int64(st, col)));
    case SQLITE_FLOAT: return Value(static_cast<int64_t>(std::nearbyint(sqlite3_column_double(st, col))));
    case SQLITE_NULL: return Value();
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
      const int n = sqlite3_column_bytes(st, col);
      return Value(std::string(p ? p : "", static_cast<size_t>(n)));
    }
  }
}

void BindValue(sqlite3_stmt* st, int index, const Value& v) {
  if (v.IsNull()) {
    sqlite3_bind_null(st, index);
  } else if (v.IsInt()) {
    sqlite3_bind_int64(st, index, v.IntValue());
  } else {
    // The caller keeps the value alive until the statement has run.
    const std::string& text = v.TextRef();
    sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  }
}

int TableInfo::FindColumn(std::string_view column) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualNoCase(columns[i].name, column)) return static_cast<int>(i);
  }
  return -1;
}

bool TableInfo::Indexed(int column) const {
  for (const auto& ix : indexes) {
    if (ix.columnIndex == column) return true;
  }
  return false;
}

TableDef TableInfo::Def() const {
  TableDef def;
  def.name = name;
  for (const auto& c : columns) def.fields.push_back(FieldDef{c.name, c.type, c.size});
  for (const auto& ix : indexes) def.indexes.push_back(IndexDef{ix.name, ix.column, ix.primary, ix.unique});
  return def;
}

Connection::Connection(sqlite3* handle, std::filesystem::path file) : db_(handle), file_(std::move(file)) {
  // Should this fail (no memory), a statement using the function fails to
  // prepare and reports it then.
  sqlite3_create_function_v2(db_, kFoldFunction, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                             FoldFunction, nullptr, nullptr, nullptr);
}

Connection::~Connection() {
  try {
    Close();
  } catch (const Error&) {
    // Nothing more can be done about a failing commit while the handle goes away.
  }
}

void Connection::Track(const std::filesystem::path& real, bool readOnly) {
  real_ = real;
  readOnly_ = readOnly;
#ifndef _WIN32
  // Windows keeps an open file from being deleted or replaced.
  struct stat st {};
  tracked_ = ::stat(real.c_str(), &st) == 0;
  device_ = static_cast<uint64_t>(st.st_dev);
  inode_ = static_cast<uint64_t>(st.st_ino);
#endif
}

bool Connection::StillInPlace() const {
  if (!tracked_) return true;
#ifndef _WIN32
  struct stat st {};
  if (::stat(real_.c_str(), &st) != 0) return errno != ENOENT && errno != ENOTDIR;
  return static_cast<uint64_t>(st.st_dev) == device_ && static_cast<uint64_t>(st.st_ino) == inode_;
#else
  return true;
#endif
}

void Connection::FailReplaced() const {
  throw Error(err::kOtherEngineError,
              "The database file '" + file_.string() +
                  "' was removed or replaced by another file while this command was using it (moved, copied "
                  "or deleted by another program). The command stopped; what it wrote since the last "
                  "commit is not in the file now in its place. Check that the right file is in place (restore "
                  "it from a backup if needed), then run the command again.");
}

void Connection::ReturnToRollback() {
  // The mode is read without waiting: a file another program holds locked
  // is in no mode this connection set.
  sqlite3_busy_timeout(db_, 0);
  if (JournalMode(db_) != "wal") return;
  // Readers that hold the file open keep it in WAL mode; they are not waited
  // for long.
  sqlite3_busy_timeout(db_, 1000);
  if (JournalMode(db_, "DELETE") == "delete") return;
  leftInUse_ = "'" + file_.string() +
               "' is held open by another program, so it stays in WAL mode with its -wal and -shm files beside "
               "it; the next command returns it to the rollback journal once that program has closed it.";
}

void Connection::CheckOpen() const {
  if (!db_) {
    throw Error(dberr::kObjectInvalid,
                "Object invalid or no longer set: the database was closed (" + file_.string() + ")");
  }
}

void Connection::Fail(int number, const std::string& message, Cause cause) const {
  throw Error(number, message + " (" + file_.string() + ")", cause);
}

void Connection::Rethrow(const Error& e) const {
  Fail(e.Number(), e.what(), e.Environment() ? Cause::kEnvironment : Cause::kData);
}

void Connection::FailStorage(int rc) const {
  const std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  constexpr Cause env = Cause::kEnvironment;
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Fail(dberr::kLocked,
           "The database is locked by another program, which held it longer than the wait allows. Run the command "
           "again when that program has finished; the days stored before are kept.", env);
    case SQLITE_READONLY:
      Fail(dberr::kReadOnly, "Cannot update. Database or object is read-only. Make the file and its folder "
                             "writable for the account that runs the command, then run it again.", env);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      Fail(err::kCannotOpenFile, "Cannot open the database file: " + detail + ".", env);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      Fail(err::kUnrecognizedFormat, "Unrecognized database format '" + file_.string() +
                                         "'. The file is damaged; restore it from a backup.", env);
    case SQLITE_NOMEM:
      Fail(err::kOutOfMemory, "Out of memory: " + detail + ". Close other programs, then run the command again.",
           env);
    case SQLITE_FULL:
      FailNoSpace();
    case SQLITE_IOERR: {
      // A write refused for want of space (or by a file-size limit) mostly
      // reads as a failed write, the system's reason often lost by then.
      const int sys = db_ ? sqlite3_system_errno(db_) : 0;
      if (rc == SQLITE_IOERR_WRITE || rc == SQLITE_IOERR_FSYNC || rc == SQLITE_IOERR_TRUNCATE || sys == ENOSPC ||
          sys == EFBIG)
        FailNoSpace();
      Fail(err::kOtherEngineError, "Could not read the database file (" + detail +
                                       "). Check the disk or the network connection to it, then run the command "
                                       "again; what was stored before is kept.", env);
    }
    case SQLITE_CONSTRAINT:
      if (rc == SQLITE_CONSTRAINT_NOTNULL) {
        Fail(err::kNullInIndexedField, "Index or primary key cannot contain a Null value: " + detail + ".");
      }
      Fail(err::kOtherEngineError, "The database refused the change: " + detail + ".");
    default:
      Fail(err::kOtherEngineError, "The database reported an error: " + detail + ".");
  }
}

void Connection::FailNoSpace() const {
  Fail(dberr::kNotEnoughSpace,
       "Not enough space on disk: the database file could not be written (the disk is full, the file may not "
       "grow any further, or the disk or its network connection failed). Free disk space (or raise the "
       "file-size limit) and check the connection, then run the command again; the days stored before are "
       "kept and the rest are loaded then.", Cause::kEnvironment);
}

sqlite3_stmt* Connection::PrepareNew(const std::string& sqlText) {
  sqlite3_stmt* st = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sqlText.c_str(), static_cast<int>(sqlText.size()),
                                    SQLITE_PREPARE_PERSISTENT, &st, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    FailStorage(sqlite3_extended_errcode(db_));
  }
  return st;
}

sqlite3_stmt* Connection::Prepare(const std::string& sqlText) {
  CheckOpen();
  auto it = statements_.find(sqlText);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* st = PrepareNew(sqlText);
  statements_.emplace(sqlText, st);
  return st;
}

sqlite3_stmt* Connection::PrepareOwned(const std::string& sqlText) {
  CheckOpen();
  if (auto spare = spare_.find(sqlText); spare != spare_.end() && !spare->second.empty()) {
    sqlite3_stmt* st = spare->second.back();
    spare->second.pop_back();
    owned_.push_back(st);
    return st;
  }
  sqlite3_stmt* st = PrepareNew(sqlText);
  owned_.push_back(st);
  return st;
}

void Connection::ReleaseOwned(sqlite3_stmt* st) {
  if (!db_ || st == nullptr) return;  // Close finalized it
  RemoveScan(st);
  for (size_t i = 0; i < owned_.size(); ++i) {
    if (owned_[i] == st) {
      owned_[i] = owned_.back();
      owned_.pop_back();
      // Kept for the next record set over the same statement (one per user
      // and pass): compiling it again would cost more than the walk it serves.
      sqlite3_reset(st);
      spare_[sqlite3_sql(st)].push_back(st);
      return;
    }
  }
}

void Connection::DropPending() {
  for (auto& [table, rows] : pending_) rows = 0;
}

void Connection::RemoveScan(sqlite3_stmt* st) {
  for (size_t i = 0; i < scans_.size(); ++i) {
    if (scans_[i] == st) {
      scans_[i] = scans_.back();
      scans_.pop_back();
      return;
    }
  }
}

void Connection::StopScans() {
  if (scans_.empty()) return;
  for (sqlite3_stmt* st : scans_) sqlite3_reset(st);
  scans_.clear();
  ++scanEpoch_;
}

void Connection::Exec(const std::string& sqlText) {
  CheckOpen();
  StopScans();
  const int rc = sqlite3_exec(db_, sqlText.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) FailStorage(sqlite3_extended_errcode(db_));
}

void Connection::BeginWrite() {
  CheckOpen();
  StopScans();
  if (inTransaction_ && sqlite3_get_autocommit(db_)) inTransaction_ = false;
  if (!inTransaction_) {
    DropPending();  // of a transaction SQLite gave up
    Exec("BEGIN IMMEDIATE");
    inTransaction_ = true;
  }
}

void Connection::AfterFailedWrite() {
  if (db_ && inTransaction_ && sqlite3_get_autocommit(db_)) {
    inTransaction_ = false;
    DropPending();
  }
}

void Connection::Commit() {
  CheckOpen();
  StopScans();
  if (!readOnly_ && !StillInPlace()) {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    DropPending();
    inTransaction_ = false;
    FailReplaced();
  }
  if (inTransaction_ && !sqlite3_get_autocommit(db_)) {
    Exec("COMMIT");
    for (auto& [table, rows] : pending_) committed_[table] += rows;
  }
  DropPending();
  inTransaction_ = false;
}

void Connection::Rollback() {
  CheckOpen();
  StopScans();
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  DropPending();
  inTransaction_ = false;
  // What record sets keep in memory about the rows undone is stale now.
  for (auto& [table, generation] : generations_) ++generation;
}

int64_t Connection::DataVersion() {
  sqlite3_stmt* st = Prepare("PRAGMA data_version");
  StmtUse use(st);
  if (sqlite3_step(st) != SQLITE_ROW) FailStorage(sqlite3_extended_errcode(db_));
  return sqlite3_column_int64(st, 0);
}

void Connection::Close() {
  if (!db_) return;
  StopScans();
  int failure = 0;
  std::string detail;
  const bool replaced = !readOnly_ && !StillInPlace();
  if (replaced && !sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  } else if (inTransaction_ && !sqlite3_get_autocommit(db_)) {
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      failure = sqlite3_extended_errcode(db_);
      detail = sqlite3_errmsg(db_);
      const int sys = sqlite3_system_errno(db_);
      if ((failure & 0xff) == SQLITE_FULL || failure == SQLITE_IOERR_WRITE || failure == SQLITE_IOERR_FSYNC ||
          sys == ENOSPC || sys == EFBIG)
        failure = SQLITE_FULL;
    } else {
      for (auto& [table, rows] : pending_) committed_[table] += rows;
    }
  }
  DropPending();
  inTransaction_ = false;
  for (auto& [text, st] : statements_) sqlite3_finalize(st);
  statements_.clear();
  for (sqlite3_stmt* st : owned_) sqlite3_finalize(st);
  owned_.clear();
  for (auto& [text, spares] : spare_) {
    for (sqlite3_stmt* st : spares) sqlite3_finalize(st);
  }
  spare_.clear();
  tables_.clear();
  if (!readOnly_ && !replaced) ReturnToRollback();
  // SQLite keeps the log of a file moved away or deleted under it; left by
  // the path, it would be taken for the log of the file now there.
  const bool orphanLog = replaced && JournalMode(db_) == "wal";
  sqlite3_close_v2(db_);
  db_ = nullptr;
  if (orphanLog) {
    std::error_code ec;
    for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(real_.string() + suffix, ec);
  }
  if (replaced) FailReplaced();
  if (failure == SQLITE_FULL) FailNoSpace();
  if (failure != 0) {
    Fail((failure & 0xff) == SQLITE_BUSY ? dberr::kLocked : err::kOtherEngineError,
         "The last changes could not be saved when the database was closed: " + detail + ".", Cause::kEnvironment);
  }
}

std::shared_ptr<const TableInfo> Connection::FindTable(std::string_view name) {
  CheckOpen();
  std::string key = LowerAscii(name);
  auto it = tables_.find(key);
  if (it != tables_.end()) return it->second;
  auto info = LoadTable(std::string(name));
  if (info) tables_.emplace(std::move(key), info);
  return info;
}

std::shared_ptr<const TableInfo> Connection::Table(std::string_view name) {
  auto info = FindTable(name);
  if (!info) {
    throw Error(err::kCannotFindTable,
                "Cannot find table '" + std::string(name) + "' in '" + file_.string() + "'.");
  }
  return info;
}

std::vector<std::string> Connection::TableNames() {
  sqlite3_stmt* st = Prepare(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid");
  StmtUse use(st);
  std::vector<std::string> names;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) names.push_back(ReadValue(st, 0).AsText());
  if (rc != SQLITE_DONE) FailStorage(sqlite3_extended_errcode(db_));
  return names;
}

std::shared_ptr<const TableInfo> Connection::LoadTable(const std::string& name) {
  auto info = std::make_shared<TableInfo>();
  {
    sqlite3_stmt* st = Prepare(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE "
        "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
    StmtUse use(st);
    sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) return nullptr;
    if (rc != SQLITE_ROW) FailStorage(sqlite3_extended_errcode(db_));
    info->name = ReadValue(st, 0).AsText();
  }
  info->quoted = Quote(info->name);
  {
    sqlite3_stmt* st = Prepare("SELECT name, type, \"notnull\" FROM pragma_table_info(?1) ORDER BY cid");
    StmtUse use(st);
    sqlite3_bind_text(st, 1, info->name.data(), static_cast<int>(info->name.size()), SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      const Value declared = ReadValue(st, 1);
      FieldDef f = FieldFromDeclared(ReadValue(st, 0).AsText(), declared.IsNull() ? "" : declared.AsText());
      info->columns.push_back(ColumnInfo{f.name, f.type, f.size, sqlite3_column_int(st, 2) != 0});
    }
    if (rc != SQLITE_DONE) FailStorage(sqlite3_extended_errcode(db_));
  }
  std::vector<std::pair<std::string, bool>> indexes;
  {
    sqlite3_stmt* st = Prepare(
        "SELECT m.name, l.\"unique\" FROM sqlite_master AS m JOIN pragma_index_list(?1) AS l ON l.name = m.name "
        "WHERE m.type = 'index' AND m.tbl_name = ?1 ORDER BY m.rowid");
    StmtUse use(st);
    sqlite3_bind_text(st, 1, info->name.data(), static_cast<int>(info->name.size()), SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      indexes.emplace_back(ReadValue(st, 0).AsText(), sqlite3_column_int(st, 1) != 0);
    }
    if (rc != SQLITE_DONE) FailStorage(sqlite3_extended_errcode(db_));
  }
  for (auto& [stored, unique] : indexes) {
    IndexInfo ix;
    ix.stored = stored;
    ix.unique = unique;
    const std::string prefix = info->name + "_";
    ix.name = (stored.size() > prefix.size() && EqualNoCase(std::string_view(stored).substr(0, prefix.size()), prefix))
                  ? stored.substr(prefix.size())
                  : stored;
    sqlite3_stmt* st = Prepare("SELECT name FROM pragma_index_info(?1) ORDER BY seqno LIMIT 1");
    StmtUse use(st);
    sqlite3_bind_text(st, 1, stored.data(), static_cast<int>(stored.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) {
      const Value col = ReadValue(st, 0);
      if (!col.IsNull()) ix.column = col.AsText();
    }
    ix.columnIndex = info->FindColumn(ix.column);
    ix.primary = ix.unique && ix.columnIndex >= 0 && info->columns[static_cast<size_t>(ix.columnIndex)].notNull;
    info->indexes.push_back(std::move(ix));
  }
  return info;
}

}  // namespace prax::db

namespace prax::db {

std::optional<int64_t> NumberFromText(std::string_view text, bool allowFraction) {
  size_t p = 0, end = text.size();
  while (p < end && (text[p] == ' ' || text[p] == '\t')) ++p;
  while (end > p && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  bool negative = false;
  if (p < end && (text[p] == '-' || text[p] == '+')) {
    negative = text[p] == '-';
    ++p;
  }
  uint64_t magnitude = 0;
  bool digits = false;
  while (p < end && text[p] >= '0' && text[p] <= '9') {
    const uint64_t d = static_cast<uint64_t>(text[p] - '0');
    if (magnitude > (UINT64_MAX - d) / 10) return std::nullopt;
    magnitude = magnitude * 10 + d;
    digits = true;
    ++p;
  }
  if (p < end && text[p] == '.' && allowFraction) {
    ++p;
    const size_t fracStart = p;
    while (p < end && text[p] >= '0' && text[p] <= '9') ++p;
    if (p == fracStart && !digits) return std::nullopt;
    if (p > fracStart) {
      const char first = text[fracStart];
      bool rest = false;
      for (size_t i = fracStart + 1; i < p; ++i) rest = rest || text[i] != '0';
      const bool up = first > '5' || (first == '5' && (rest || (magnitude % 2) == 1));
      if (up) ++magnitude;
    }
    digits = true;
  }
  if (!digits || p != end) return std::nullopt;
  const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
  if (magnitude > limit) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

int ResolveColumn(const Connection& conn, const TableInfo& table, const sql::ColumnRef& ref) {
  int column = -1;
  if (ref.table.empty() || EqualNoCase(ref.table, table.name)) column = table.FindColumn(ref.column);
  if (column < 0) conn.Fail(err::kItemNotFound, "Item not found in this collection: '" + ref.Text() + "'.");
  return column;
}

Term TextTerm(int column, sql::Op op, std::string_view literal) {
  Term t;
  t.column = column;
  t.op = op;
  const auto other = std::find_if(literal.begin(), literal.end(), [](char c) { return (c & 0x80) != 0; });
  if (other == literal.end()) {
    t.literal = Value(std::string(literal));
    return t;
  }
  t.folded = true;
  t.literal = Value(text::FoldCase1252(literal));
  if (op == sql::Op::Eq) {
    // Every letter with a case partner beyond ASCII is written with lead
    // byte C3 or C5 in either case; any other character is matched as it is.
    const std::string_view head = literal.substr(0, static_cast<size_t>(other - literal.begin()));
    const auto lead = static_cast<unsigned char>(*other);
    t.low = std::string(head) + static_cast<char>(std::min<unsigned char>(lead, 0xC3));
    t.high = std::string(head) + static_cast<char>(std::max<unsigned char>(lead, 0xC5)) + '\xFF';
  }
  return t;
}

std::vector<Term> ResolveTerms(const Connection& conn, const TableInfo& table, const sql::Expr& expr) {
  std::vector<Term> terms;
  terms.reserve(expr.terms.size());
  for (const auto& c : expr.terms) {
    const int column = ResolveColumn(conn, table, c.column);
    const ColumnInfo& col = table.columns[static_cast<size_t>(column)];
    if (col.type == FieldType::Text) {
      terms.push_back(TextTerm(column, c.op, c.literal.IsInt() ? std::to_string(c.literal.AsInt()) : c.literal.TextRef()));
      continue;
    }
    Term t;
    t.column = column;
    t.op = c.op;
    if (c.literal.IsText()) {
      const auto n = NumberFromText(c.literal.TextRef(), true);
      if (!n) {
        conn.Fail(dberr::kCriteriaTypeMismatch, "Data type mismatch in criteria expression '" + expr.text + "'.");
      }
      t.literal = Value(*n);
    } else {
      t.literal = c.literal;
    }
    terms.push_back(std::move(t));
  }
  return terms;
}

std::string TermsSql(const TableInfo& table, const std::vector<Term>& terms) {
  std::string s;
  for (const auto& t : terms) {
    if (!s.empty()) s += " AND ";
    const ColumnInfo& col = table.columns[static_cast<size_t>(t.column)];
    const std::string q = Quote(col.name);
    if (t.folded && t.op == sql::Op::Eq) s += "(" + q + " >= ? COLLATE NOCASE AND " + q + " < ? COLLATE NOCASE AND ";
    s += t.folded ? FoldSql(col.name) : q;
    switch (t.op) {
      case sql::Op::Eq: s += " = ?"; break;
      case sql::Op::Ne: s += " <> ?"; break;
      case sql::Op::Gt: s += " > ?"; break;
    }
    if (t.folded) {
      if (t.op == sql::Op::Eq) s += ")";
    } else if (col.type == FieldType::Text) {
      s += " COLLATE NOCASE";
    }
  }
  return s;
}

int BindTerms(sqlite3_stmt* st, int index, const std::vector<Term>& terms) {
  for (const auto& t : terms) {
    if (t.folded && t.op == sql::Op::Eq) {
      sqlite3_bind_text(st, index++, t.low.data(), static_cast<int>(t.low.size()), SQLITE_STATIC);
      sqlite3_bind_text(st, index++, t.high.data(), static_cast<int>(t.high.size()), SQLITE_STATIC);
    }
    BindValue(st, index++, t.literal);
  }
  return index;
}

}  // namespace prax::db

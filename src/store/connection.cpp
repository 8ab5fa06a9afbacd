#include "store/connection.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "platform/fs.h"
#include "platform/text.h"
#include "store/journal_guard.h"
#include "store/schema.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace prax::db {

namespace {

// A database path as messages show it.
std::string Shown(const std::filesystem::path& p) { return fs::ForDisplay(fs::ToText(p)); }

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
    const std::string& text = v.TextRef();
    sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
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

void Connection::Track(const std::filesystem::path& real, bool readOnly, bool recorded) {
  real_ = real;
  readOnly_ = readOnly;
  recorded_ = recorded;
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
              "The database file '" + Shown(file_) +
                  "' was removed or replaced by another file while this command was using it (moved, copied "
                  "or deleted by another program). The command stopped; what it wrote since the last "
                  "commit is not in the file now in its place. Check that the right file is in place (restore "
                  "it from a backup if needed), then run the command again.", Cause::kEnvironment);
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
  leftInUse_ = "'" + Shown(file_) +
               "' is held open by another program, so it stays in WAL mode with its -wal and -shm files beside "
               "it; the next command returns it to the rollback journal once that program has closed it.";
}

void Connection::CheckOpen() const {
  if (!db_) {
    throw Error(err::kObjectInvalid,
                "Object invalid or no longer set: the database was closed (" + Shown(file_) + ")", Cause::kData);
  }
}

void Connection::Fail(ErrorKind kind, const std::string& message, Cause cause) const {
  throw Error(kind, message + " (" + Shown(file_) + ")", cause);
}

void Connection::Rethrow(const Error& e) const {
  Fail(e.Kind(), e.what(), e.Origin());
}

void Connection::FailStorage(int rc) const {
  const std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  constexpr Cause env = Cause::kEnvironment;
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Fail(err::kLocked,
           "The database is locked by another program, which held it longer than the wait allows. Run the command "
           "again when that program has finished; the days stored before are kept.", env);
    case SQLITE_READONLY:
      Fail(err::kReadOnly, "Cannot update. Database or object is read-only. Make the file and its folder "
                             "writable for the account that runs the command, then run it again.", env);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      Fail(err::kCannotOpenFile, "Cannot open the database file: " + detail + ".", env);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      Fail(err::kUnrecognizedFormat, "Unrecognized database format '" + Shown(file_) +
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
        Fail(err::kNullInIndexedField, "Index or primary key cannot contain a Null value: " + detail + ".", Cause::kData);
      }
      Fail(err::kOtherEngineError, "The database refused the change: " + detail + ".", Cause::kData);
    default:
      Fail(err::kOtherEngineError, "The database reported an error: " + detail + ".", Cause::kData);
  }
}

void Connection::FailNoSpace() const {
  Fail(err::kNotEnoughSpace,
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

void Connection::DropPending() {
  for (auto& [table, rows] : pending_) rows = 0;
}

void Connection::Exec(const std::string& sqlText) {
  CheckOpen();
  const int rc = sqlite3_exec(db_, sqlText.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) FailStorage(sqlite3_extended_errcode(db_));
}

void Connection::BeginWrite() {
  CheckOpen();
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
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  DropPending();
  inTransaction_ = false;
}

int64_t Connection::DataVersion() {
  sqlite3_stmt* st = Prepare("PRAGMA data_version");
  StmtUse use(st);
  if (sqlite3_step(st) != SQLITE_ROW) FailStorage(sqlite3_extended_errcode(db_));
  return sqlite3_column_int64(st, 0);
}

void Connection::Close() {
  if (!db_) return;
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
  if (recorded_) ForgetWriting(real_);
  if (replaced) FailReplaced();
  if (failure == SQLITE_FULL) FailNoSpace();
  if (failure != 0) {
    Fail((failure & 0xff) == SQLITE_BUSY ? err::kLocked : err::kOtherEngineError,
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
                "Cannot find table '" + std::string(name) + "' in '" + Shown(file_) + "'.", Cause::kData);
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

Connection& ConnectionOf(Database& db) { return *db.conn_; }

TableWriter::TableWriter(Database& db, std::string table, std::vector<std::string> columns)
    : db_(db), table_(std::move(table)), columns_(std::move(columns)) {}

void TableWriter::Resolve() {
  Connection& c = ConnectionOf(db_);
  const auto info = c.Table(table_);
  if (!stored_.empty() && storedTable_ == info->name) return;
  std::vector<ColumnInfo> stored;
  std::string names, marks;
  for (const auto& column : columns_) {
    const int i = info->FindColumn(column);
    if (i < 0) c.Fail(err::kItemNotFound, "Item not found in this collection: '" + table_ + "." + column + "'.", Cause::kData);
    stored.push_back(info->columns[static_cast<size_t>(i)]);
    names += (names.empty() ? "" : ", ") + Quote(stored.back().name);
    marks += marks.empty() ? "?" : ", ?";
  }
  stored_ = std::move(stored);
  storedTable_ = info->name;
  insert_ = c.Prepare("INSERT INTO " + info->quoted + " (" + names + ") VALUES (" + marks + ")");
}

namespace {

// Whether a value fits its column, the common case checked without building
// anything; CheckValue says why one does not.
bool Fits(const ColumnInfo& col, const Value& v) {
  if (v.IsNull()) return !col.notNull;
  switch (col.type) {
    case FieldType::Integer:
      return v.IsInt() && v.IntValue() >= -32768 && v.IntValue() <= 32767;
    case FieldType::Long:
      return v.IsInt() && v.IntValue() >= -2147483648LL && v.IntValue() <= 2147483647LL;
    case FieldType::Text:
      return v.IsText() && !v.TextRef().empty() && v.TextRef().size() <= static_cast<size_t>(col.size);
  }
  return false;
}

}  // namespace

void TableWriter::CheckOne(size_t column, const Value& v) const {
  const ColumnInfo& col = stored_[column];
  if (Fits(col, v)) return;
  const Connection& c = ConnectionOf(db_);
  if (v.IsNull() && col.notNull) {
    c.Fail(err::kNullInIndexedField,
           "Index or primary key cannot contain a Null value: field '" + storedTable_ + "." + col.name + "'.", Cause::kData);
  }
  try {
    CheckValue(storedTable_, FieldDef{col.name, col.type, col.size}, v);
  } catch (const Error& e) {
    c.Rethrow(e);
  }
}

void TableWriter::Check(const std::vector<std::pair<size_t, Value>>& values) {
  Resolve();
  for (const auto& [column, v] : values) CheckOne(column, v);
}

void FailDuplicate(const Connection& c, const std::string& index) {
  c.Fail(err::kDuplicateValue,
         "The changes you requested to the table were not successful because they would create duplicate values "
         "in the index '" + index + "'.", Cause::kData);
}

void TableWriter::RunWrite(Connection& c, sqlite3_stmt* st) {
  c.BeginWrite();
  StmtUse use(st);
  if (sqlite3_step(st) == SQLITE_DONE) return;
  const int rc = sqlite3_extended_errcode(c.Handle());
  const std::string detail = sqlite3_errmsg(c.Handle());
  c.AfterFailedWrite();
  if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
    // "UNIQUE constraint failed: Table.Column": the index is named as the schema names it.
    const size_t colon = detail.rfind(": "), dot = detail.rfind('.');
    std::string index = dot == std::string::npos ? detail : detail.substr(dot + 1);
    if (colon != std::string::npos && dot != std::string::npos && dot > colon) {
      if (const auto info = c.FindTable(detail.substr(colon + 2, dot - colon - 2))) {
        for (const auto& ix : info->indexes) {
          if (ix.unique && EqualNoCase(ix.column, index)) {
            index = ix.name;
            break;
          }
        }
      }
    }
    FailDuplicate(c, index);
  }
  c.FailStorage(rc);
}

int64_t TableWriter::Append(std::span<const Value> values) {
  Resolve();
  for (size_t i = 0; i < values.size() && i < stored_.size(); ++i) CheckOne(i, values[i]);
  Connection& c = ConnectionOf(db_);
  for (size_t i = 0; i < stored_.size(); ++i) {
    BindValue(insert_, static_cast<int>(i) + 1, i < values.size() ? values[i] : Value());
  }
  RunWrite(c, insert_);
  ++c.PendingRows(table_);
  return sqlite3_last_insert_rowid(c.Handle());
}

SqliteListTable::SqliteListTable(Database& db, std::string table, std::string idColumn, std::string nameColumn)
    : db_(db), id_(idColumn), name_(nameColumn), writer_(db, std::move(table), {idColumn, nameColumn}) {}

std::optional<int64_t> SqliteListTable::MaxId() {
  Connection& c = ConnectionOf(db_);
  const auto info = c.Table(TableName());
  std::optional<int64_t> max;
  ForEachRow(c, c.Prepare("SELECT MAX(" + Quote(id_) + ") FROM " + info->quoted), [&](sqlite3_stmt* st) {
    const Value v = ReadValue(st, 0);
    if (!v.IsNull()) max = v.AsInt();
  });
  return max;
}

std::vector<store::ListEntry> SqliteListTable::Entries() {
  Connection& c = ConnectionOf(db_);
  const auto info = c.Table(TableName());
  std::vector<store::ListEntry> entries;
  const std::string sqlText =
      "SELECT " + Quote(id_) + ", " + Quote(name_) + " FROM " + info->quoted + " ORDER BY rowid";
  ForEachRow(c, c.Prepare(sqlText), [&](sqlite3_stmt* st) {
    store::ListEntry e;
    const Value id = ReadValue(st, 0), name = ReadValue(st, 1);
    if (!id.IsNull()) e.id = id.AsInt();
    if (!name.IsNull()) e.name = name.AsText();
    entries.push_back(std::move(e));
  });
  return entries;
}

void SqliteListTable::Insert(int16_t id, std::string_view name) {
  writer_.Append({Value(int{id}), Value(std::string(name))});
}

void SqliteListTable::BeginWrite() { db_.BeginWrite(); }

int64_t SqliteListTable::DataVersion() { return db_.DataVersion(); }

}  // namespace prax::db

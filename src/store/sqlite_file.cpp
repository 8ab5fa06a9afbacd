#include "store/sqlite_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "platform/fs.h"
#include "platform/text.h"
#include "store/journal_guard.h"

namespace prax::db {

namespace {

// A database path as messages show it.
std::string Shown(const std::filesystem::path& p) { return fs::ForDisplay(fs::ToText(p)); }

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

std::string JournalMode(sqlite3* h, const char* set) {
  const std::string sqlText = set ? std::string("PRAGMA journal_mode = ") + set : "PRAGMA journal_mode";
  std::string mode;
  auto keep = [](void* out, int, char** values, char**) {
    if (values[0]) *static_cast<std::string*>(out) = text::ToUpperAscii(values[0]);
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
    if (text::EqualsIgnoreCase(columns[i].name, column)) return static_cast<int>(i);
  }
  return -1;
}

SqliteFile::SqliteFile(sqlite3* handle, std::filesystem::path file) : db_(handle), file_(std::move(file)) {
  // Should this fail (no memory), a statement using the function fails to
  // prepare and reports it then.
  sqlite3_create_function_v2(db_, kFoldFunction, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                             FoldFunction, nullptr, nullptr, nullptr);
}

SqliteFile::~SqliteFile() {
  try {
    Close();
  } catch (const Error&) {
    // Nothing more can be done about a failing commit while the handle goes away.
  }
}

void SqliteFile::Track(const std::filesystem::path& real, bool readOnly, bool recorded) {
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

bool SqliteFile::StillInPlace() const {
  if (!tracked_) return true;
#ifndef _WIN32
  struct stat st {};
  if (::stat(real_.c_str(), &st) != 0) return errno != ENOENT && errno != ENOTDIR;
  return static_cast<uint64_t>(st.st_dev) == device_ && static_cast<uint64_t>(st.st_ino) == inode_;
#else
  return true;
#endif
}

void SqliteFile::FailReplaced() const {
  throw Error(err::kOtherEngineError,
              "The database file '" + Shown(file_) +
                  "' was removed or replaced by another file while this command was using it (moved, copied "
                  "or deleted by another program). The command stopped; what it wrote since the last "
                  "commit is not in the file now in its place. Check that the right file is in place (restore "
                  "it from a backup if needed), then run the command again.", Cause::kEnvironment);
}

void SqliteFile::ReturnToRollback() {
  // The mode is read without waiting: a file another program holds locked
  // is in no mode this connection set.
  sqlite3_busy_timeout(db_, 0);
  if (JournalMode(db_) != "WAL") return;
  // Readers that hold the file open keep it in WAL mode; they are not waited
  // for long.
  sqlite3_busy_timeout(db_, 1000);
  if (JournalMode(db_, "DELETE") == "DELETE") return;
  leftInUse_ = "'" + Shown(file_) +
               "' is held open by another program, so it stays in WAL mode with its -wal and -shm files beside "
               "it; the next command returns it to the rollback journal once that program has closed it.";
}

void SqliteFile::CheckOpen() const {
  if (!db_) {
    throw Error(err::kObjectInvalid,
                "Object invalid or no longer set: the database was closed (" + Shown(file_) + ")", Cause::kData);
  }
}

void SqliteFile::Fail(ErrorKind kind, const std::string& message, Cause cause) const {
  throw Error(kind, message + " (" + Shown(file_) + ")", cause);
}

void SqliteFile::Rethrow(const Error& e) const {
  Fail(e.Kind(), e.what(), e.Origin());
}

void SqliteFile::FailStorage(int rc) const {
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

void SqliteFile::FailNoSpace() const {
  Fail(err::kNotEnoughSpace,
       "Not enough space on disk: the database file could not be written (the disk is full, the file may not "
       "grow any further, or the disk or its network connection failed). Free disk space (or raise the "
       "file-size limit) and check the connection, then run the command again; the days stored before are "
       "kept and the rest are loaded then.", Cause::kEnvironment);
}

sqlite3_stmt* SqliteFile::PrepareNew(const std::string& sqlText) {
  sqlite3_stmt* st = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sqlText.c_str(), static_cast<int>(sqlText.size()),
                                    SQLITE_PREPARE_PERSISTENT, &st, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    FailStorage(sqlite3_extended_errcode(db_));
  }
  return st;
}

sqlite3_stmt* SqliteFile::Prepare(const std::string& sqlText) {
  CheckOpen();
  auto it = statements_.find(sqlText);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* st = PrepareNew(sqlText);
  statements_.emplace(sqlText, st);
  return st;
}

void SqliteFile::DropPending() {
  for (auto& [table, rows] : pending_) rows = 0;
}

void SqliteFile::Exec(const std::string& sqlText) {
  CheckOpen();
  const int rc = sqlite3_exec(db_, sqlText.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) FailStorage(sqlite3_extended_errcode(db_));
}

void SqliteFile::BeginWrite() {
  CheckOpen();
  if (inTransaction_ && sqlite3_get_autocommit(db_)) inTransaction_ = false;
  if (!inTransaction_) {
    DropPending();  // of a transaction SQLite gave up
    Exec("BEGIN IMMEDIATE");
    inTransaction_ = true;
  }
}

void SqliteFile::AfterFailedWrite() {
  if (db_ && inTransaction_ && sqlite3_get_autocommit(db_)) {
    inTransaction_ = false;
    DropPending();
  }
}

void SqliteFile::Commit() {
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

void SqliteFile::Rollback() {
  CheckOpen();
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  DropPending();
  inTransaction_ = false;
}

int64_t SqliteFile::DataVersion() {
  sqlite3_stmt* st = Prepare("PRAGMA data_version");
  StmtUse use(st);
  if (sqlite3_step(st) != SQLITE_ROW) FailStorage(sqlite3_extended_errcode(db_));
  return sqlite3_column_int64(st, 0);
}

void SqliteFile::Close() {
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
  const bool orphanLog = replaced && JournalMode(db_) == "WAL";
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

std::shared_ptr<const TableInfo> SqliteFile::FindTable(std::string_view name) {
  CheckOpen();
  std::string key = text::ToUpperAscii(name);
  auto it = tables_.find(key);
  if (it != tables_.end()) return it->second;
  auto info = LoadTable(std::string(name));
  if (info) tables_.emplace(std::move(key), info);
  return info;
}

std::shared_ptr<const TableInfo> SqliteFile::Table(std::string_view name) {
  auto info = FindTable(name);
  if (!info) {
    throw Error(err::kCannotFindTable,
                "Cannot find table '" + std::string(name) + "' in '" + Shown(file_) + "'.", Cause::kData);
  }
  return info;
}

std::shared_ptr<const TableInfo> SqliteFile::LoadTable(const std::string& name) {
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
    ix.unique = unique;
    const std::string prefix = info->name + "_";
    ix.name = (stored.size() > prefix.size() && text::EqualsIgnoreCase(std::string_view(stored).substr(0, prefix.size()), prefix))
                  ? stored.substr(prefix.size())
                  : stored;
    sqlite3_stmt* st = Prepare("SELECT name FROM pragma_index_info(?1) ORDER BY seqno LIMIT 1");
    StmtUse use(st);
    sqlite3_bind_text(st, 1, stored.data(), static_cast<int>(stored.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) {
      const Value col = ReadValue(st, 0);
      if (!col.IsNull()) ix.column = col.AsText();
    }
    info->indexes.push_back(std::move(ix));
  }
  return info;
}

TableWriter::TableWriter(SqliteFile& file, std::string table, std::vector<std::string> columns)
    : file_(file), table_(std::move(table)), columns_(std::move(columns)) {}

void TableWriter::Resolve() {
  SqliteFile& c = file_;
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
  batches_.assign(kBatchRows + 1, nullptr);
}

sqlite3_stmt* TableWriter::Batch(size_t rows) {
  if (rows == 1) return insert_;
  if (!batches_[rows]) {
    std::string sqlText = sqlite3_sql(insert_);
    const std::string values = sqlText.substr(sqlText.rfind(" ("));
    for (size_t r = 1; r < rows; ++r) sqlText += "," + values;
    batches_[rows] = file_.Prepare(sqlText);
  }
  return batches_[rows];
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
  const SqliteFile& c = file_;
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

void FailDuplicate(const SqliteFile& c, const std::string& index) {
  c.Fail(err::kDuplicateValue,
         "The changes you requested to the table were not successful because they would create duplicate values "
         "in the index '" + index + "'.", Cause::kData);
}

void TableWriter::RunWrite(SqliteFile& c, sqlite3_stmt* st) {
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
          if (ix.unique && text::EqualsIgnoreCase(ix.column, index)) {
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
  SqliteFile& c = file_;
  for (size_t i = 0; i < stored_.size(); ++i) {
    BindValue(insert_, static_cast<int>(i) + 1, i < values.size() ? values[i] : Value());
  }
  RunWrite(c, insert_);
  ++c.PendingRows(table_);
  return sqlite3_last_insert_rowid(c.Handle());
}

void TableWriter::Add(std::span<Value> values) {
  Resolve();
  bool alone = values.size() != stored_.size();
  for (size_t i = 0; i < values.size() && i < stored_.size(); ++i) {
    const Value& v = values[i];
    if (!Fits(stored_[i], v)) {
      CheckOne(i, v);  // throws, or the value passed by a rule the engine applies again
      alone = true;
    } else if (v.IsText() && v.TextRef()[0] == '\0') {
      alone = true;
    }
  }
  if (alone) {
    Flush();
    Append(std::span<const Value>(values));
    return;
  }
  for (Value& v : values) kept_.push_back(std::move(v));
  if (kept_.size() >= kBatchRows * stored_.size()) Flush();
}

void TableWriter::BindKept(sqlite3_stmt* st, size_t row, int first) {
  const size_t width = stored_.size();
  for (size_t i = 0; i < width; ++i) {
    const Value& v = kept_[row * width + i];
    const int at = first + static_cast<int>(i) + 1;
    if (v.IsInt()) {
      sqlite3_bind_int64(st, at, v.IntValue());
    } else if (v.IsText()) {
      // Kept until the statement has run.
      sqlite3_bind_text(st, at, v.TextRef().data(), static_cast<int>(v.TextRef().size()), SQLITE_STATIC);
    } else {
      sqlite3_bind_null(st, at);
    }
  }
}

void TableWriter::StoreKept(size_t row) {
  BindKept(insert_, row, 0);
  try {
    RunWrite(file_, insert_);
  } catch (const Error& e) {
    if (e.Environment()) throw;
    std::string shown;
    for (size_t i = 0; i < stored_.size(); ++i) {
      shown += (i == 0 ? "" : ", ") + kept_[row * stored_.size() + i].Describe();
    }
    throw e.WithContext("The row (" + shown + ") of '" + storedTable_ + "'");
  }
  ++file_.PendingRows(table_);
}

void TableWriter::Flush() {
  if (kept_.empty()) return;
  const size_t width = stored_.size(), rows = kept_.size() / width;
  struct Forget {
    std::vector<Value>& kept;
    ~Forget() { kept.clear(); }
  } forget{kept_};
  std::optional<Error> refused;
  for (size_t row = 0; row < rows;) {
    const size_t n = std::min(kBatchRows, rows - row);
    sqlite3_stmt* st = Batch(n);
    for (size_t r = 0; r < n; ++r) BindKept(st, row + r, static_cast<int>(r * width));
    try {
      RunWrite(file_, st);
      file_.PendingRows(table_) += static_cast<int64_t>(n);
    } catch (const Error& e) {
      if (e.Environment()) throw;
      // The statement stored none of them: row by row, to keep the good
      // rows and name the one refused.
      for (size_t r = row; r < row + n; ++r) {
        try {
          StoreKept(r);
        } catch (const Error& one) {
          if (one.Environment()) throw;
          if (!refused) refused = one;
        }
      }
    }
    row += n;
  }
  if (refused) throw *refused;
}

SqliteListTable::SqliteListTable(SqliteFile& file, std::string table, std::string idColumn, std::string nameColumn)
    : file_(file), id_(idColumn), name_(nameColumn), writer_(file, std::move(table), {idColumn, nameColumn}) {}

std::optional<int64_t> SqliteListTable::MaxId() {
  SqliteFile& c = file_;
  const auto info = c.Table(TableName());
  std::optional<int64_t> max;
  ForEachRow(c, c.Prepare("SELECT MAX(" + Quote(id_) + ") FROM " + info->quoted), [&](sqlite3_stmt* st) {
    const Value v = ReadValue(st, 0);
    if (!v.IsNull()) max = v.AsInt();
  });
  return max;
}

std::vector<store::ListEntry> SqliteListTable::Entries() {
  SqliteFile& c = file_;
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

void SqliteListTable::BeginWrite() { file_.BeginWrite(); }

int64_t SqliteListTable::DataVersion() { return file_.DataVersion(); }

// ---------------------------------------------------------------------------
// Opening and creating

namespace {

constexpr int kBusyTimeoutMs = 5000;

// SQLite takes file names in UTF-8 on every platform.
std::string Utf8(const std::filesystem::path& p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

[[noreturn]] void CannotOpen(const std::string& shown, Cause cause) {
  throw Error(err::kCannotOpenFile,
              "Cannot open the database file '" + shown +
                  "' for writing: the file is read-only, its folder is not writable (the journal files are kept "
                  "beside the file), or another program holds it locked. Make the file and its folder writable "
                  "for the account that runs the command, or close the other program, then try again; nothing "
                  "was written to it.",
              cause);
}

[[noreturn]] void Unrecognized(const std::string& shown, const std::string& why) {
  throw Error(err::kUnrecognizedFormat, "Unrecognized database format '" + shown + "'. " + why, Cause::kData);
}

// Refuses files that are not databases of ours, looking at the header only.
void CheckHeader(const std::filesystem::path& real, const std::string& shown) {
  std::ifstream in(real, std::ios::binary);
  if (!in) CannotOpen(shown, Cause::kEnvironment);
  std::array<char, 100> h{};
  in.read(h.data(), static_cast<std::streamsize>(h.size()));
  const auto got = static_cast<size_t>(in.gcount());
  if (got >= 19 && (std::memcmp(h.data() + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(h.data() + 4, "Standard ACE DB", 15) == 0)) {
    throw Error(err::kUnrecognizedFormat,
                "The file '" + shown +
                    "' is an Access database from an earlier installation, in a format this program neither reads "
                    "nor converts; it was left unchanged. Keep it for that installation's reports and move it out "
                    "of this folder.", Cause::kData);
  }
  if (got < 100 || std::memcmp(h.data(), "SQLite format 3", 16) != 0) {
    Unrecognized(shown, "The file is not a database of this program and was left unchanged; put the right file in "
                        "its place (restore it from a backup).");
  }
  const auto b = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(h[static_cast<size_t>(i)])); };
  const uint32_t appId = (b(68) << 24) | (b(69) << 16) | (b(70) << 8) | b(71);
  if (appId != 0 && appId != static_cast<uint32_t>(kApplicationId)) {
    Unrecognized(shown, "The file belongs to another program and was left unchanged; put the right file in its "
                        "place (restore it from a backup).");
  }
  // A file shorter than the pages its header counts was cut short (an
  // interrupted copy, a full disk). A journal beside it may still complete
  // it, so the storage's own recovery decides then.
  const uint32_t pageSize = b(16) == 0 && b(17) == 1 ? 65536u : (b(16) << 8) | b(17);
  const uint32_t pages = (b(28) << 24) | (b(29) << 16) | (b(30) << 8) | b(31);
  const bool countValid = std::memcmp(h.data() + 24, h.data() + 92, 4) == 0;
  std::error_code ec;
  const auto size = std::filesystem::file_size(real, ec);
  auto besideIt = [&](const char* suffix) {
    std::error_code e;
    return std::filesystem::file_size(std::filesystem::path(real.string() + suffix), e) > 0 && !e;
  };
  if (!ec && countValid && pages > 0 && size < static_cast<uintmax_t>(pages) * pageSize && !besideIt("-wal") &&
      !besideIt("-journal")) {
    Unrecognized(shown, "The file is damaged: it is shorter than its own header says (" + std::to_string(size) +
                            " of " + std::to_string(static_cast<uintmax_t>(pages) * pageSize) +
                            " bytes), as after an interrupted copy or a full disk. It was left unchanged; restore "
                            "it from a backup.");
  }
}

// Whether the file's header marks WAL mode.
bool WalHeader(const std::filesystem::path& real) {
  std::ifstream in(real, std::ios::binary);
  std::array<char, 20> h{};
  in.read(h.data(), static_cast<std::streamsize>(h.size()));
  return in.gcount() == 20 && h[18] == 2 && h[19] == 2;
}

// A URI of the file with the parameters `query` (as "key=value&...").
std::string FileUri(const std::filesystem::path& real, std::string_view query) {
  std::string uri = "file:";
#ifdef _WIN32
  uri += "/";
#endif
  for (const char c : Utf8(real.generic_u8string())) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || std::strchr("/-._~:", c)) {
      uri += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[u >> 4];
      uri += kHex[u & 15];
    }
  }
  return uri + "?" + std::string(query);
}

[[noreturn]] void Refuse(sqlite3* h, const std::string& shown) {
  switch (sqlite3_extended_errcode(h) & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      Unrecognized(shown, "The file is damaged or not a database and was left unchanged; restore it from a backup.");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_IOERR:
    case SQLITE_NOMEM:
      CannotOpen(shown, Cause::kEnvironment);
    default:
      CannotOpen(shown, Cause::kEnvironment);
  }
}

// Settings of every connection: waiting for other writers, a larger page
// cache, and for a writer the journal it asks for. A read-only connection
// sets nothing in the file.
void Configure(sqlite3* h, const std::string& shown, bool readOnly, bool wal) {
  sqlite3_extended_result_codes(h, 1);
  sqlite3_busy_timeout(h, kBusyTimeoutMs);
  // Reading the schema proves the file is a readable database.
  if (sqlite3_exec(h, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK) Refuse(h, shown);
  if (sqlite3_exec(h, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr) != SQLITE_OK) Refuse(h, shown);
  if (readOnly) return;
  const std::string mode = JournalMode(h);
  if (mode.empty()) Refuse(h, shown);
  // Leaving WAL mode folds a log left by a killed run back into the file. A
  // file others hold open in WAL mode (a report reading it) stays so until
  // Close finds it alone.
  const char* want = wal ? "WAL" : "DELETE";
  if (mode != want && JournalMode(h, want).empty()) {
    const int code = sqlite3_extended_errcode(h) & 0xff;
    if (code != SQLITE_BUSY && code != SQLITE_LOCKED) Refuse(h, shown);
  }
  // WAL stays consistent with NORMAL; the rollback journal needs FULL for a
  // power cut not to break a commit.
  const char* sync = JournalMode(h) == "WAL" ? "PRAGMA synchronous = NORMAL" : "PRAGMA synchronous = FULL";
  if (sqlite3_exec(h, sync, nullptr, nullptr, nullptr) != SQLITE_OK) Refuse(h, shown);
}

// Journal files left beside a database file that is about to be replaced
// would be taken for the new file's.
void RemoveJournals(const std::filesystem::path& real) {
  std::error_code ec;
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    std::filesystem::remove(std::filesystem::path(real.string() + suffix), ec);
  }
}

#ifdef __linux__
// File systems where WAL is unsafe: NFS, SMB/CIFS, and others whose files
// other machines share or whose shared memory is not that of one machine.
bool OnSharedFileSystem(const std::filesystem::path& folder) {
  struct statfs s {};
  if (::statfs(folder.c_str(), &s) != 0) return true;
  switch (static_cast<unsigned long>(s.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x5346414FUL:  // AFS
    case 0x73757245UL:  // Coda
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x65735546UL:  // FUSE (sshfs and other network mounts)
      return true;
    default:
      return false;
  }
}
#elif defined(_WIN32)
bool OnSharedFileSystem(const std::filesystem::path& folder) {
  const std::wstring text = std::filesystem::absolute(folder).wstring();
  if (text.rfind(L"\\\\", 0) == 0) return true;  // \\server\share
  const std::wstring root = std::filesystem::absolute(folder).root_path().wstring();
  return GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}
#else
bool OnSharedFileSystem(const std::filesystem::path&) { return true; }
#endif

}  // namespace

bool SqliteFile::WalWhereLocal(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  return !OnSharedFileSystem(folder);
}

std::unique_ptr<SqliteFile> SqliteFile::Open(const std::filesystem::path& file, OpenOptions options) {
  const std::string shown = fs::ForDisplay(fs::ToText(file));
  const std::filesystem::path real = fs::RealPath(shown);
  const bool readOnly = options.access == Access::ReadOnly;
  // Never through a link, never a FIFO or device; a file written has one name.
  if (readOnly)
    fs::RequirePlainFile(shown);
  else
    fs::RequireOwnFile(shown);
  std::error_code ec;
  if (!std::filesystem::exists(real, ec)) {
    throw Error(err::kCannotFindFile, "Could not find file '" + shown + "'.", Cause::kData);
  }
  if (std::filesystem::is_directory(real, ec)) {
    Unrecognized(shown, "It is a folder, not a database file.");
  }
  // A journal beside it is used only when it is what a command of ours left.
  CheckJournals(real, shown);
  CheckHeader(real, shown);
  // A file left mid-write by a killed program (a hot journal beside it)
  // cannot be read before that write is rolled back, which any program
  // opening it for writing does; a reader then does the same.
  const bool hotJournal = readOnly && std::filesystem::file_size(real.string() + "-journal", ec) > 0 && !ec;
  // A file another program left in WAL mode, with no log beside it, holds
  // everything committed and is open nowhere; a reader would leave a -wal and
  // a -shm file there that it may not remove, so it reads the file as it is.
  const bool asItIs = readOnly && !hotJournal && WalHeader(real) && !std::filesystem::exists(real.string() + "-wal", ec);
  // A reader of a file in use in WAL mode (or left so with its log) maps the
  // log's index without writing it, so that it changes nothing beside the file.
  const bool sharedLog = readOnly && !hotJournal && !asItIs && std::filesystem::exists(real.string() + "-wal", ec);
  const std::string uri = asItIs ? FileUri(real, "immutable=1") : sharedLog ? FileUri(real, "mode=ro&readonly_shm=1") : "";
  const bool wal = options.journal == Journal::Wal || (options.journal == Journal::WalWhereLocal && WalWhereLocal(real));
  if (!readOnly) RecordWriting(real, wal || WalHeader(real));
  sqlite3* h = nullptr;
  const int rc = sqlite3_open_v2(
      !uri.empty() ? uri.c_str() : Utf8(real).c_str(), &h,
      (readOnly && !hotJournal ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX |
          (!uri.empty() ? SQLITE_OPEN_URI : 0),
      nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(h);
    if (!readOnly) ForgetWriting(real);
    CannotOpen(shown, Cause::kEnvironment);
  }
  std::unique_ptr<SqliteFile> opened(new SqliteFile(h, file));
  opened->Track(real, readOnly, !readOnly);
  if (!readOnly && sqlite3_db_readonly(h, "main") == 1) CannotOpen(shown, Cause::kEnvironment);
  Configure(h, shown, readOnly, wal);
  return opened;
}

std::unique_ptr<SqliteFile> SqliteFile::Create(const std::filesystem::path& file) {
  // Text always compares without regard to letter case (the general sort
  // order); the file records no locale.
  const std::string shown = fs::ForDisplay(fs::ToText(file));
  const std::filesystem::path real = fs::RealPath(shown);
  fs::RequireOwnFile(shown);  // a link in its place would create the file elsewhere
  std::error_code ec;
  if (std::filesystem::exists(real, ec)) {
    throw Error(err::kDatabaseExists, "Database already exists. (" + shown + ")", Cause::kData);
  }
  const auto parent = real.parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
    throw Error(err::kInvalidPath, "'" + shown + "' is not a valid path. Make sure that the folder exists and "
                                     "that the network share is reachable.", Cause::kData);
  }
  RemoveJournals(real);
  // Made here, new and never through a link, before the engine opens it.
  if (!fs::CreateNewFile(shown))
    throw Error(err::kDatabaseExists, "Database already exists. (" + shown + ")", Cause::kData);
  RecordWriting(real, false);
  sqlite3* h = nullptr;
  const int rc = sqlite3_open_v2(Utf8(real).c_str(), &h, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(h);
    ForgetWriting(real);
    CannotOpen(shown, Cause::kEnvironment);
  }
  std::unique_ptr<SqliteFile> created(new SqliteFile(h, file));
  const int set = sqlite3_exec(h, ("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str(), nullptr,
                               nullptr, nullptr);
  created->Track(real, false, true);
  if (set != SQLITE_OK) CannotOpen(shown, Cause::kEnvironment);
  Configure(h, shown, false, false);
  return created;
}

// ---------------------------------------------------------------------------
// Statements and schema

namespace {

std::string CreateTableSql(const std::string& table, const std::vector<FieldDef>& fields,
                           const std::vector<bool>& notNull, bool numberChecks = true) {
  std::string s = "CREATE TABLE " + Quote(table) + " (";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) s += ", ";
    s += ColumnSql(fields[i], notNull[i], Engine::kSqliteFile, numberChecks);
  }
  s += ")";
  return s;
}

void CheckFields(const SqliteFile& conn, const std::string& table, const std::vector<FieldDef>& fields) {
  if (table.empty()) conn.Fail(err::kSyntaxInCreateTable, "A table needs a name.", Cause::kData);
  if (fields.empty()) conn.Fail(err::kSyntaxInCreateTable, "Table '" + table + "' has no fields.", Cause::kData);
  for (size_t i = 0; i < fields.size(); ++i) {
    const auto& f = fields[i];
    if (f.name.empty()) conn.Fail(err::kSyntaxInCreateTable, "A field of table '" + table + "' has no name.", Cause::kData);
    for (size_t j = 0; j < i; ++j) {
      if (text::EqualsIgnoreCase(fields[j].name, f.name)) {
        conn.Fail(err::kFieldDefinedTwice, "Field '" + f.name + "' is defined more than once in table '" + table + "'.", Cause::kData);
      }
    }
    if (f.type == FieldType::Text && (f.size < 1 || f.size > 255)) {
      conn.Fail(err::kSyntaxInCreateTable,
                "Field '" + table + "." + f.name + "' must hold from 1 to 255 characters.", Cause::kData);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Schema

void SqliteFile::AddField(std::string_view tableName, const FieldDef& field) {
  SqliteFile& c = *this;
  const auto table = c.Table(tableName);
  if (table->FindColumn(field.name) >= 0) {
    c.Fail(err::kFieldExists, "Field '" + field.name + "' already exists in table '" + table->name + "'.", Cause::kData);
  }
  CheckFields(c, table->name, {field});
  c.BeginWrite();
  try {
    c.Exec("ALTER TABLE " + table->quoted + " ADD COLUMN " + ColumnSql(field, false, Engine::kSqliteFile));
  } catch (const Error&) {
    c.AfterFailedWrite();
    c.SchemaChanged();
    throw;
  }
  c.SchemaChanged();
}

void SqliteFile::AddIndex(std::string_view tableName, const IndexDef& index) {
  SqliteFile& c = *this;
  const auto table = c.Table(tableName);
  for (const auto& ix : table->indexes) {
    if (text::EqualsIgnoreCase(ix.name, index.name)) {
      c.Fail(err::kIndexExists, "Table '" + table->name + "' already has an index named '" + index.name + "'.", Cause::kData);
    }
  }
  const int column = table->FindColumn(index.field);
  if (column < 0) c.Fail(err::kItemNotFound, "Item not found in this collection: '" + index.field + "'.", Cause::kData);
  const ColumnInfo& col = table->columns[static_cast<size_t>(column)];
  const bool unique = index.unique || index.primary;
  if (unique && col.type == FieldType::Text) {
    // The index itself ignores the case of A-Z only: rows whose texts differ
    // in the case of other letters are duplicates as well.
    bool found = false;
    ForEachRow(c,
               c.Prepare("SELECT 1 FROM " + table->quoted + " WHERE " + db::Quote(col.name) + " IS NOT NULL GROUP BY " +
                         kFoldFunction + "(" + db::Quote(col.name) + ") HAVING count(*) > 1 LIMIT 1"),
               [&](sqlite3_stmt*) { found = true; });
    if (found) FailDuplicate(c, index.name);
  }
  c.BeginWrite();
  const std::string sqlText = std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                              db::Quote(table->name + "_" + index.name) + " ON " + table->quoted + " (" +
                              db::Quote(col.name) + ")";
  const int rc = sqlite3_exec(c.Handle(), sqlText.c_str(), nullptr, nullptr, nullptr);
  c.SchemaChanged();
  if (rc != SQLITE_OK) {
    const int code = sqlite3_extended_errcode(c.Handle());
    const std::string detail = sqlite3_errmsg(c.Handle());
    c.AfterFailedWrite();
    if (code == SQLITE_CONSTRAINT_UNIQUE) FailDuplicate(c, index.name);
    if (detail.find("already exists") != std::string::npos) {
      c.Fail(err::kIndexExists, "An index named '" + index.name + "' already exists.", Cause::kData);
    }
    c.FailStorage(code);
  }
}

namespace {

// The position of an index's field, def.fields.size() when it has none.
size_t FieldOf(const TableDef& def, const IndexDef& ix) {
  size_t field = def.fields.size();
  for (size_t f = 0; f < def.fields.size(); ++f) {
    if (text::EqualsIgnoreCase(def.fields[f].name, ix.field)) field = f;
  }
  return field;
}

}  // namespace

bool SqliteFile::SetNumberChecks(const TableDef& def, bool on, bool prove) {
  CheckOpen();
  std::vector<bool> notNull(def.fields.size(), false);
  for (const auto& ix : def.indexes) {
    const size_t field = FieldOf(def, ix);
    if (ix.primary && field < def.fields.size()) notNull[field] = true;
  }
  const std::string with = CreateTableSql(def.name, def.fields, notNull, true),
                    without = CreateTableSql(def.name, def.fields, notNull, false);
  std::string stored;
  sqlite3_stmt* st = Prepare("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1");
  sqlite3_bind_text(st, 1, def.name.data(), static_cast<int>(def.name.size()), SQLITE_TRANSIENT);
  ForEachRow(*this, st, [&](sqlite3_stmt* r) {
    if (const auto* t = sqlite3_column_text(r, 0)) stored = reinterpret_cast<const char*>(t);
  });
  if (stored == (on ? with : without)) return true;
  if (stored != (on ? without : with)) return false;
  BeginWrite();
  if (on && prove) {
    std::string within;
    for (const auto& f : def.fields) {
      const std::string check = NumberCheckSql(f);
      if (!check.empty()) within += (within.empty() ? "(" : " AND (") + check + ")";
    }
    st = Prepare("SELECT rowid FROM " + Quote(def.name) + " WHERE NOT (" + within + ") LIMIT 1");
    std::optional<int64_t> outside;
    ForEachRow(*this, st, [&](sqlite3_stmt* r) { outside = sqlite3_column_int64(r, 0); });
    if (outside) {
      Fail(err::kOverflow,
           "Table '" + def.name + "' holds a number outside its field's range (row " + std::to_string(*outside) +
               "), written by another program while a load had the range checks off. Correct or delete that row "
               "(sqlite3 can), then run again.",
           Cause::kEnvironment);
    }
  }
  // Only the stored definition changes: the rows and their encoding are the
  // same with or without a CHECK. The new schema version makes every
  // connection read the definition again.
  int64_t version = 0;
  ForEachRow(*this, Prepare("PRAGMA schema_version"), [&](sqlite3_stmt* r) { version = sqlite3_column_int64(r, 0); });
  Exec("PRAGMA writable_schema = ON");
  try {
    st = Prepare("UPDATE sqlite_master SET sql = ?1 WHERE type = 'table' AND name = ?2");
    const std::string& sql = on ? with : without;
    sqlite3_bind_text(st, 1, sql.data(), static_cast<int>(sql.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, def.name.data(), static_cast<int>(def.name.size()), SQLITE_TRANSIENT);
    TableWriter::RunWrite(*this, st);
    Exec("PRAGMA schema_version = " + std::to_string(version + 1));
  } catch (...) {
    sqlite3_exec(db_, "PRAGMA writable_schema = OFF", nullptr, nullptr, nullptr);
    throw;
  }
  Exec("PRAGMA writable_schema = OFF");
  SchemaChanged();
  return true;
}

std::string CreateIndexSql(const TableDef& def, const IndexDef& ix, bool ifMissing) {
  const size_t field = FieldOf(def, ix);
  return std::string(ix.unique || ix.primary ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
         (ifMissing ? "IF NOT EXISTS " : "") + Quote(def.name + "_" + ix.name) + " ON " + Quote(def.name) + " (" +
         Quote(field < def.fields.size() ? def.fields[field].name : ix.field) + ")";
}

void SqliteFile::AppendTable(const TableDef& def) {
  CheckOpen();
  SqliteFile& c = *this;
  if (c.FindTable(def.name)) c.Fail(err::kTableExists, "Table '" + def.name + "' already exists.", Cause::kData);
  CheckFields(c, def.name, def.fields);
  std::vector<bool> notNull(def.fields.size(), false);
  std::vector<std::string> indexSql;
  for (size_t i = 0; i < def.indexes.size(); ++i) {
    const auto& ix = def.indexes[i];
    if (ix.name.empty()) c.Fail(err::kSyntaxInCreateTable, "An index of table '" + def.name + "' has no name.", Cause::kData);
    for (size_t j = 0; j < i; ++j) {
      if (text::EqualsIgnoreCase(def.indexes[j].name, ix.name)) {
        c.Fail(err::kIndexExists, "Table '" + def.name + "' already has an index named '" + ix.name + "'.", Cause::kData);
      }
    }
    const size_t field = FieldOf(def, ix);
    if (field == def.fields.size()) c.Fail(err::kItemNotFound, "Item not found in this collection: '" + ix.field + "'.", Cause::kData);
    if (ix.primary) notNull[field] = true;
    indexSql.push_back(CreateIndexSql(def, ix));
  }
  c.BeginWrite();
  // The table and its indexes appear together or not at all.
  c.Exec("SAVEPOINT append_table");
  try {
    c.Exec(CreateTableSql(def.name, def.fields, notNull));
    for (const auto& s : indexSql) c.Exec(s);
    c.Exec("RELEASE append_table");
  } catch (const Error&) {
    sqlite3_exec(c.Handle(), "ROLLBACK TO append_table", nullptr, nullptr, nullptr);
    sqlite3_exec(c.Handle(), "RELEASE append_table", nullptr, nullptr, nullptr);
    c.AfterFailedWrite();
    c.SchemaChanged();
    throw;
  }
  c.SchemaChanged();
}

// ---------------------------------------------------------------------------
// Whole files

void SqliteFile::Copy(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Through a temporary file beside the target: the target is replaced only
  // by a complete copy.
  const std::filesystem::path building(to.string() + ".copying");
  std::error_code ec;
  std::filesystem::remove(building, ec);
  RemoveJournals(building);
  {
    auto source = Open(from, OpenOptions{Access::ReadOnly, Journal::Rollback});
    auto copy = Create(building);
    sqlite3* h = copy->Handle();
    sqlite3_backup* b = sqlite3_backup_init(h, "main", source->Handle(), "main");
    int rc = b ? sqlite3_backup_step(b, -1) : sqlite3_errcode(h);
    if (b && sqlite3_backup_finish(b) != SQLITE_OK && rc == SQLITE_DONE) rc = sqlite3_errcode(h);
    if (rc != SQLITE_DONE) {
      const std::string detail = sqlite3_errstr(rc);
      copy.reset();
      source.reset();
      std::filesystem::remove(building, ec);
      RemoveJournals(building);
      const ErrorKind kind = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED ? err::kLocked
                             : (rc & 0xff) == SQLITE_FULL                              ? err::kNotEnoughSpace
                                                                                       : err::kOtherEngineError;
      throw Error(kind, "Could not copy the database '" + fs::ForDisplay(fs::ToText(from)) + "' to '" + fs::ForDisplay(fs::ToText(to)) + "' (" +
                              detail + "). Check the disk and that no program is changing the file, then run the "
                                       "command again; the source was left unchanged.", Cause::kEnvironment);
    }
    // The copy takes the source's header, WAL mode included.
    copy->SchemaChanged();
    JournalMode(h, "DELETE");
    source->Close();
    copy->Close();
  }
  PutInPlace(building, to);
}

void SqliteFile::PutInPlace(const std::filesystem::path& built, const std::filesystem::path& target) {
  RemoveJournals(target);
  std::error_code ec;
  std::filesystem::rename(built, target, ec);
  if (ec) {
    throw Error(err::kPathFileAccess, "Could not put the new database file in place as '" + fs::ForDisplay(fs::ToText(target)) + "' (" +
                                          ec.message() + "). Check that the name is not taken by a folder and "
                                          "that the folder is writable, then run the command again.", Cause::kEnvironment);
  }
#ifndef _WIN32
  // The rename itself survives a power cut only once the folder is synced.
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#endif
}

}  // namespace prax::db

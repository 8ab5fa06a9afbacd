#pragma once
// The engine's side of one open database file: the SQLite handle, its cache
// of prepared statements, the lazily opened write transaction, the schema as
// the engine sees it, and the mapping of storage failures to numbered
// errors. Private to the stores; after Close every use throws.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/database.h"
#include "store/list_ids.h"

namespace prax::db {

// PRAGMA application_id of the files this program creates ("PRAX").
inline constexpr int32_t kApplicationId = 0x50524158;

struct ColumnInfo {
  std::string name;
  FieldType type = FieldType::Long;
  int size = 4;
  bool notNull = false;  // a primary index covers the column
};

struct IndexInfo {
  std::string name;    // as the schema names it
  std::string stored;  // the name in the file
  std::string column;
  int columnIndex = -1;
  bool unique = false;
  bool primary = false;
};

struct TableInfo {
  std::string name;    // as stored
  std::string quoted;  // "name", ready for SQL text
  std::vector<ColumnInfo> columns;
  std::vector<IndexInfo> indexes;

  // Column position by name, letter case ignored; -1 when absent.
  int FindColumn(std::string_view column) const;
  // Whether some index starts with the column.
  bool Indexed(int column) const;
  TableDef Def() const;
};

// Double-quoted SQL identifier.
std::string Quote(std::string_view name);
bool EqualNoCase(std::string_view a, std::string_view b);
std::string LowerAscii(std::string_view s);

// The stored name of an index the schema calls `name` on `table`.
std::string StoredIndexName(std::string_view table, std::string_view name);
// Column definition text for CREATE TABLE / ADD COLUMN (type, collation,
// NOT NULL for primary-index columns, CHECK constraints holding the values
// to the field's type, range and size).
std::string ColumnSql(const FieldDef& f, bool notNull);

// The journal mode of a connection's file after setting it to `set` (when
// given): "delete", "wal", ...; empty when SQLite refused.
std::string JournalMode(sqlite3* h, const char* set = nullptr);

Value ReadValue(sqlite3_stmt* st, int col);
void BindValue(sqlite3_stmt* st, int index, const Value& v);

// Resets a statement when the scope ends.
class StmtUse {
 public:
  explicit StmtUse(sqlite3_stmt* st) : st_(st) {}
  ~StmtUse() { sqlite3_reset(st_); }
  StmtUse(const StmtUse&) = delete;
  StmtUse& operator=(const StmtUse&) = delete;

 private:
  sqlite3_stmt* st_;
};

class Connection {
 public:
  Connection(sqlite3* handle, std::filesystem::path file);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The file as opened (its real path) and whether this connection only
  // reads it; remembers the file's identity to notice a replacement.
  // `recorded`: the command's record names the file as written (its entry
  // is dropped once the file is closed at rest).
  void Track(const std::filesystem::path& real, bool readOnly, bool recorded = false);
  // Whether the file by its path is still the one opened: false once it was
  // removed, or another file was moved or copied into its place.
  bool StillInPlace() const;
  // Error 3146: the file was replaced or removed under this connection.
  [[noreturn]] void FailReplaced() const;
  const std::string& LeftInUse() const { return leftInUse_; }

  bool IsOpen() const { return db_ != nullptr; }
  void CheckOpen() const;
  sqlite3* Handle() const { return db_; }
  const std::filesystem::path& File() const { return file_; }

  // Throws Error(kind, message + " (<file>)").
  [[noreturn]] void Fail(ErrorKind kind, const std::string& message, Cause cause) const;
  // Throws the error an SQLite result code stands for. Busy and locked
  // files, I/O errors, a full disk, memory running out and a damaged file
  // are failures of the environment; the rest (a refused value, a bad
  // statement) are failures of the data.
  [[noreturn]] void FailStorage(int rc) const;
  // Error 3026: the file could not grow (disk full, file-size limit).
  [[noreturn]] void FailNoSpace() const;
  // Rethrows a parser or conversion error with the file named.
  [[noreturn]] void Rethrow(const Error& e) const;

  // A prepared statement for the SQL text, kept until Close.
  sqlite3_stmt* Prepare(const std::string& sqlText);
  // Runs SQL text without parameters (schema statements, pragmas).
  void Exec(const std::string& sqlText);

  // Opens the write transaction if none is open; call before every write.
  void BeginWrite();
  // Rows a write added to (or, negative, removed from) a table in the open
  // transaction; they count as added once committed.
  int64_t& PendingRows(const std::string& table) { return pending_[table]; }
  // Rows added per table (stored name) by the transactions committed so far.
  const std::unordered_map<std::string, int64_t>& CommittedRows() const { return committed_; }
  // After a failed write: notices a transaction SQLite has given up.
  void AfterFailedWrite();
  void Commit();
  // Undoes everything written since the last commit.
  void Rollback();
  // Changes whenever another connection (another program) committed to the
  // file since the last call saw it; unchanged by this connection's own writes.
  int64_t DataVersion();
  void Close();

  // Table by name (letter case ignored), nullptr when absent.
  std::shared_ptr<const TableInfo> FindTable(std::string_view name);
  // Table by name or Error 3078.
  std::shared_ptr<const TableInfo> Table(std::string_view name);
  std::vector<std::string> TableNames();
  void SchemaChanged() { tables_.clear(); }


 private:
  // A new persistent statement; Error when SQLite refuses the text.
  sqlite3_stmt* PrepareNew(const std::string& sqlText);
  std::shared_ptr<const TableInfo> LoadTable(const std::string& name);

  sqlite3* db_ = nullptr;
  std::filesystem::path file_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  std::unordered_map<std::string, std::shared_ptr<const TableInfo>> tables_;
  void DropPending();

  bool inTransaction_ = false;
  std::unordered_map<std::string, int64_t> pending_, committed_;

  // Leaves a file this connection wrote in the rollback journal; notes in
  // leftInUse_ when another program keeps it in WAL mode.
  void ReturnToRollback();
  std::filesystem::path real_;
  bool readOnly_ = true;
  bool tracked_ = false;
  bool recorded_ = false;
  uint64_t device_ = 0, inode_ = 0;
  std::string leftInUse_;
};

// The connection under a Database, for the stores built on it.
Connection& ConnectionOf(Database& db);

// Error 3022: a row would repeat a value of the unique index `index`.
[[noreturn]] void FailDuplicate(const Connection& conn, const std::string& index);

// Appends rows to one table through one prepared INSERT naming the columns
// given. The table and its columns are looked up by name (letter case
// ignored) at the first row: a missing table is Error 3078, a missing column
// 3265. Every value is checked against the column as stored before anything
// is written; a refused row stores nothing. Added rows count under `table`
// as given.
class TableWriter {
 public:
  TableWriter(Database& db, std::string table, std::vector<std::string> columns);
  // Returns the new row's rowid.
  int64_t Append(std::span<const Value> values);
  int64_t Append(const std::vector<Value>& values) { return Append(std::span<const Value>(values)); }
  // Checks values for some of the columns (by position) without writing.
  void Check(const std::vector<std::pair<size_t, Value>>& values);
  // Runs a write statement with bound values, mapping its failures.
  static void RunWrite(Connection& conn, sqlite3_stmt* st);
  const std::string& Table() const { return table_; }

 private:
  void Resolve();
  void CheckOne(size_t column, const Value& v) const;

  Database& db_;
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<ColumnInfo> stored_;  // the columns as the file holds them
  std::string storedTable_;
  sqlite3_stmt* insert_ = nullptr;  // prepared until the connection closes
};

// Runs a read statement prepared with the values bound and hands each row to
// `row`; the statement is reset at the end, whatever happens.
template <class F>
void ForEachRow(Connection& conn, sqlite3_stmt* st, F&& row) {
  StmtUse use(st);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
  if (rc != SQLITE_DONE) conn.FailStorage(sqlite3_extended_errcode(conn.Handle()));
}

}  // namespace prax::db

namespace prax::store {
// Adds what the load keeps beside the History tables where it is missing
// (the table of user-days whose error keys are pending and, with `indexes`,
// an index per user and date on AlertSystem and ActivitySystem) and commits;
// returns whether the pending table was there already. A file without the
// day tables gets nothing.
bool AddLoadAids(db::Connection& conn, bool indexes);
}  // namespace prax::store

namespace prax::db {

// A list table (an id and a name column) of an SQLite file.
class SqliteListTable : public store::ListTable {
 public:
  SqliteListTable(Database& db, std::string table, std::string idColumn, std::string nameColumn);
  const std::string& TableName() const override { return writer_.Table(); }
  std::string NameColumn() const override { return name_; }
  std::optional<int64_t> MaxId() override;
  std::vector<store::ListEntry> Entries() override;
  void Insert(int16_t id, std::string_view name) override;
  void BeginWrite() override;
  int64_t DataVersion() override;

 private:
  Database& db_;
  std::string id_, name_;
  TableWriter writer_;
};

}  // namespace prax::db

#pragma once
// One SQLite file of ours, open: opening and creating it (with the journal
// rules for files at rest), its cache of prepared statements, schema building
// from table definitions, the schema as the engine sees it, the write
// transaction the typed stores write in, and the mapping of storage failures
// to numbered errors that name the file. Private to the stores.
//
// Transaction states and the moves between them:
//   none       after Open/Create and after each Commit or Rollback. Nothing
//              pending; the file on disk holds every commit so far.
//   reading    a read statement steps (ForEachRow, DataVersion) without a
//              write transaction: SQLite's own short read lock, gone at the
//              statement's end; a failure leaves the file as it was.
//   writing    the first write (BeginWrite, TableWriter, schema building)
//              takes the write lock with BEGIN IMMEDIATE (waiting at most the
//              busy timeout, else Error 3218) and stays open. A refused row
//              stores nothing and leaves the transaction open with the rows
//              before it; a failure SQLite gives the transaction up for
//              (a full disk, I/O) leaves the file at the last commit and the
//              next write begins anew.
//   committed  Commit (and Close) makes every write durable and counts its
//              rows in RowsAdded; back to none. A file replaced or removed
//              under it is rolled back instead (Error 3146): the last commit
//              stays what is on disk, nothing goes into a file no one sees.
//   closed     Close commits what is open, returns the file to the rollback
//              journal (or says in LeftInUse why not) and releases it; every
//              later use throws 3420. A commit failing at Close leaves the
//              file at its last commit.
// A killed program leaves a hot journal beside the file; the next writer of
// ours rolls it back (see journal_guard.h for which journals are used).

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/error.h"
#include "store/list_ids.h"
#include "store/schema.h"
#include "store/value.h"

namespace prax::db {

// PRAGMA application_id of the files this program creates ("PRAX").
inline constexpr int32_t kApplicationId = 0x50524158;

// The SQL function every file of ours offers for text comparisons that
// ignore case: text::FoldCase1252 of its argument (Null stays Null). It lives
// in the open file only, never in its schema, so that any SQLite reader opens
// the files as they are.
inline constexpr const char* kFoldFunction = "prax_fold";

// How a file is opened. Every file this program leaves behind uses the
// rollback journal (journal mode DELETE), so that readers on any machine may
// open it; a read-only open changes nothing in or beside the file.
enum class Access { ReadWrite, ReadOnly };
enum class Journal {
  Rollback,
  // The write-ahead log while the file is open, where that is safe: only when
  // the file lies on a local file system (never NFS or SMB/CIFS), since WAL
  // needs every reader on the machine that holds the file. Close returns the
  // file to the rollback journal.
  WalWhereLocal,
  // The write-ahead log wherever the file lies (a test and tuning choice).
  Wal,
};
struct OpenOptions {
  Access access = Access::ReadWrite;
  Journal journal = Journal::Rollback;
};

struct ColumnInfo {
  std::string name;
  FieldType type = FieldType::Long;
  int size = 4;
  bool notNull = false;  // a primary index covers the column
};

struct IndexInfo {
  std::string name;    // as the schema names it
  std::string column;
  int columnIndex = -1;
  bool unique = false;
};

struct TableInfo {
  std::string name;    // as stored
  std::string quoted;  // "name", ready for SQL text
  std::vector<ColumnInfo> columns;
  std::vector<IndexInfo> indexes;

  // Column position by name, letter case ignored; -1 when absent.
  int FindColumn(std::string_view column) const;
};

// The journal mode of a file after setting it to `set` (when given):
// "DELETE", "WAL", ...; empty when SQLite refused.
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

class SqliteFile {
 public:
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  // A new, empty database file. The file must not exist (Error 3204).
  static std::unique_ptr<SqliteFile> Create(const std::filesystem::path& file);
  // Opens an existing database, shared. A missing file gives Error 3024
  // naming it; a file that is not a database of ours (an older Access-format
  // file, any other file) gives Error 3343 saying so; a locked or read-only
  // file gives Error 3051.
  // A file found in WAL mode (a run killed before it could close) has its
  // log folded back in and returns to the rollback journal, unless another
  // program holds it open; then it goes on in WAL mode until Close.
  static std::unique_ptr<SqliteFile> Open(const std::filesystem::path& file, OpenOptions options = {});
  // The journal mode a load would use for a file in this folder: true for WAL.
  static bool WalWhereLocal(const std::filesystem::path& file);
  // Copies a database file whole and consistent, committed changes still in
  // another program's write-ahead log included, to `to` (replaced only once
  // the copy is complete). The source is only read.
  static void Copy(const std::filesystem::path& from, const std::filesystem::path& to);
  // Moves a complete database file `built` to `target` in one step (replacing
  // it), removing journal files left beside `target` first.
  static void PutInPlace(const std::filesystem::path& built, const std::filesystem::path& target);

  bool IsOpen() const { return db_ != nullptr; }
  void CheckOpen() const;
  sqlite3* Handle() const { return db_; }
  // After Close: empty when the file was left at rest (rollback journal, no
  // -wal or -shm beside it); else a sentence for the run log saying that
  // another program held it open, so its log stays until the next command.
  const std::string& LeftInUse() const { return leftInUse_; }

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

  // A prepared statement of constant SQL text (never text built from
  // values), kept until Close.
  sqlite3_stmt* Prepare(const std::string& sqlText);
  // Runs SQL text without parameters (schema statements, pragmas).
  void Exec(const std::string& sqlText);

  // Schema building. AppendTable creates the table with its fields in order
  // and its indexes (Error 3010 when it exists); AddField adds a column
  // (3380 when it exists); AddIndex adds an index (3375 when one of that
  // name exists). Fields hold their values to their type, range and size.
  void AppendTable(const TableDef& def);
  void AddField(std::string_view table, const FieldDef& field);
  void AddIndex(std::string_view table, const IndexDef& index);
  // The checks holding the numbers of table `def` to their type's range,
  // taken out of its stored definition (`on` false) or put back, in the open
  // write transaction; only the definition changes, never a row. A writer
  // whose every row passes TableWriter's own checks fills the table faster
  // without them. Only a table as AppendTable made it, or as this call left
  // it, is changed: false for any other (an older or altered table), true
  // once the table is as asked. With `prove`, putting them back first proves
  // that every row meets them, else Error 6 names the row.
  bool SetNumberChecks(const TableDef& def, bool on, bool prove);
  // Table by name (letter case ignored), nullptr when absent.
  std::shared_ptr<const TableInfo> FindTable(std::string_view name);
  // Table by name or Error 3078.
  std::shared_ptr<const TableInfo> Table(std::string_view name);
  void SchemaChanged() { tables_.clear(); }

  // Opens the write transaction if none is open, taking the write lock
  // (waiting for another writer no longer than the busy timeout), so that
  // nobody else commits until the next Commit(); call before every write.
  void BeginWrite();
  // Rows a write added to (or, negative, removed from) a table in the open
  // transaction; they count as added once committed.
  int64_t& PendingRows(const std::string& table) { return pending_[table]; }
  // After a failed write: notices a transaction SQLite has given up.
  void AfterFailedWrite();
  // Makes every write so far durable. When the file was replaced or removed
  // since it was opened (by path, another file now has its name), the open
  // transaction is rolled back and Error 3146 names the file: writing on would
  // go into a file no one sees, and journals beside the new file would be
  // taken for its own.
  void Commit();
  // Undoes everything written since the last commit.
  void Rollback();
  // Changes whenever another program committed to the file since the last
  // call saw it; unchanged by this file's own writes.
  int64_t DataVersion();
  // Rows added to each table (by its stored name; removed rows subtract) by
  // the transactions committed, Close included. Still readable after Close.
  std::map<std::string, int64_t> RowsAdded() const { return {committed_.begin(), committed_.end()}; }
  // Commits and releases the file; statements become unusable.
  void Close();

 private:
  SqliteFile(sqlite3* handle, std::filesystem::path file);
  // Remembers the file as opened (its real path), whether it is only read,
  // and its identity, to notice a replacement. `recorded`: the command's
  // record names the file as written (its entry is dropped once the file is
  // closed at rest).
  void Track(const std::filesystem::path& real, bool readOnly, bool recorded = false);
  // Whether the file by its path is still the one opened: false once it was
  // removed, or another file was moved or copied into its place.
  bool StillInPlace() const;
  // Error 3146: the file was replaced or removed under this object.
  [[noreturn]] void FailReplaced() const;
  // A new persistent statement; Error when SQLite refuses the text.
  sqlite3_stmt* PrepareNew(const std::string& sqlText);
  std::shared_ptr<const TableInfo> LoadTable(const std::string& name);
  void DropPending();
  // Leaves a file written in the rollback journal; notes in leftInUse_ when
  // another program keeps it in WAL mode.
  void ReturnToRollback();

  sqlite3* db_ = nullptr;
  std::filesystem::path file_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  std::unordered_map<std::string, std::shared_ptr<const TableInfo>> tables_;
  bool inTransaction_ = false;
  std::unordered_map<std::string, int64_t> pending_, committed_;
  std::filesystem::path real_;
  bool readOnly_ = true;
  bool tracked_ = false;
  bool recorded_ = false;
  uint64_t device_ = 0, inode_ = 0;
  std::string leftInUse_;
};

// The statement AppendTable creates index `ix` of `def` with; with
// `ifMissing`, one that leaves an index of that name alone (the file records
// the same text either way).
std::string CreateIndexSql(const TableDef& def, const IndexDef& ix, bool ifMissing = false);

// Error 3022: a row would repeat a value of the unique index `index`.
[[noreturn]] void FailDuplicate(const SqliteFile& file, const std::string& index);

// Appends rows to one table through one prepared INSERT naming the columns
// given. The table and its columns are looked up by name (letter case
// ignored) at the first row: a missing table is Error 3078, a missing column
// 3265. Every value is checked against the column as stored before anything
// is written; a refused row stores nothing. Added rows count under `table`
// as given.
class TableWriter {
 public:
  TableWriter(SqliteFile& file, std::string table, std::vector<std::string> columns);
  // Returns the new row's rowid.
  int64_t Append(std::span<const Value> values);
  int64_t Append(const std::vector<Value>& values) { return Append(std::span<const Value>(values)); }
  // Checks values for some of the columns (by position) without writing.
  void Check(const std::vector<std::pair<size_t, Value>>& values);
  // Checks a row as Append does and keeps it for Flush, which writes the rows
  // kept in multi-row INSERTs of at most kBatchRows rows, each prepared once;
  // a full batch is written at once. A row whose values only the
  // engine's own checks can judge (text longer in bytes than its field,
  // text that starts with NUL) writes the kept rows and goes alone, so that
  // its refusal is raised by this call as before.
  // The values may be moved from.
  void Add(std::span<Value> values);
  // Writes the rows kept. When the engine refuses a batch as a whole, its
  // rows go one by one: every good row is stored and the first refused one
  // is thrown, its values named. None is kept afterwards, whatever happens.
  void Flush();
  // Forgets the rows kept (their transaction is rolled back).
  void Drop() { kept_.clear(); }
  static constexpr size_t kBatchRows = 32;
  // Runs a write statement with bound values, mapping its failures.
  static void RunWrite(SqliteFile& file, sqlite3_stmt* st);
  const std::string& Table() const { return table_; }

 private:
  void Resolve();
  void CheckOne(size_t column, const Value& v) const;

  // The INSERT of `rows` rows (1 to kBatchRows).
  sqlite3_stmt* Batch(size_t rows);
  // Binds row `row` of kept_ at parameter `first` + 1 onwards, without copies.
  void BindKept(sqlite3_stmt* st, size_t row, int first);
  // Stores kept row `row` alone; a data Error names the row's values.
  void StoreKept(size_t row);

  SqliteFile& file_;
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<ColumnInfo> stored_;  // the columns as the file holds them
  std::string storedTable_;
  sqlite3_stmt* insert_ = nullptr;  // prepared until the file closes
  std::vector<sqlite3_stmt*> batches_;  // by rows, 2..kBatchRows, prepared when first used
  std::vector<Value> kept_;         // rows checked and not yet written, one after another
};

// Runs a read statement prepared with the values bound and hands each row to
// `row`; the statement is reset at the end, whatever happens.
template <class F>
void ForEachRow(SqliteFile& file, sqlite3_stmt* st, F&& row) {
  StmtUse use(st);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
  if (rc != SQLITE_DONE) file.FailStorage(sqlite3_extended_errcode(file.Handle()));
}

}  // namespace prax::db

namespace prax::store {
// Adds what the load keeps beside the History tables where it is missing
// (the table of user-days whose error keys are pending and, with `indexes`,
// an index per user and date on AlertSystem and ActivitySystem, their schema
// indexes and the checks on their numbers, proven first when `proveChecks`)
// and commits; returns whether the pending table was there already. A file
// without the day tables gets nothing.
bool AddLoadAids(db::SqliteFile& file, bool indexes, bool proveChecks = true);
}  // namespace prax::store

namespace prax::db {

// A list table (an id and a name column) of an SQLite file.
class SqliteListTable : public store::ListTable {
 public:
  SqliteListTable(SqliteFile& file, std::string table, std::string idColumn, std::string nameColumn);
  const std::string& TableName() const override { return writer_.Table(); }
  std::string NameColumn() const override { return name_; }
  std::optional<int64_t> MaxId() override;
  std::vector<store::ListEntry> Entries() override;
  void Insert(int16_t id, std::string_view name) override;
  void BeginWrite() override;
  int64_t DataVersion() override;

 private:
  SqliteFile& file_;
  std::string id_, name_;
  TableWriter writer_;
};

}  // namespace prax::db

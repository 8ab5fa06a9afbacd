#pragma once
// One SQLite database file of ours: opening and creating it (with the
// journal rules for files at rest), schema building from table definitions,
// prepared statements with bound parameters, and the transaction the typed
// stores write in. Failures raise prax::Error with the engine's number and a
// message that names the file.
//
// Transactions: a write transaction opens at the first write and stays open;
// Commit() makes everything written so far durable, Close() commits. A
// failing write never undoes rows written before it.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "store/schema.h"
#include "store/value.h"

struct sqlite3_stmt;

namespace prax::db {

// How a file is opened. Every file this program leaves behind uses the
// rollback journal (journal mode DELETE), so that readers on any machine may
// open it; a read-only open changes nothing in or beside the file.
enum class Access { ReadWrite, ReadOnly };
enum class Journal {
  Rollback,
  // The write-ahead log while the file is open, where that is safe: only when
  // the file lies on a local file system (never NFS or SMB/CIFS), since WAL
  // needs every reader on the machine that holds the file. The environment
  // variable PRAX_JOURNAL=wal|delete forces the choice (a test and tuning
  // knob). Close returns the file to the rollback journal.
  WalWhereLocal,
};
struct OpenOptions {
  Access access = Access::ReadWrite;
  Journal journal = Journal::Rollback;
};

class Connection;
class Database;
Connection& ConnectionOf(Database& db);

// A prepared statement of constant SQL text; values only ever travel as
// bound parameters. Reset when the next Bind starts or the statement is
// released.
class Statement {
 public:
  // Binds parameters 1..n afresh (resetting the statement first).
  Statement& Bind(std::initializer_list<Value> values);
  Statement& Bind(const std::vector<Value>& values);
  // The next result row: false at the end. A write statement runs to its
  // end at the first Step. Failures throw as the connection maps them.
  bool Step();
  // Runs to the end (a write).
  void Run() { while (Step()) {} }
  Value Column(int index) const;
  int64_t ColumnInt(int index) const;  // Null reads 0
  bool ColumnNull(int index) const;

 private:
  friend class Database;
  Statement(Connection* conn, sqlite3_stmt* stmt) : conn_(conn), stmt_(stmt) {}
  Connection* conn_;
  sqlite3_stmt* stmt_;
};

class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // A new, empty database file. The file must not exist (Error 3204).
  static std::unique_ptr<Database> Create(const std::filesystem::path& file);
  // Opens an existing database, shared. A missing file gives Error 3024
  // naming it; a file that is not a database of ours (an older Access-format
  // file, any other file) gives Error 3343 saying so; a locked or read-only
  // file gives Error 3051.
  // A file found in WAL mode (a run killed before it could close) has its
  // log folded back in and returns to the rollback journal, unless another
  // program holds it open; then it goes on in WAL mode until Close.
  static std::unique_ptr<Database> Open(const std::filesystem::path& file, OpenOptions options = {});
  // The journal mode a load would use for a file in this folder: true for WAL.
  static bool WalWhereLocal(const std::filesystem::path& file);

  // Copies a database file whole and consistent, committed changes still in
  // another program's write-ahead log included, to `to` (replaced only once
  // the copy is complete). The source is only read.
  static void Copy(const std::filesystem::path& from, const std::filesystem::path& to);
  // Moves a complete database file `built` to `target` in one step (replacing
  // it), removing journal files left beside `target` first.
  static void PutInPlace(const std::filesystem::path& built, const std::filesystem::path& target);

  // A statement of constant SQL text (never text built from values), kept
  // prepared until Close. Identifiers come from Quote().
  Statement Prepare(const std::string& sqlText);
  static std::string Quote(std::string_view identifier);
  // Notes that a write added `rows` rows (negative: removed) to a table by its
  // stored name; counted in RowsAdded once committed. Opens the write
  // transaction if none is open.
  void CountRows(const std::string& table, int64_t rows);

  // Schema building. AppendTable creates the table with its fields in order
  // and its indexes (Error 3010 when it exists); AddField adds a column
  // (3380 when it exists); AddIndex adds an index (3375 when one of that
  // name exists). Fields hold their values to their type, range and size.
  void AppendTable(const TableDef& def);
  void AddField(std::string_view table, const FieldDef& field);
  void AddIndex(std::string_view table, const IndexDef& index);
  // The schema as stored (names, types, sizes, index flags); a table by name
  // (letter case ignored) or nullptr.
  std::vector<TableDef> TableDefs();
  std::unique_ptr<TableDef> FindTable(std::string_view name);

  // Opens the write transaction now, taking the write lock (waiting for
  // another writer no longer than the busy timeout), so that nobody else
  // commits until the next Commit().
  void BeginWrite();
  // Makes every write so far durable. When the file was replaced or removed
  // since it was opened (by path, another file now has its name), the open
  // transaction is rolled back and Error 3146 names the file: writing on would
  // go into a file no one sees, and journals beside the new file would be
  // taken for its own.
  void Commit();
  // Undoes every write since the last commit.
  void Rollback();
  // A number that changes whenever another program committed to the file
  // since this database last looked; its own writes leave it unchanged.
  int64_t DataVersion();
  // Rows added to each table (by its stored name; removed rows subtract) by
  // the transactions committed, Close included. Still readable after Close.
  std::map<std::string, int64_t> RowsAdded() const;
  // Commits and releases the file; statements become unusable.
  void Close();
  const std::filesystem::path& File() const;
  // After Close: empty when the file was left at rest (rollback journal, no
  // -wal or -shm beside it); else a sentence for the run log saying that
  // another program held it open, so its log stays until the next command.
  const std::string& LeftInUse() const;

 private:
  friend Connection& ConnectionOf(Database& db);
  explicit Database(std::shared_ptr<Connection> conn);
  std::shared_ptr<Connection> conn_;
};

// The SQL function every connection of ours offers for text comparisons
// that ignore case: text::FoldCase1252 of its argument (Null stays Null). It
// lives in the connection only, never in a file's schema, so that any SQLite
// reader opens the files as they are.
inline constexpr const char* kFoldFunction = "prax_fold";

}  // namespace prax::db

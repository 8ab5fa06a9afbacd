#pragma once
// The database engine: a narrow interface of databases, record sets and
// schema building over SQLite files. Every statement is SQL text from a small
// subset (see sql.h); record sets are updatable dynasets over one table.
// Failures raise prax::Error with the engine's number and a message that
// names the database file.
//
// Transactions: the engine opens a write transaction at the first write and
// keeps it open; Commit() makes everything written so far durable, Close()
// commits. A failing operation never undoes rows written before it: they are
// committed with the next Commit() or Close().

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error.h"

namespace prax::db {

// A column value: Null, a whole number, or UTF-8 text.
class Value {
 public:
  Value() = default;
  Value(std::nullptr_t) {}
  Value(int v) : v_(int64_t{v}) {}
  Value(int64_t v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(const char* v) : v_(std::string(v)) {}

  bool IsNull() const { return std::holds_alternative<std::monostate>(v_); }
  bool IsInt() const { return std::holds_alternative<int64_t>(v_); }
  bool IsText() const { return std::holds_alternative<std::string>(v_); }
  // Throws Error(err::kInvalidUseOfNull) for Null and Error(err::kTypeMismatch)
  // for text that is not a whole number.
  int64_t AsInt() const;
  // Numbers give their decimal text; throws Error(err::kInvalidUseOfNull) for Null.
  std::string AsText() const;
  // For messages and tests: "Null", the number, or the text in quotes.
  std::string Describe() const;
  // The text itself without a copy; only when IsText().
  const std::string& TextRef() const { return std::get<std::string>(v_); }
  // The number itself; only when IsInt().
  int64_t IntValue() const { return std::get<int64_t>(v_); }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, int64_t, std::string> v_;
};

// Field types by their engine codes.
enum class FieldType : int { Integer = 3, Long = 4, Text = 10 };

struct FieldDef {
  std::string name;
  FieldType type = FieldType::Long;
  int size = 4;  // Integer 2, Long 4, Text: maximum characters
};
struct IndexDef {
  std::string name;   // as the schema names it (User_Num_Ix), whatever is stored
  std::string field;  // one field
  bool primary = false;
  bool unique = false;
};
struct TableDef {
  std::string name;
  std::vector<FieldDef> fields;  // in column order
  std::vector<IndexDef> indexes;
};

// The locale the system creates databases with (general sort order, code page 1252).
inline constexpr std::string_view kGeneralLocale = ";LANGID=0x0809;CP=1252;COUNTRY=0";

class Connection;  // shared between a database and its record sets

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

class Recordset {
 public:
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Appending: AddNew starts a new row (every field Null), Set fills fields,
  // Update stores it. The stored row becomes the last row of the record set
  // and the current row.
  void AddNew();
  // Editing: Edit starts changing the current row (Error 3021 without one),
  // Update rewrites it.
  void Edit();
  // Stores the row begun by AddNew or Edit. A refused row (overflow, zero-length
  // text, text too long, duplicate in a unique index, Null in a primary index)
  // throws and leaves the edit buffer discarded: the next AddNew starts afresh.
  void Update();
  void CancelUpdate();

  // Positions on the first row (in record-set order) matching the criteria, a
  // WHERE expression of the SQL subset; NoMatch() tells whether none did (the
  // current row is then unchanged). A malformed criterion throws 3075.
  void FindFirst(std::string_view criteria);
  bool NoMatch() const;

  void MoveFirst();
  void MoveNext();
  void MoveLast();  // Error 3021 when the record set is empty
  bool Eof() const;  // true past the last row, and for an empty record set
  bool Bof() const;

  // Field values of the current row, or of the row being added or edited.
  // Unknown field: Error 3265. No current row: Error 3021.
  Value Get(std::string_view field) const;
  void Set(std::string_view field, Value v);
  const std::vector<std::string>& FieldNames() const;

  void Close();

 private:
  friend class Database;
  struct Impl;
  explicit Recordset(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // A new, empty database file. The file must not exist (Error 3204).
  static std::unique_ptr<Database> Create(const std::filesystem::path& file,
                                          std::string_view locale = kGeneralLocale);
  // Opens an existing database, shared and read-write. A missing file gives
  // Error 3024 naming it; a file that is not a database of ours (an older
  // Access-format file, any other file) gives Error 3343 saying so; a locked
  // or read-only file gives Error 3051.
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

  // Runs an action statement: DELETE, ALTER TABLE ... ADD COLUMN, CREATE
  // TABLE, CREATE UNIQUE INDEX.
  void Execute(std::string_view sql);
  // An updatable dynaset over a SELECT on one table.
  std::unique_ptr<Recordset> OpenRecordset(std::string_view sql);

  // Schema building: creates the table with its fields in order and its
  // indexes. Error 3010 when the table exists.
  void AppendTable(const TableDef& def);
  // The schema as the engine sees it (names, types, sizes, index flags).
  std::vector<TableDef> TableDefs() const;

  // Makes every write so far durable. When the file was replaced or removed
  // since it was opened (by path, another file now has its name), the open
  // transaction is rolled back and Error 3146 names the file: writing on would
  // go into a file no one sees, and journals beside the new file would be
  // taken for its own.
  void Commit();
  // Undoes every write since the last commit.
  void Rollback();
  // Takes the write lock now (waiting for another writer no longer than the
  // busy timeout), so that nobody else commits until the next Commit().
  void BeginWrite();
  // A number that changes whenever another program committed to the file
  // since this database last looked; its own writes leave it unchanged.
  int64_t DataVersion();
  // Rows added to each table (by its stored name; removed rows subtract) by
  // the transactions this database committed, Close included. Still readable
  // after Close.
  std::map<std::string, int64_t> RowsAdded() const;
  // Commits and releases the file. Record sets still open become unusable
  // (their operations throw Error 3420-like errors) but may still be destroyed.
  void Close();
  const std::filesystem::path& File() const;
  // After Close: empty when the file was left at rest (rollback journal, no
  // -wal or -shm beside it); else a sentence for the run log saying that
  // another program held it open, so its log stays until the next command.
  const std::string& LeftInUse() const;

 private:
  explicit Database(std::shared_ptr<Connection> conn);
  std::shared_ptr<Connection> conn_;
};

}  // namespace prax::db

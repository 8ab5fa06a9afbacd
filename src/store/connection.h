#pragma once
// The engine's side of one open database file: the SQLite handle, its cache
// of prepared statements, the lazily opened write transaction, the schema as
// the engine sees it, and the mapping of storage failures to engine errors.
// Shared by a Database and its record sets; after Close every use throws.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/engine.h"
#include "store/sql.h"

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

// A number written as text: blanks around it, a sign, digits and (when
// allowed) a decimal fraction rounded to the even neighbour at a half.
// nullopt when the text is no such number or does not fit.
std::optional<int64_t> NumberFromText(std::string_view text, bool allowFraction);

// The SQL function every connection of ours offers for text comparisons
// that ignore case: text::FoldCase1252 of its argument (Null stays Null). It
// lives in the connection only, never in a file's schema, so that any SQLite
// reader opens the files as they are.
inline constexpr const char* kFoldFunction = "prax_fold";
// "prax_fold("column")".
std::string FoldSql(std::string_view column);

// One comparison of a WHERE expression, resolved against a table: the
// column's position and the literal converted to the column's kind.
//
// SQLite's NOCASE, the collation of our text columns and their indexes,
// ignores the case of A-Z only. A text literal of ASCII alone compares
// exactly under it (no other character can fold to an ASCII one), so such a
// term stays index-friendly. A literal with any other character is `folded`:
// the term compares the folded column with the folded literal, and an
// equality also holds the column to [low, high), the stretch of the index
// where every text that folds to the literal lies (the literal's ASCII head,
// then the lead byte of its first other character or of that character's
// case partner).
struct Term {
  int column = -1;
  sql::Op op = sql::Op::Eq;
  Value literal;  // folded when `folded`
  bool folded = false;
  std::string low, high;
};
// A term comparing a text column with a text literal.
Term TextTerm(int column, sql::Op op, std::string_view literal);
// Column position of a reference (its qualifier must name the table), or
// Error 3265.
int ResolveColumn(const Connection& conn, const TableInfo& table, const sql::ColumnRef& ref);
// Error 3265 for unknown columns, 3464 for a text literal that is no number
// compared with a number column.
std::vector<Term> ResolveTerms(const Connection& conn, const TableInfo& table, const sql::Expr& expr);
// The terms as SQL text joined by AND, text compared without regard to
// letter case; BindTerms binds their placeholders.
std::string TermsSql(const TableInfo& table, const std::vector<Term>& terms);
// Binds the terms' literals from placeholder `index` on; returns the next index.
int BindTerms(sqlite3_stmt* st, int index, const std::vector<Term>& terms);

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
  void Track(const std::filesystem::path& real, bool readOnly);
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

  // Throws Error(number, message + " (<file>)").
  [[noreturn]] void Fail(int number, const std::string& message, Cause cause = Cause::kData) const;
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
  // A statement of the caller's own, not shared through the cache (one that
  // is left stepping between calls). ReleaseOwned hands it back for reuse;
  // Close finalizes them all.
  sqlite3_stmt* PrepareOwned(const std::string& sqlText);
  void ReleaseOwned(sqlite3_stmt* st);
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

  // Forward scans of record sets (statements left stepping between moves).
  // Every write, commit, schema statement and close resets them all first, so
  // that no read is pending while the file changes; a record set whose scan
  // was stopped sees ScanEpoch() change and starts afresh.
  void AddScan(sqlite3_stmt* st) { scans_.push_back(st); }
  void RemoveScan(sqlite3_stmt* st);
  uint64_t ScanEpoch() const { return scanEpoch_; }
  void StopScans();

  // Table by name (letter case ignored), nullptr when absent.
  std::shared_ptr<const TableInfo> FindTable(std::string_view name);
  // Table by name or Error 3078.
  std::shared_ptr<const TableInfo> Table(std::string_view name);
  std::vector<std::string> TableNames();
  void SchemaChanged() { tables_.clear(); }

  // Counts writes per table, so that record sets notice rows changed by
  // others and drop what they keep in memory about them.
  uint64_t& Generation(const std::string& table) { return generations_[LowerAscii(table)]; }

 private:
  // A new persistent statement; Error when SQLite refuses the text.
  sqlite3_stmt* PrepareNew(const std::string& sqlText);
  std::shared_ptr<const TableInfo> LoadTable(const std::string& name);

  sqlite3* db_ = nullptr;
  std::filesystem::path file_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  std::unordered_map<std::string, std::shared_ptr<const TableInfo>> tables_;
  std::unordered_map<std::string, uint64_t> generations_;
  void DropPending();

  std::vector<sqlite3_stmt*> owned_;
  std::unordered_map<std::string, std::vector<sqlite3_stmt*>> spare_;  // released owned statements by text
  std::vector<sqlite3_stmt*> scans_;
  uint64_t scanEpoch_ = 0;
  bool inTransaction_ = false;
  std::unordered_map<std::string, int64_t> pending_, committed_;

  // Leaves a file this connection wrote in the rollback journal; notes in
  // leftInUse_ when another program keeps it in WAL mode.
  void ReturnToRollback();
  std::filesystem::path real_;
  bool readOnly_ = true;
  bool tracked_ = false;
  uint64_t device_ = 0, inode_ = 0;
  std::string leftInUse_;
};

}  // namespace prax::db

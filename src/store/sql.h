#pragma once
// The SQL the engine understands, and nothing more:
//   SELECT * | col[, col...] | MAX(col) AS alias FROM table [WHERE expr] [ORDER BY col]
//   DELETE FROM table WHERE expr
//   ALTER TABLE table ADD COLUMN name INTEGER | TEXT (n)
//   CREATE TABLE table (name INTEGER | TEXT (n), ...)
//   CREATE UNIQUE INDEX name ON table (col)
// where expr is one or more comparisons "column op literal" joined by AND,
// op one of = <> >, a column optionally written "Table.col", and a literal
// either 'text' (no quote inside) or a whole number (a leading minus allowed).
// Keywords ignore letter case. In these statements INTEGER is a Long field
// and TEXT (n) a Text field of at most n characters. Record-set search
// criteria use the same expressions.
//
// The parser throws prax::Error with the engine's syntax error numbers; its
// messages do not name a database file (the engine adds it).

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "store/engine.h"

namespace prax::db {

// Error numbers of the engine that platform/error.h does not list.
namespace dberr {
inline constexpr int kUpdateWithoutEdit = 3020;
inline constexpr int kNotEnoughSpace = 3026;
inline constexpr int kReadOnly = 3027;
inline constexpr int kInvalidPath = 3044;
inline constexpr int kCannotExecuteSelect = 3065;
inline constexpr int kSyntaxInFrom = 3131;
inline constexpr int kSyntaxInOrderBy = 3138;
inline constexpr int kSyntaxInSelect = 3141;
inline constexpr int kCharactersAfterEnd = 3142;
inline constexpr int kRecordDeleted = 3167;
inline constexpr int kFieldDefinedTwice = 3191;
inline constexpr int kLocked = 3218;
inline constexpr int kInvalidOperation = 3219;
inline constexpr int kNotSupported = 3251;
inline constexpr int kSyntaxInCreateIndex = 3291;
inline constexpr int kObjectInvalid = 3420;
inline constexpr int kCriteriaTypeMismatch = 3464;
}  // namespace dberr

namespace sql {

enum class Op { Eq, Ne, Gt };

struct ColumnRef {
  std::string table;  // the qualifier as written; empty when unqualified
  std::string column;
  std::string Text() const { return table.empty() ? column : table + "." + column; }
};

struct Comparison {
  ColumnRef column;
  Op op = Op::Eq;
  Value literal;  // a whole number or text
};

// Comparisons joined by AND.
struct Expr {
  std::vector<Comparison> terms;
  std::string text;  // as written, for messages
};

struct Select {
  bool star = false;
  std::vector<ColumnRef> columns;  // the column list (empty for * and MAX)
  std::optional<ColumnRef> max;    // MAX(column) AS maxAlias
  std::string maxAlias;
  std::string table;
  std::optional<Expr> where;
  std::optional<ColumnRef> orderBy;
};

struct Delete {
  std::string table;
  Expr where;
};

struct AddColumn {
  std::string table;
  FieldDef field;
};

struct CreateTable {
  std::string table;
  std::vector<FieldDef> fields;
};

struct CreateIndex {
  std::string name;
  std::string table;
  std::string column;
};

using Statement = std::variant<Select, Delete, AddColumn, CreateTable, CreateIndex>;

Statement Parse(std::string_view text);
// A WHERE expression on its own (record-set search criteria).
Expr ParseCriteria(std::string_view text);

}  // namespace sql
}  // namespace prax::db

#pragma once
// Table definitions of the files the system writes, and the rule every
// stored value is held to: whole numbers within their field's range, text
// neither empty nor longer than its field. Every store checks a row with
// CheckValue before it writes anything of it, so a refused row stores
// nothing whatever the engine.

#include <string>
#include <string_view>
#include <vector>

#include "store/value.h"

namespace prax::db {

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

inline FieldDef IntegerField(std::string name) { return FieldDef{std::move(name), FieldType::Integer, 2}; }
inline FieldDef LongField(std::string name) { return FieldDef{std::move(name), FieldType::Long, 4}; }
inline FieldDef TextField(std::string name, int size) { return FieldDef{std::move(name), FieldType::Text, size}; }

// A double-quoted SQL identifier, for SQL text of either engine.
std::string Quote(std::string_view name);

// The engines a table is created in: the SQLite file, or the PostgreSQL
// server, whose column types bound the numbers themselves.
enum class Engine { kSqliteFile, kServer };
// Column definition text for CREATE TABLE / ADD COLUMN: the type, NOT NULL
// for primary-index columns, a CHECK holding text to 1..size characters and,
// in the SQLite file, the NOCASE collation of text and (`numberChecks`) a
// CHECK holding numbers to their type's range.
std::string ColumnSql(const FieldDef& f, bool notNull, Engine engine, bool numberChecks = true);
// The condition holding a number field to its type's range ("" for text).
std::string NumberCheckSql(const FieldDef& f);

// Throws the refusal of a value for a field of `table` (a data Error):
// Overflow (6) for a number outside an Integer's or Long's range, 3315 for
// zero-length text, 3163 for text longer than the field, 13 for text in a
// number field. Null passes.
void CheckValue(std::string_view table, const FieldDef& field, const Value& value);

}  // namespace prax::db

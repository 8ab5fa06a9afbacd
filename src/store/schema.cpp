#include "store/schema.h"

#include "platform/error.h"
#include "platform/text.h"

namespace prax::db {

std::string Quote(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

std::string NumberCheckSql(const FieldDef& f) {
  switch (f.type) {
    case FieldType::Integer:
      return Quote(f.name) + " BETWEEN -32768 AND 32767";
    case FieldType::Long:
      return Quote(f.name) + " BETWEEN -2147483648 AND 2147483647";
    case FieldType::Text:
      break;
  }
  return "";
}

std::string ColumnSql(const FieldDef& f, bool notNull, Engine engine, bool numberChecks) {
  const bool file = engine == Engine::kSqliteFile;
  const std::string q = Quote(f.name), null = notNull ? " NOT NULL" : "";
  const std::string check = file && numberChecks ? " CHECK (" + NumberCheckSql(f) + ")" : "";
  switch (f.type) {
    case FieldType::Integer:
      return q + " SMALLINT" + null + check;
    case FieldType::Long:
      return q + " INTEGER" + null + check;
    case FieldType::Text: {
      const std::string n = std::to_string(f.size);
      return q + " VARCHAR(" + n + ")" + (file ? " COLLATE NOCASE" : "") + null + " CHECK (length(" + q +
             ") BETWEEN 1 AND " + n + ")";
    }
  }
  return q;
}

void CheckValue(std::string_view table, const FieldDef& field, const Value& value) {
  if (value.IsNull()) return;
  const std::string shown = std::string(table) + "." + field.name;
  switch (field.type) {
    case FieldType::Integer:
    case FieldType::Long: {
      if (!value.IsInt()) {
        throw Error(err::kTypeMismatch,
                    "Type mismatch: field '" + shown + "' holds numbers, not the text " + value.Describe() + ".", Cause::kData);
      }
      const int64_t n = value.IntValue();
      const bool small = field.type == FieldType::Integer;
      const int64_t lo = small ? -32768 : -2147483648LL, hi = small ? 32767 : 2147483647LL;
      if (n < lo || n > hi) {
        throw Error(err::kOverflow, "Overflow: " + std::to_string(n) + " does not fit field '" + shown + "' (" +
                                        (small ? "Integer" : "Long") + ").", Cause::kData);
      }
      return;
    }
    case FieldType::Text: {
      const std::string s = value.AsText();
      if (s.empty()) throw Error(err::kZeroLengthString, "Field '" + shown + "' cannot be a zero-length string.", Cause::kData);
      if (s.size() > static_cast<size_t>(field.size)) {
        const size_t length = text::Utf8Length(s);
        if (length > static_cast<size_t>(field.size)) {
          throw Error(err::kFieldTooSmall,
                      "The field '" + shown +
                          "' is too small to accept the amount of data you attempted to add: it holds at most " +
                          std::to_string(field.size) + " characters, the value has " + std::to_string(length) + ".", Cause::kData);
        }
      }
      return;
    }
  }
}

}  // namespace prax::db

#include "store/schema.h"

#include "platform/error.h"
#include "platform/text.h"

namespace prax::db {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

const FieldDef* TableDef::Field(std::string_view field) const {
  for (const auto& f : fields) {
    if (SameName(f.name, field)) return &f;
  }
  return nullptr;
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

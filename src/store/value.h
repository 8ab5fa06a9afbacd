#pragma once
// A column value as the stores hand it over: Null, a whole number, or UTF-8
// text.

#include <cstdint>
#include <string>
#include <variant>

namespace prax::db {

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
  // For messages: "Null", the number, or the text in quotes.
  std::string Describe() const;
  // The text itself without a copy; only when IsText().
  const std::string& TextRef() const { return std::get<std::string>(v_); }
  // The number itself; only when IsInt().
  int64_t IntValue() const { return std::get<int64_t>(v_); }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, int64_t, std::string> v_;
};

}  // namespace prax::db

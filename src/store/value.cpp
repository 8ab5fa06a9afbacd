#include "store/value.h"

#include <optional>
#include <string_view>

#include "platform/error.h"

namespace prax::db {

namespace {

// A whole number written as text, blanks around it and a sign allowed;
// nullopt when the text is no such number or does not fit 64 bits.
std::optional<int64_t> WholeNumber(std::string_view text) {
  size_t p = 0, end = text.size();
  while (p < end && (text[p] == ' ' || text[p] == '\t')) ++p;
  while (end > p && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  bool negative = false;
  if (p < end && (text[p] == '-' || text[p] == '+')) {
    negative = text[p] == '-';
    ++p;
  }
  if (p == end) return std::nullopt;
  uint64_t magnitude = 0;
  for (; p < end; ++p) {
    if (text[p] < '0' || text[p] > '9') return std::nullopt;
    const auto d = static_cast<uint64_t>(text[p] - '0');
    if (magnitude > (UINT64_MAX - d) / 10) return std::nullopt;
    magnitude = magnitude * 10 + d;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
  if (magnitude > limit) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

}  // namespace

int64_t Value::AsInt() const {
  if (IsNull()) throw Error(err::kInvalidUseOfNull, "Invalid use of Null", Cause::kData);
  if (IsInt()) return std::get<int64_t>(v_);
  const auto n = WholeNumber(std::get<std::string>(v_));
  if (!n) throw Error(err::kTypeMismatch, "Type mismatch: '" + std::get<std::string>(v_) + "' is not a whole number", Cause::kData);
  return *n;
}

std::string Value::AsText() const {
  if (IsNull()) throw Error(err::kInvalidUseOfNull, "Invalid use of Null", Cause::kData);
  if (IsInt()) return std::to_string(std::get<int64_t>(v_));
  return std::get<std::string>(v_);
}

std::string Value::Describe() const {
  if (IsNull()) return "Null";
  if (IsInt()) return std::to_string(std::get<int64_t>(v_));
  return "\"" + std::get<std::string>(v_) + "\"";
}

}  // namespace prax::db

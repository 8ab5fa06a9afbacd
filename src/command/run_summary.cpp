#include "command/run_summary.h"

namespace prax {

std::string ReasonOf(ErrorKind kind) {
  switch (kind) {
    case err::kOverflow: return "value out of range";
    case err::kSubscript: return "hour or level out of range";
    case err::kTypeMismatch: return "not a number";
    case err::kFieldTooSmall: return "text too long for its column";
    case err::kZeroLengthString: return "empty text";
    case err::kInvalidUseOfNull: return "value missing";
    case err::kNullInIndexedField: return "value missing in an indexed column";
    case err::kSyntaxInExpression: return "name holds a quote";
    case err::kDuplicateValue: return "row already stored";
    case err::kInvalidCall: return "malformed value";
    case err::kOtherEngineError: return "refused by the database";
    default: return "error " + std::to_string(static_cast<int>(kind));
  }
}

std::string ReasonAt(std::string_view where, ErrorKind kind) {
  // A list refuses a new name with an overflow when its ids are all spent.
  constexpr std::string_view kList = "List";
  if (kind == err::kOverflow && where.size() > kList.size() && where.substr(where.size() - kList.size()) == kList) {
    return "name list full";
  }
  return ReasonOf(kind);
}

int64_t TableFigures::Rejected() const {
  int64_t n = 0;
  for (const auto& [reason, lines] : rejects) n += lines;
  return n;
}

int64_t RunSummary::RejectedTotal() const {
  int64_t n = 0;
  for (const auto& [name, table] : tables) n += table.Rejected();
  return n;
}

int64_t RunSummary::RowsAddedTotal() const {
  int64_t n = 0;
  for (const auto& [name, table] : tables) n += table.rowsAdded;
  return n;
}

}  // namespace prax

#include "store/list_ids.h"

#include <string>

#include "platform/error.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace prax::store {

namespace {

int16_t ToId(const std::optional<int64_t>& id, const ListTable& table) {
  if (!id) throw Error(err::kInvalidUseOfNull, "Invalid use of Null: the list " + table.TableName() + " holds a row without an id");
  if (*id < INT16_MIN || *id > INT16_MAX) {
    throw Error(err::kOverflow, "Overflow: " + table.TableName() + " holds the id " + std::to_string(*id) +
                                    ", outside the range -32768 to 32767");
  }
  return static_cast<int16_t>(*id);
}

std::string NameField(const ListTable& table) {
  const std::string column = table.NameColumn();
  return "'" + table.TableName() + (column.empty() ? "" : "." + column) + "'";
}

}  // namespace

ListIds::ListIds(ListTable& table, std::function<void()> onLookup) : table_(table), onLookup_(std::move(onLookup)) {}

void ListIds::Prime() {
  max_ = 0;
  version_ = table_.DataVersion();
  const auto max = table_.MaxId();
  if (max) max_ = num::RoundToInt16(static_cast<double>(*max));
}

void ListIds::Load() {
  ids_.clear();
  for (auto& entry : table_.Entries()) {
    if (entry.name) ids_.emplace(text::FoldCase1252(*entry.name), entry.id);  // the first row of a name wins
  }
}

void ListIds::Open() {
  open_ = false;
  Load();
  open_ = true;
}

int16_t ListIds::Get(std::string_view name) {
  if (!open_) {
    throw Error(err::kOtherEngineError,
                "The list " + table_.TableName() + " is not open; it is opened at the start of each pass");
  }
  const std::string_view trimmed = text::Trim(name);
  if (trimmed.empty()) {
    // No list row can hold an empty name; refused before an id is spent on it.
    throw Error(err::kZeroLengthString, "Field " + NameField(table_) + " cannot be a zero-length string");
  }
  if (trimmed.find('\'') != std::string_view::npos) {
    // No list has ever stored such a name, and reports over the lists rely on that.
    throw Error(err::kSyntaxInExpression, "The name '" + std::string(trimmed) + "' was not looked up in the list " +
                                              table_.TableName() + ": a name may not hold a single quote (')");
  }
  const std::string key = text::FoldCase1252(trimmed);
  auto found = ids_.find(key);
  if (found == ids_.end()) {
    // With the write lock held nobody else can commit; a changed data version
    // says somebody did since the list was read.
    table_.BeginWrite();
    if (table_.DataVersion() != version_) {
      Prime();
      Load();
      found = ids_.find(key);
    }
  }
  int16_t id;
  if (found != ids_.end()) {
    id = ToId(found->second, table_);
  } else {
    if (max_ == INT16_MAX) {
      throw Error(err::kOverflow, "Overflow: the list " + table_.TableName() + " already holds id 32767");
    }
    id = ++max_;  // spent even when the table refuses the row
    table_.Insert(id, trimmed);
    ids_.emplace(key, id);
  }
  if (onLookup_) onLookup_();
  return id;
}

void ListIds::Close() {
  open_ = false;
  ids_.clear();
}

}  // namespace prax::store

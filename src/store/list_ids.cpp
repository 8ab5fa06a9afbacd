#include "store/list_ids.h"

#include <string>

#include "platform/error.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace prax::store {

namespace {

int16_t ToId(const std::optional<int64_t>& id, const ListTable& table) {
  if (!id) throw Error(err::kInvalidUseOfNull, "Invalid use of Null: the list " + table.TableName() + " holds a row without an id", Cause::kData);
  if (*id < INT16_MIN || *id > INT16_MAX) {
    throw Error(err::kOverflow, "Overflow: " + table.TableName() + " holds the id " + std::to_string(*id) +
                                    ", outside the range -32768 to 32767", Cause::kData);
  }
  return static_cast<int16_t>(*id);
}

std::string NameField(const ListTable& table) {
  const std::string column = table.NameColumn();
  return "'" + table.TableName() + (column.empty() ? "" : "." + column) + "'";
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

// The key under which the name column's index (letters A-Z in either case
// alike, comparing up to a NUL byte) finds a name: a name holding a NUL byte,
// junk of a damaged log, equals a name of the same length with the same text
// up to that byte.
std::string IndexKey(std::string_view name) {
  const std::size_t nul = name.find('\0');
  if (nul == std::string_view::npos) return text::FoldCase1252(name);
  std::string key = text::FoldCase1252(name.substr(0, nul));
  key += '\0';
  key += std::to_string(name.size());
  return key;
}

}  // namespace

ListIds::ListIds(ListTable& table, std::function<void()> onLookup) : table_(table), onLookup_(std::move(onLookup)) {}

void ListIds::Prime() {
  max_ = 0;
  version_ = table_.DataVersion();
  const auto max = table_.MaxId();
  if (max) max_ = num::RoundToInt16(static_cast<double>(*max));
}

void ListIds::Remember(const std::string& name, std::optional<int64_t> id) {
  // The first row of a name wins.
  ids_.emplace(text::FoldCase1252(name), id);
  indexIds_.emplace(IndexKey(name), id);
}

void ListIds::Load() {
  ++generation_;
  last_.reset();
  ids_.clear();
  indexIds_.clear();
  for (auto& entry : table_.Entries()) {
    if (entry.name) Remember(*entry.name, entry.id);
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
                "The list " + table_.TableName() + " is not open; it is opened at the start of each pass", Cause::kData);
  }
  // A loader asks for the same name line after line.
  if (last_ && name == lastName_) {
    if (onLookup_) onLookup_();
    return *last_;
  }
  const std::string_view trimmed = text::Trim(name);
  if (trimmed.empty()) {
    // No list row can hold an empty name; refused before an id is spent on it.
    throw Error(err::kZeroLengthString, "Field " + NameField(table_) + " cannot be a zero-length string", Cause::kData);
  }
  if (trimmed.find('\'') != std::string_view::npos) {
    // No list has ever stored such a name, and reports over the lists rely on that.
    throw Error(err::kSyntaxInExpression, "The name '" + std::string(trimmed) + "' was not looked up in the list " +
                                              table_.TableName() + ": a name may not hold a single quote (')", Cause::kData);
  }
  // A name of plain ASCII is found as the name column's index finds it; any
  // other by its whole text, letter case folded.
  const bool ascii = IsAscii(trimmed);
  const std::string key = ascii ? IndexKey(trimmed) : text::FoldCase1252(trimmed);
  auto& ids = ascii ? indexIds_ : ids_;
  auto found = ids.find(key);
  if (found == ids.end()) {
    // With the write lock held nobody else can commit; a changed data version
    // says somebody did since the list was read.
    table_.BeginWrite();
    if (table_.DataVersion() != version_) {
      Prime();
      Load();
      found = ids.find(key);
    }
  }
  int16_t id;
  if (found != ids.end()) {
    id = ToId(found->second, table_);
  } else {
    if (max_ == INT16_MAX) {
      unnumbered_.insert(key);
      throw Error(err::kOverflow, "Overflow: the list " + table_.TableName() + " already holds id 32767", Cause::kData);
    }
    id = ++max_;  // spent even when the table refuses the row
    table_.Insert(id, trimmed);
    Remember(std::string(trimmed), id);
  }
  lastName_.assign(name);
  last_ = id;
  if (onLookup_) onLookup_();
  return id;
}

void ListIds::Close() {
  ++generation_;
  open_ = false;
  last_.reset();
  ids_.clear();
  indexIds_.clear();
}

}  // namespace prax::store

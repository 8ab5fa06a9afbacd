#include "platform/listio.h"

#include "platform/error.h"
#include "platform/numbers.h"

namespace prax {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Consumes the delimiter at `pos` (a comma, CR LF, a lone CR or a lone LF);
// returns it ('\0' at the end of the text).
char ConsumeDelimiter(std::string_view bytes, std::size_t& pos) {
  if (pos >= bytes.size()) return '\0';
  const char c = bytes[pos++];
  if (c == '\r' && pos < bytes.size() && bytes[pos] == '\n') ++pos;
  return c;
}

// Reads one item starting at `pos` and consumes the delimiter after it.
// `delimiter` receives the consumed delimiter ('\0' at the end of the text).
std::string ParseItem(std::string_view bytes, std::size_t& pos, char& delimiter) {
  while (pos < bytes.size() && IsBlank(bytes[pos])) ++pos;
  std::string item;
  if (pos < bytes.size() && bytes[pos] == '"') {
    const std::size_t begin = pos + 1;
    std::size_t close = bytes.find('"', begin);
    if (close == std::string_view::npos) close = bytes.size();
    item.assign(bytes.substr(begin, close - begin));
    pos = close < bytes.size() ? close + 1 : close;
    // Whatever stands between the closing quote and the delimiter is dropped.
    while (pos < bytes.size() && bytes[pos] != ',' && !IsLineEnd(bytes[pos])) ++pos;
  } else {
    const std::size_t begin = pos;
    while (pos < bytes.size() && bytes[pos] != ',' && !IsLineEnd(bytes[pos])) ++pos;
    std::size_t end = pos;
    while (end > begin && IsBlank(bytes[end - 1])) --end;
    item.assign(bytes.substr(begin, end - begin));
  }
  delimiter = ConsumeDelimiter(bytes, pos);
  return item;
}

}  // namespace

// Blank lines in the middle of a file read as empty items, as in the runtime;
// only blanks and line ends after the last item count as the end of the file,
// so that a file with trailing empty lines does not yield a stray empty
// record.
bool ListReader::AtEnd() const {
  for (std::size_t p = pos_; p < bytes_.size(); ++p)
    if (!IsBlank(bytes_[p]) && !IsLineEnd(bytes_[p])) return false;
  return true;
}

std::string ListReader::ReadItem() {
  if (AtEnd()) throw Error(err::kInputPastEnd, "Input past end of file", Cause::kData);
  char delimiter = '\0';
  return ParseItem(bytes_, pos_, delimiter);
}

double ListReader::ReadNumber() { return num::LeadingNumber(ReadItem()); }

// A line ends at CR LF, a lone CR or a lone LF.
std::string ListReader::ReadLine() {
  if (AtEnd()) throw Error(err::kInputPastEnd, "Input past end of file", Cause::kData);
  const std::size_t begin = pos_;
  while (pos_ < bytes_.size() && !IsLineEnd(bytes_[pos_])) ++pos_;
  std::string line = bytes_.substr(begin, pos_ - begin);
  ConsumeDelimiter(bytes_, pos_);
  return line;
}

ListWriter& ListWriter::Line(const std::vector<Item>& items) {
  bool first = true;
  for (const Item& item : items) {
    if (!first) bytes_ += ',';
    first = false;
    if (const auto* s = std::get_if<std::string>(&item)) {
      bytes_ += '"';
      bytes_ += *s;
      bytes_ += '"';
    } else {
      bytes_ += std::to_string(std::get<int64_t>(item));
    }
  }
  bytes_ += "\r\n";
  return *this;
}

// A line of blanks only gives no items; a comma at the end of the line gives
// a last, empty item.
std::vector<std::string> SplitListLine(std::string_view line) {
  std::vector<std::string> items;
  std::size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size()) return items;
  char delimiter = '\0';
  while (pos < line.size()) {
    items.push_back(ParseItem(line, pos, delimiter));
    if (delimiter != ',') break;  // a line end: the line is over
  }
  if (delimiter == ',') items.emplace_back();
  return items;
}

}  // namespace prax

#pragma once
// The sequential list form of small configuration and marker files: items
// separated by commas or line ends, text in double quotes, numbers bare,
// lines ended by CR LF.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace prax {

// Reads items the way the runtime's sequential input statement does:
// blanks (spaces and tabs) before an item are skipped; an item that begins
// with a double quote runs to the next double quote (commas and line ends
// inside belong to it) and then up to the next delimiter, which is consumed;
// any other item runs to the next comma or line end (CR LF, CR or LF),
// without its trailing blanks; two adjacent commas give an empty item. The
// delimiter after an item is consumed, so after the last item of a file
// ending in CR LF the reader is at its end. Line ends carry no other meaning:
// a record may span lines and several may share one.
class ListReader {
 public:
  explicit ListReader(std::string bytes) : bytes_(std::move(bytes)) {}
  bool AtEnd() const;
  // Throws Error(err::kInputPastEnd, "Input past end of file") at the end.
  std::string ReadItem();
  // Reads an item and returns its numeric value (num::LeadingNumber).
  double ReadNumber();
  // Reads the rest of the current line (without its end) as one text.
  std::string ReadLine();

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
};

// Writes the runtime's list-output form: text items quoted, numbers bare,
// items of one line separated by commas, each line ended by CR LF.
class ListWriter {
 public:
  using Item = std::variant<std::string, int64_t>;
  ListWriter& Line(const std::vector<Item>& items);
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// Splits one text line into list items with the reader's rules.
std::vector<std::string> SplitListLine(std::string_view line);

}  // namespace prax

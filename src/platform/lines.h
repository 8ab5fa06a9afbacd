#pragma once
// Line splitting of log files: a line ends at CR LF or at a lone CR; a lone
// LF is an ordinary character of the line. The last line may lack its end.

#include <string>
#include <string_view>

namespace prax {

class LineReader {
 public:
  explicit LineReader(std::string bytes) : bytes_(std::move(bytes)) {}
  // True once every byte has been consumed.
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  // The next line without its end; valid until the reader is destroyed.
  // Returns an empty view at the end.
  std::string_view Next();

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
};

}  // namespace prax

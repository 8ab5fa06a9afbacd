#pragma once
// Line splitting of log files: a line ends at CR LF or at a lone CR; a lone
// LF is an ordinary character of the line. The last line may lack its end.

#include <cstdint>
#include <string>
#include <string_view>

namespace prax {

// The largest file read as a log. A day's log of a working day is well
// under a megabyte; anything above this is no log and is skipped as
// unreadable rather than read.
inline constexpr std::uint64_t kMaxLogBytes = 64ull * 1024 * 1024;

// The bytes of a log file, read whole. A file that cannot be opened, or is
// larger than maxBytes, throws a (data) Error naming it: the caller skips it
// as unreadable. A read error, or a file that changed while it was read (it
// grew, shrank or was rewritten: another program is still writing it), is an
// environment Error, so that no half-read day is stored. Messages name
// shownText when given (else pathText).
std::string ReadLogBytes(std::string_view pathText, std::uint64_t maxBytes = kMaxLogBytes,
                         std::string_view shownText = {});

class LineReader {
 public:
  // Lines of bytes held in memory.
  explicit LineReader(std::string bytes) : owned_(std::move(bytes)), bytes_(owned_) {}
  // Lines of bytes the caller keeps alive while they are read; nothing is copied.
  static LineReader Over(std::string_view bytes) { return LineReader(Borrowed{}, bytes); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // True once every byte has been consumed.
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  // The next line without its end; an empty view at the end.
  std::string_view Next();

 private:
  struct Borrowed {};
  LineReader(Borrowed, std::string_view bytes) : bytes_(bytes) {}

  std::string owned_;
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

}  // namespace prax

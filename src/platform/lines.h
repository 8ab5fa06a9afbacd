#pragma once
// Line splitting of log files: a line ends at CR LF or at a lone CR; a lone
// LF is an ordinary character of the line. The last line may lack its end.

#include <cstdint>
#include <cstdio>
#include <memory>
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
// environment Error, so that no half-read day is stored.
std::string ReadLogBytes(std::string_view pathText, std::uint64_t maxBytes = kMaxLogBytes);

class LineReader {
 public:
  // Lines of bytes held in memory.
  explicit LineReader(std::string bytes) : buf_(std::move(bytes)), eof_(true) {}
  // Lines of bytes the caller keeps alive while they are read; nothing is copied.
  static LineReader Over(std::string_view bytes) {
    LineReader r;
    r.view_ = bytes;
    r.borrowed_ = r.eof_ = true;
    return r;
  }
  // Lines of a log file, streamed: memory holds a chunk and the current
  // line, never the file. A file that cannot be opened, or is larger than
  // maxBytes, throws a (data) Error naming it: the caller skips it as
  // unreadable. Reading errors later are environment Errors.
  static LineReader OpenLog(std::string_view pathText, std::uint64_t maxBytes = kMaxLogBytes);

  // True once every byte has been consumed.
  bool AtEnd();
  // The next line without its end; valid until the next call of Next or
  // AtEnd. Returns an empty view at the end.
  std::string_view Next();
  // For a file: an environment Error when it changed while it was read
  // (it grew, shrank or was rewritten), so that no half-read day is stored.
  void CheckUnchanged() const;

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  LineReader() = default;
  void Fill();
  std::string_view Data() const { return borrowed_ ? view_ : std::string_view(buf_); }

  std::string buf_, spare_;
  std::string_view view_;  // the bytes of Over
  std::size_t pos_ = 0;
  bool eof_ = false, borrowed_ = false;
  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;
  std::uint64_t size_ = 0, read_ = 0;
  std::int64_t modified_ = 0;
};

}  // namespace prax

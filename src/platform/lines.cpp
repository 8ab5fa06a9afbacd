#include "platform/lines.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/error.h"
#include "platform/fs.h"

namespace prax {

namespace {

struct FileStamp {
  bool ok = false;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
};

FileStamp Stamp(std::FILE* f) {
  FileStamp s;
#ifdef _WIN32
  struct _stat64 st {};
  if (::_fstat64(::_fileno(f), &st) != 0) return s;
#else
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) return s;
#endif
  s.ok = true;
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.modified = static_cast<std::int64_t>(st.st_mtime);
  return s;
}

}  // namespace

std::string_view LineReader::Next() {
  const std::string_view rest = bytes_.substr(std::min(pos_, bytes_.size()));
  const std::size_t cr = rest.find('\r');
  if (cr == std::string_view::npos) {
    pos_ = bytes_.size();
    return rest;
  }
  pos_ += cr + 1;
  if (pos_ < bytes_.size() && bytes_[pos_] == '\n') ++pos_;
  return rest.substr(0, cr);
}

}  // namespace prax

namespace prax {

std::string ReadLogBytes(std::string_view pathText, std::uint64_t maxBytes, std::string_view shownText) {
  const std::string path = fs::ForDisplay(shownText.empty() ? pathText : shownText);  // for messages
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(fs::OpenRead(pathText, shownText), &std::fclose);
  const FileStamp before = Stamp(file.get());
  if (!before.ok) {
    throw Error(err::kPathFileAccess, "Path/File access error: '" + path + "'. The file's size cannot be read.", Cause::kEnvironment);
  }
  if (before.size > maxBytes) {
    throw Error(err::kPathFileAccess, "File too large to be a log: '" + path + "' holds " +
                                          std::to_string(before.size) + " bytes, more than the " +
                                          std::to_string(maxBytes / (1024 * 1024)) +
                                          " MiB a log may have. Move it out of the user directory.", Cause::kData);
  }
  // One byte more than the size, so that a file that grew meanwhile shows.
  std::string bytes(static_cast<std::size_t>(before.size) + 1, '\0');
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (got < bytes.size() && std::ferror(file.get()) != 0) {
    throw Error(err::kPathFileAccess,
                "Could not read the log '" + path +
                    "' (an I/O error of the disk or the network). Check the connection to it, then run the "
                    "command again; the day is loaded then.",
                Cause::kEnvironment);
  }
  const FileStamp after = Stamp(file.get());
  if (!after.ok || got != before.size || after.size != before.size || after.modified != before.modified) {
    throw Error(err::kPathFileAccess,
                "The log '" + path +
                    "' changed while it was read (another program is still writing it). Its day is not stored; "
                    "run the command again when the program has finished with it.",
                Cause::kEnvironment);
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace prax

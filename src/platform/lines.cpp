#include "platform/lines.h"

#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/error.h"
#include "platform/fs.h"

namespace prax {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

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

LineReader LineReader::OpenLog(std::string_view pathText, std::uint64_t maxBytes) {
  LineReader r;
  r.path_ = std::string(pathText);
  r.file_.reset(fs::OpenRead(pathText));
  const FileStamp s = Stamp(r.file_.get());
  if (!s.ok) {
    throw Error(err::kPathFileAccess, "Path/File access error: '" + r.path_ + "'. The file's size cannot be read.");
  }
  if (s.size > maxBytes) {
    throw Error(err::kPathFileAccess, "File too large to be a log: '" + r.path_ + "' holds " +
                                          std::to_string(s.size) + " bytes, more than the " +
                                          std::to_string(maxBytes / (1024 * 1024)) +
                                          " MiB a log may have. Move it out of the user directory.");
  }
  r.size_ = s.size;
  r.modified_ = s.modified;
  return r;
}

void LineReader::Fill() {
  // The rest of the current buffer moves to a fresh one; the old one is kept
  // until the next fill, so the line returned last stays valid.
  spare_.assign(buf_, pos_, std::string::npos);
  buf_.swap(spare_);
  pos_ = 0;
  if (!file_) {
    eof_ = true;
    return;
  }
  const std::size_t had = buf_.size();
  buf_.resize(had + kChunk);
  const std::size_t got = std::fread(buf_.data() + had, 1, kChunk, file_.get());
  buf_.resize(had + got);
  read_ += got;
  if (got == 0) {
    if (std::ferror(file_.get()) != 0) {
      throw Error(err::kPathFileAccess,
                  "Could not read the log '" + path_ +
                      "' (an I/O error of the disk or the network). Check the connection to it, then run the "
                      "command again; the day is loaded then.",
                  Cause::kEnvironment);
    }
    eof_ = true;
  }
  if (read_ > size_) CheckUnchanged();
}

bool LineReader::AtEnd() {
  if (pos_ < Data().size()) return false;
  if (!eof_) Fill();
  return pos_ >= Data().size();
}

std::string_view LineReader::Next() {
  for (;;) {
    const std::string_view data = Data();
    const char* begin = data.data() + pos_;
    const std::size_t rest = data.size() - pos_;
    const void* cr = rest == 0 ? nullptr : std::memchr(begin, '\r', rest);
    if (cr != nullptr) {
      const auto length = static_cast<std::size_t>(static_cast<const char*>(cr) - begin);
      // A CR as the last byte read may yet be followed by its LF.
      if (length + 1 < rest || eof_) {
        pos_ += length + 1;
        if (pos_ < data.size() && data[pos_] == '\n') ++pos_;
        return std::string_view(begin, length);
      }
    } else if (eof_) {
      pos_ = data.size();
      return std::string_view(begin, rest);
    }
    Fill();
  }
}

void LineReader::CheckUnchanged() const {
  if (!file_) return;
  const FileStamp s = Stamp(file_.get());
  if (!s.ok || s.size != size_ || s.modified != modified_ || read_ > size_ || (eof_ && read_ != size_)) {
    throw Error(err::kPathFileAccess,
                "The log '" + path_ +
                    "' changed while it was read (another program is still writing it). Its day is not stored; "
                    "run the command again when the program has finished with it.",
                Cause::kEnvironment);
  }
}

}  // namespace prax

namespace prax {

std::string ReadLogBytes(std::string_view pathText, std::uint64_t maxBytes) {
  const std::string path(pathText);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(fs::OpenRead(pathText), &std::fclose);
  const FileStamp before = Stamp(file.get());
  if (!before.ok) {
    throw Error(err::kPathFileAccess, "Path/File access error: '" + path + "'. The file's size cannot be read.");
  }
  if (before.size > maxBytes) {
    throw Error(err::kPathFileAccess, "File too large to be a log: '" + path + "' holds " +
                                          std::to_string(before.size) + " bytes, more than the " +
                                          std::to_string(maxBytes / (1024 * 1024)) +
                                          " MiB a log may have. Move it out of the user directory.");
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

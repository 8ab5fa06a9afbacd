#include "platform/fs.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/error.h"
#include "platform/text.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <io.h>
// The system headers define these names as macros.
#undef CopyFile
#undef DeleteFile
#undef RemoveDirectory
#undef ReplaceFile
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace prax::fs {

namespace {

std::string Quoted(std::string_view pathText) { return "'" + ForDisplay(pathText) + "'."; }

std::string AccessMessage(std::string_view pathText) {
  return "Path/File access error: " + Quoted(pathText) +
         " Check that the disk has space and that the file and its folder can be reached and written by the "
         "account that runs the command.";
}

// Error 75 for an entry that is not a plain file, saying what it is: what
// lies at the path is wrong, not the machine.
[[noreturn]] void ThrowNotPlain(std::string_view pathText, std::string_view what) {
  throw Error(err::kPathFileAccess,
              "'" + ForDisplay(pathText) + "' is " + std::string(what) +
                  ", not a plain file; it is neither read nor written through. Put the file "
                  "itself in its place (or remove it), then run the command again.",
              Cause::kData);
}

// Error 75 for a file with more than one name, which this program never writes.
[[noreturn]] void ThrowHardLink(std::string_view pathText, unsigned long long names) {
  throw Error(err::kPathFileAccess, "'" + ForDisplay(pathText) + "' is a hard link (one file with " +
                                        std::to_string(names) +
                                        " names): writing it would change the file under its other names too, so "
                                        "it is not written. Give the file a name of its own (copy it, then remove "
                                        "this name), then run the command again.",
              Cause::kData);
}

// A missing file or folder, or a folder where a file belongs (and the other
// way round), is a fault of what the folder holds; a refused access (busy,
// locked, not permitted) and a failed read or write are the machine's.
[[noreturn]] void ThrowFileError(ErrorKind kind, std::string_view pathText) {
  switch (kind) {
    case err::kFileNotFound:
      throw Error(kind, "File not found: " + Quoted(pathText) + " Check that it exists and can be reached.",
                  Cause::kData);
    case err::kPermissionDenied:
      throw Error(kind,
                  "Permission denied: " + Quoted(pathText) +
                      " Check that no other program holds it open and that the account may use it.",
                  Cause::kEnvironment);
    case err::kPathNotFound:
      throw Error(kind, "Path not found: " + Quoted(pathText) + " Check that the folder exists.", Cause::kData);
    default:
      throw Error(err::kPathFileAccess, AccessMessage(pathText), Cause::kEnvironment);
  }
}

// A folder that cannot be listed, or whose listing breaks off: the machine's
// failure, named, so that no folder is taken for an empty one.
[[noreturn]] void ThrowUnlisted(std::string_view dirText, const std::error_code& ec) {
  throw Error(err::kPathFileAccess,
              "Folder '" + ForDisplay(dirText) + "' cannot be read (" + ec.message() +
                  "). Check that it is a folder and that the account that runs the command may read it, then run "
                  "the command again.",
              Cause::kEnvironment);
}

// Error 75 for a name that is taken by the wrong kind of entry.
[[noreturn]] void ThrowWrongEntry(std::string_view pathText) {
  throw Error(err::kPathFileAccess, AccessMessage(pathText), Cause::kData);
}

bool ExistsReal(const stdfs::path& p) {
  std::error_code ec;
  return stdfs::exists(p, ec);
}

bool IsDirectoryReal(const stdfs::path& p) {
  std::error_code ec;
  return stdfs::is_directory(p, ec);
}

// The condition a failure stands for. Windows' own error numbers (from its
// system calls) get the conditions of the same situations elsewhere, so that
// a failure has one kind on every system: a folder that is not empty is no
// refused access.
std::error_condition ConditionOf(const std::error_code& ec) {
#ifdef _WIN32
  if (ec.category() == std::system_category()) {
    switch (ec.value()) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_BAD_NETPATH:
      case ERROR_BAD_NET_NAME:
        return std::errc::no_such_file_or_directory;
      case ERROR_DIRECTORY:
        return std::errc::not_a_directory;
      case ERROR_ACCESS_DENIED:
        return std::errc::permission_denied;
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION:
        return std::errc::device_or_resource_busy;
      case ERROR_WRITE_PROTECT:
        return std::errc::read_only_file_system;
      case ERROR_DIR_NOT_EMPTY:
        return std::errc::directory_not_empty;
      default:
        return std::errc::io_error;
    }
  }
#endif
  return ec.default_error_condition();
}

// The kind of a failed operation on `p` with the system's error.
ErrorKind KindFor(const std::error_code& ec, const stdfs::path& p) {
  const std::error_condition c = ConditionOf(ec);
  if (c == std::errc::no_such_file_or_directory || c == std::errc::not_a_directory) {
    return IsDirectoryReal(p.parent_path().empty() ? stdfs::path(".") : p.parent_path())
               ? err::kFileNotFound
               : err::kPathNotFound;
  }
  if (c == std::errc::permission_denied || c == std::errc::operation_not_permitted ||
      c == std::errc::read_only_file_system || c == std::errc::text_file_busy ||
      c == std::errc::device_or_resource_busy)
    return err::kPermissionDenied;
  return err::kPathFileAccess;
}

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

#ifdef _WIN32
std::error_code LastSystemError() { return std::error_code(static_cast<int>(::GetLastError()), std::system_category()); }

// The number of names (hard links) of an open file; 1 when unknown.
unsigned long long LinksOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(h, &info) ? info.nNumberOfLinks : 1;
}

// Opens a plain file for reading, writing (created when missing) or
// appending ("rb", "wb", "ab"), refusing links and anything that is not a
// disk file; a file written must have one name only. A file written is
// truncated only once it is known to be a plain file of its own.
std::FILE* OpenPlain(const stdfs::path& p, const wchar_t* mode, std::string_view pathText) {
  if (KindOfEntry(p) == EntryKind::kLink) ThrowNotPlain(pathText, "a symbolic link");
  const bool write = mode[0] != L'r';
  std::FILE* f = ::_wfopen(p.c_str(), write ? L"ab" : L"rb");
  if (f == nullptr) ThrowFileError(KindFor(LastError(), p), pathText);
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    std::fclose(f);
    ThrowNotPlain(pathText, "a device or pipe");
  }
  if (write && LinksOf(h) > 1) {
    const unsigned long long names = LinksOf(h);
    std::fclose(f);
    ThrowHardLink(pathText, names);
  }
  if (mode[0] == L'w' && ::_chsize_s(::_fileno(f), 0) != 0) {
    std::fclose(f);
    ThrowFileError(err::kPathFileAccess, pathText);
  }
  return f;
}
#else
std::string_view KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a file";
}

// Opens a plain file without following a link in its last component and
// without waiting on a FIFO or device, then makes sure it is a plain file.
int OpenPlain(const stdfs::path& p, int flags, std::string_view pathText) {
  const int fd = ::open(p.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    if ((error == ELOOP || error == ENXIO || error == EMLINK) && ::lstat(p.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      ThrowNotPlain(pathText, KindOf(st.st_mode));
    ThrowFileError(KindFor(std::error_code(error, std::generic_category()), p), pathText);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) ThrowWrongEntry(pathText);
    ThrowNotPlain(pathText, KindOf(st.st_mode));
  }
  if ((flags & (O_WRONLY | O_RDWR)) != 0 && st.st_nlink > 1) {
    ::close(fd);
    ThrowHardLink(pathText, static_cast<unsigned long long>(st.st_nlink));
  }
  return fd;
}

// Writes all bytes to an open file; false on failure.
bool WriteAll(int fd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return false;
  }
  return true;
}
#endif

// Local civil time of a file time; nullopt when it has none.
std::optional<CivilTime> CivilOf(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  if (::localtime_s(&tm, &t) != 0) return std::nullopt;
#else
  if (::localtime_r(&t, &tm) == nullptr) return std::nullopt;
#endif
  return CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// Case-insensitive match of a name with a pattern of '*' and '?'.
bool MatchPattern(std::string_view name, std::string_view pattern) {
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  std::size_t n = 0, p = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || upper(pattern[p]) == upper(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsHiddenReal(const stdfs::path& p) {
#ifdef _WIN32
  const DWORD attributes = ::GetFileAttributesW(p.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
#else
  const std::string name = p.filename().string();
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
#endif
}

#ifndef _WIN32
// Looks for `component` in the existing directory `dir`: the exact name when
// it exists, otherwise the first name (in byte order) equal to it ignoring
// letter case. Empty when there is none (or `dir` is no folder); a folder
// that cannot be read is named.
std::string ResolveComponent(const stdfs::path& dir, const std::string& component) {
  std::error_code ec;
  if (stdfs::exists(dir / component, ec)) return component;
  std::string best;
  stdfs::directory_iterator it(dir, ec);
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) return best;
  for (; !ec && it != stdfs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (text::EqualsIgnoreCase(name, component) && (best.empty() || name < best)) best = std::move(name);
  }
  if (ec) ThrowUnlisted(ToText(dir), ec);
  return best;
}
#endif

}  // namespace

stdfs::path RealPath(std::string_view pathText) {
#ifdef _WIN32
  // The file system itself ignores letter case here.
  return stdfs::path(std::string(pathText));
#else
  // Most paths name what exists in the very letter case given (the logs a
  // listing found, say): one stat of the whole path says so, where going
  // folder by folder costs one each. The path is the one the walk below
  // would build.
  std::string given;
  given.reserve(pathText.size() + 1);
  if (!pathText.empty() && (pathText[0] == '\\' || pathText[0] == '/')) given.push_back('/');
  for (std::size_t at = 0; at <= pathText.size();) {
    std::size_t end = pathText.find_first_of("\\/", at);
    if (end == std::string_view::npos) end = pathText.size();
    if (end > at) {
      if (!given.empty() && given.back() != '/') given.push_back('/');
      given.append(pathText.data() + at, end - at);
    }
    at = end + 1;
  }
  struct stat st {};
  if (!given.empty() && ::stat(given.c_str(), &st) == 0) return stdfs::path(std::move(given));

  stdfs::path result;
  std::size_t pos = 0;
  if (!pathText.empty() && (pathText[0] == '\\' || pathText[0] == '/')) result = "/";
  bool resolving = true;  // whether the folder built so far exists
  while (pos <= pathText.size()) {
    std::size_t end = pathText.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = pathText.size();
    std::string component(pathText.substr(pos, end - pos));
    pos = end + 1;
    if (component.empty()) continue;
    if (component == "." || component == "..") {
      result /= component;
      continue;
    }
    if (resolving) {
      const stdfs::path dir = result.empty() ? stdfs::path(".") : result;
      std::string actual = ResolveComponent(dir, component);
      if (actual.empty())
        resolving = false;
      else
        component = std::move(actual);
    }
    result /= component;
  }
  return result;
#endif
}

bool Exists(std::string_view pathText, bool includeHidden) {
  const stdfs::path p = RealPath(pathText);
  if (!ExistsReal(p)) return false;
  return includeHidden || !IsHiddenReal(p);
}

bool IsDirectory(std::string_view pathText) { return IsDirectoryReal(RealPath(pathText)); }

std::vector<DirEntry> List(std::string_view dirText, std::string_view pattern, std::error_code* openError,
                           std::string_view datedPattern) {
  std::vector<DirEntry> listed;
  const bool all = pattern == "*" || pattern == "*.*";
  const auto add = [&](std::string name, bool isDir, bool isLink, std::optional<CivilTime> modified) {
    std::string upper = text::ToUpperAscii(name);
    listed.push_back(DirEntry{std::move(name), std::move(upper), isDir, isLink, modified});
  };
  const auto dated = [&](std::string_view name) { return !datedPattern.empty() && MatchPattern(name, datedPattern); };
  const stdfs::path dir = RealPath(dirText);
  // Why the folder could not be opened is the caller's when it asks;
  // otherwise a folder that does not exist lists empty and any other
  // failure is named.
  const auto unopened = [&](const std::error_code& ec) {
    if (openError != nullptr)
      *openError = ec;
    else if (ec != std::errc::no_such_file_or_directory)
      ThrowUnlisted(dirText, ec);
    return std::vector<DirEntry>{};
  };
#ifdef _WIN32
  std::error_code ec;
  stdfs::directory_iterator it(dir, ec);
  // Windows says "path not found" for a path through a file; it is named
  // as elsewhere, as a file where a folder should be.
  std::error_code ignored;
  const bool notFound = ConditionOf(ec) == std::errc::no_such_file_or_directory;
  for (stdfs::path up = dir.parent_path(); notFound && up.has_relative_path(); up = up.parent_path()) {
    if (!stdfs::exists(up, ignored)) continue;
    if (!stdfs::is_directory(up, ignored)) ec = std::make_error_code(std::errc::not_a_directory);
    break;
  }
  if (ec) return unopened(ec);
  for (; !ec && it != stdfs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name == "." || name == ".." || (!all && !MatchPattern(name, pattern))) continue;
    std::error_code typeEc;
    const bool isDir = it->is_directory(typeEc);
    std::optional<CivilTime> modified;
    if (dated(name)) modified = LastModifiedReal(it->path());
    add(std::move(name), isDir, KindOfEntry(it->path()) == EntryKind::kLink, modified);
  }
  if (ec) ThrowUnlisted(dirText, ec);
#else
  // The entries' types come with the listing; a link (or a file system that
  // gives no type) costs one stat.
  const std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
  if (d == nullptr) return unopened(LastError());
  const int fd = ::dirfd(d.get());
  // errno tells the end of the listing from a failed read.
  for (errno = 0; const dirent* e = ::readdir(d.get()); errno = 0) {
    const std::string_view name = e->d_name;
    if (name == "." || name == ".." || (!all && !MatchPattern(name, pattern))) continue;
    bool isDir = e->d_type == DT_DIR, isLink = e->d_type == DT_LNK;
    struct stat st {};
    if (e->d_type == DT_UNKNOWN && ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      isLink = S_ISLNK(st.st_mode);
      isDir = S_ISDIR(st.st_mode);
    }
    // st holds what the name leads to once `followed`.
    bool followed = false;
    if (isLink) isDir = (followed = ::fstatat(fd, e->d_name, &st, 0) == 0) && S_ISDIR(st.st_mode);
    std::optional<CivilTime> modified;
    if (dated(name) && (followed || ::fstatat(fd, e->d_name, &st, 0) == 0)) modified = CivilOf(st.st_mtime);
    add(std::string(name), isDir, isLink, modified);
  }
  if (errno != 0) ThrowUnlisted(dirText, LastError());
#endif
  // The entries stay in place while their order is sorted.
  std::vector<uint32_t> order(listed.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const DirEntry &x = listed[a], &y = listed[b];
    const int c = x.upper.compare(y.upper);
    return c != 0 ? c < 0 : x.name < y.name;
  });
  std::vector<DirEntry> entries;
  entries.reserve(listed.size());
  for (const uint32_t i : order) entries.push_back(std::move(listed[i]));
  return entries;
}

std::optional<CivilTime> LastModified(std::string_view pathText) { return LastModifiedReal(RealPath(pathText)); }

std::optional<CivilTime> LastModifiedReal(const stdfs::path& p) {
#ifdef _WIN32
  struct _stat64 st {};
  if (::_wstat64(p.c_str(), &st) != 0) return std::nullopt;
#else
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
#endif
  return CivilOf(static_cast<std::time_t>(st.st_mtime));
}

void SetLastModified(std::string_view pathText, const CivilTime& t) {
  const stdfs::path p = RealPath(pathText);
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  const std::time_t when = std::mktime(&tm);
  if (!ExistsReal(p)) ThrowFileError(err::kFileNotFound, pathText);
#ifdef _WIN32
  std::error_code ec;
  const auto sys = std::chrono::system_clock::from_time_t(when);
  stdfs::last_write_time(p, stdfs::file_time_type::clock::from_sys(sys), ec);
  if (ec) ThrowFileError(KindFor(ec, p), pathText);
#else
  struct timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = when;
  if (::utimensat(AT_FDCWD, p.c_str(), times, 0) != 0) ThrowFileError(KindFor(LastError(), p), pathText);
#endif
}

std::string ReadFile(std::string_view pathText) {
  const stdfs::path p = RealPath(pathText);
  if (IsDirectoryReal(p)) ThrowWrongEntry(pathText);
  std::string bytes;
#ifdef _WIN32
  std::FILE* f = OpenPlain(p, L"rb", pathText);
  char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, got);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
#else
  const int fd = OpenPlain(p, O_RDONLY, pathText);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  bool failed = false;
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0) {
      bytes.append(chunk, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      failed = got < 0;
      break;
    }
  }
  ::close(fd);
#endif
  if (failed) ThrowFileError(err::kPathFileAccess, pathText);
  return bytes;
}

std::FILE* OpenRead(std::string_view pathText, std::string_view shownText) {
  const stdfs::path p = RealPath(pathText);
  const std::string_view shown = shownText.empty() ? pathText : shownText;
  if (IsDirectoryReal(p)) ThrowWrongEntry(shown);
#ifdef _WIN32
  return OpenPlain(p, L"rb", shown);
#else
  const int fd = OpenPlain(p, O_RDONLY, shown);
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) {
    ::close(fd);
    ThrowFileError(err::kPathFileAccess, shown);
  }
  return f;
#endif
}

void WriteFile(std::string_view pathText, std::string_view bytes) {
  const stdfs::path p = RealPath(pathText);
  if (IsDirectoryReal(p)) ThrowWrongEntry(pathText);
#ifdef _WIN32
  std::FILE* f = OpenPlain(p, L"wb", pathText);
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
#else
  // Truncated only once it is known to be a plain file of its own.
  const int fd = OpenPlain(p, O_WRONLY | O_CREAT, pathText);
  const bool written = ::ftruncate(fd, 0) == 0 && WriteAll(fd, bytes);
  const bool closed = ::close(fd) == 0;
#endif
  if (!written || !closed) ThrowFileError(err::kPathFileAccess, pathText);
}

void AppendFile(std::string_view pathText, std::string_view bytes) {
  const stdfs::path p = RealPath(pathText);
  if (IsDirectoryReal(p)) ThrowFileError(err::kPathFileAccess, pathText);
#ifdef _WIN32
  std::FILE* f = OpenPlain(p, L"ab", pathText);
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
#else
  const int fd = OpenPlain(p, O_WRONLY | O_CREAT | O_APPEND, pathText);
  const bool written = WriteAll(fd, bytes);
  const bool closed = ::close(fd) == 0;
#endif
  if (!written || !closed) ThrowFileError(err::kPathFileAccess, pathText);
}

bool CreateNewFile(std::string_view pathText) {
  const stdfs::path p = RealPath(pathText);
#ifdef _WIN32
  // CREATE_NEW fails on any existing entry, a link included.
  const HANDLE h = ::CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) return false;
    ThrowFileError(err::kPathFileAccess, pathText);
  }
  ::CloseHandle(h);
#else
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    ThrowFileError(KindFor(LastError(), p), pathText);
  }
  ::close(fd);
#endif
  return true;
}

void ReplaceFile(std::string_view pathText, std::string_view bytes) {
  RequireOwnFile(pathText);
  const stdfs::path p = RealPath(pathText);
  const std::string fresh = std::string(pathText) + ".new";
  const stdfs::path f = RealPath(fresh);
  std::error_code ec;
  stdfs::remove(f, ec);  // a leftover (a link is removed, never followed)
  if (!CreateNewFile(fresh)) ThrowFileError(err::kPathFileAccess, fresh);
#ifdef _WIN32
  WriteFile(fresh, bytes);
#else
  const int fd = OpenPlain(f, O_WRONLY, fresh);
  const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written) {
    stdfs::remove(f, ec);
    ThrowFileError(err::kPathFileAccess, fresh);
  }
#endif
  stdfs::rename(f, p, ec);
  if (ec) {
    stdfs::remove(f, ec);
    ThrowFileError(err::kPathFileAccess, pathText);
  }
}

#ifndef _WIN32
int OpenOwnFile(std::string_view pathText) {
  const stdfs::path p = RealPath(pathText);
  const int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    RequireOwnFile(pathText);  // names what it is
    errno = error;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
    ::close(fd);
    if (S_ISREG(st.st_mode)) ThrowHardLink(pathText, static_cast<unsigned long long>(st.st_nlink));
    ThrowNotPlain(pathText, S_ISDIR(st.st_mode) ? "a folder" : KindOf(st.st_mode));
  }
  return fd;
}
#endif

EntryKind KindOfEntry(const stdfs::path& real) {
#ifdef _WIN32
  // The attributes of the entry itself: a reparse point is not followed.
  const DWORD attributes = ::GetFileAttributesW(real.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kNone;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder : EntryKind::kFile;
#else
  std::error_code ec;
  const stdfs::file_status st = stdfs::symlink_status(real, ec);
  if (ec || !stdfs::exists(st)) return EntryKind::kNone;
  if (stdfs::is_symlink(st)) return EntryKind::kLink;
  if (stdfs::is_regular_file(st)) return EntryKind::kFile;
  return stdfs::is_directory(st) ? EntryKind::kFolder : EntryKind::kOther;
#endif
}

bool IsSymlink(std::string_view pathText) { return KindOfEntry(RealPath(pathText)) == EntryKind::kLink; }

void RequirePlainFile(std::string_view pathText) {
  const stdfs::path p = RealPath(pathText);
  switch (KindOfEntry(p)) {
    case EntryKind::kNone:
    case EntryKind::kFile:
      return;
    case EntryKind::kLink:
      ThrowNotPlain(pathText, "a symbolic link");
    case EntryKind::kFolder:
      ThrowNotPlain(pathText, "a folder");
    case EntryKind::kOther:
      break;
  }
  std::error_code ec;
  const stdfs::file_status st = stdfs::symlink_status(p, ec);
  if (stdfs::is_fifo(st)) ThrowNotPlain(pathText, "a FIFO (named pipe)");
  if (stdfs::is_socket(st)) ThrowNotPlain(pathText, "a socket");
  ThrowNotPlain(pathText, "a device");
}

void RequireOwnFile(std::string_view pathText) {
  RequirePlainFile(pathText);
  const stdfs::path p = RealPath(pathText);
#ifdef _WIN32
  const HANDLE h = ::CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const unsigned long long names = LinksOf(h);
  ::CloseHandle(h);
#else
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return;
  const auto names = static_cast<unsigned long long>(st.st_nlink);
#endif
  if (names > 1) ThrowHardLink(pathText, names);
}

void CopyFile(std::string_view fromText, std::string_view toText) {
  const stdfs::path from = RealPath(fromText);
  const stdfs::path to = RealPath(toText);
  if (!ExistsReal(from) || IsDirectoryReal(from)) ThrowFileError(err::kFileNotFound, fromText);
  if (IsDirectoryReal(to)) ThrowWrongEntry(toText);
  RequirePlainFile(fromText);
  RequireOwnFile(toText);
  std::error_code ec;
  const auto modified = stdfs::last_write_time(from, ec);
  if (ec) ThrowFileError(KindFor(ec, from), fromText);
#ifdef _WIN32
  // The runtime's copy refuses an existing target here, whatever it is told;
  // the system's own copy overwrites it.
  if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) ec = LastSystemError();
#else
  stdfs::copy_file(from, to, stdfs::copy_options::overwrite_existing, ec);
#endif
  if (ec) ThrowFileError(KindFor(ec, to), toText);
  stdfs::last_write_time(to, modified, ec);
  if (ec) ThrowFileError(KindFor(ec, to), toText);
}

void DeleteFile(std::string_view pathText) {
  const stdfs::path p = RealPath(pathText);
  if (!IsSymlink(pathText) && (!ExistsReal(p) || IsDirectoryReal(p))) ThrowFileError(err::kFileNotFound, pathText);
  std::error_code ec;
  stdfs::remove(p, ec);
  if (ec) ThrowFileError(KindFor(ec, p), pathText);
}

void MakeDirectory(std::string_view pathText) {
  const stdfs::path p = RealPath(pathText);
  if (ExistsReal(p)) ThrowWrongEntry(pathText);
  std::error_code ec;
  if (!stdfs::create_directory(p, ec) || ec) {
    const ErrorKind kind = KindFor(ec, p);
    ThrowFileError(kind == err::kFileNotFound ? err::kPathFileAccess : kind, pathText);
  }
}

void RemoveDirectory(std::string_view pathText) {
  const stdfs::path p = RealPath(pathText);
  if (!IsDirectoryReal(p)) ThrowFileError(err::kPathNotFound, pathText);
  std::error_code ec;
#ifdef _WIN32
  // The runtime's error here says "permission denied" for a folder that is
  // not empty; the system's own error tells them apart.
  if (!::RemoveDirectoryW(p.c_str())) ec = LastSystemError();
#else
  stdfs::remove(p, ec);
#endif
  if (ec) {
    const ErrorKind kind = KindFor(ec, p);
    ThrowFileError(kind == err::kPermissionDenied ? kind : err::kPathFileAccess, pathText);
  }
}

stdfs::path ExecutableDir() {
  std::error_code ec;
#ifdef _WIN32
  std::wstring buffer(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length > 0 && length < buffer.size()) {
    buffer.resize(length);
    return stdfs::path(buffer).parent_path();
  }
#else
  const stdfs::path exe = stdfs::read_symlink("/proc/self/exe", ec);
  if (!ec && !exe.empty()) return exe.parent_path();
#endif
  stdfs::path cwd = stdfs::current_path(ec);
  return ec ? stdfs::path(".") : cwd;
}

std::string DefaultProfileDir() {
#ifdef _WIN32
  char buffer[MAX_PATH + 1] = {};
  const UINT length = ::GetWindowsDirectoryA(buffer, MAX_PATH);
  std::string dir(buffer, length < MAX_PATH ? length : 0);
  if (dir.empty()) dir = "C:\\WINDOWS";
  if (dir.back() != '\\') dir += '\\';
  return dir;
#else
  return "/etc/praxilo/";
#endif
}

std::string ToText(const stdfs::path& p) { return p.generic_string(); }

std::string ForDisplay(std::string_view pathText) {
#ifdef _WIN32
  constexpr char kSeparator = '\\';
#else
  constexpr char kSeparator = '/';
#endif
  std::string out;
  out.reserve(pathText.size());
  for (std::size_t i = 0; i < pathText.size(); ++i) {
    const char c = pathText[i];
    const bool separator = c == '\\' || c == '/';
    // A leading pair stays: it begins a UNC name (\\server\share).
    if (separator && i > 1 && !out.empty() && out.back() == kSeparator) continue;
    out += separator ? kSeparator : c;
  }
  return out;
}

namespace {

std::optional<FileIdentity> IdentityOfReal(const stdfs::path& p) {
#ifdef _WIN32
  const HANDLE h = ::CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = ::GetFileInformationByHandle(h, &info);
  ::CloseHandle(h);
  if (!ok) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
#else
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#endif
}

// The identity of a path (when it exists) and of each existing folder above
// it, nearest first, along its absolute path free of links and dots.
struct Lineage {
  std::optional<FileIdentity> self;
  std::vector<FileIdentity> above;
  bool HasAbove(const FileIdentity& id) const { return std::find(above.begin(), above.end(), id) != above.end(); }
};

// The absolute path free of links and dots (as far as it exists).
stdfs::path PlainAbsolute(std::string_view pathText) {
  std::error_code ec;
  stdfs::path p = stdfs::absolute(RealPath(pathText), ec);
  stdfs::path c = stdfs::weakly_canonical(p, ec);
  p = (ec ? p : c).lexically_normal();
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();  // a trailing separator
  return p;
}

Lineage LineageOf(std::string_view pathText) {
  stdfs::path p = PlainAbsolute(pathText);
  Lineage l;
  l.self = IdentityOfReal(p);
  while (p.has_relative_path()) {
    p = p.parent_path();
    if (auto id = IdentityOfReal(p)) l.above.push_back(*id);
  }
  return l;
}

}  // namespace

std::optional<FileIdentity> IdentityOf(std::string_view pathText) { return IdentityOfReal(RealPath(pathText)); }

Placement PlaceDirectory(std::string_view dirText, std::string_view otherText) {
  const Lineage a = LineageOf(dirText), b = LineageOf(otherText);
  if (a.self && b.self && *a.self == *b.self) return Placement::kSame;
  if (b.self && a.HasAbove(*b.self)) return Placement::kInside;
  if (a.self && b.HasAbove(*a.self)) return Placement::kContains;
  return Placement::kApart;
}

std::string EntryHolding(std::string_view dirText, std::string_view otherText) {
  const std::optional<FileIdentity> other = IdentityOf(otherText);
  if (!other) return {};
  for (stdfs::path p = PlainAbsolute(dirText); p.has_relative_path(); p = p.parent_path()) {
    const std::optional<FileIdentity> above = IdentityOfReal(p.parent_path());
    if (above && *above == *other) return p.filename().string();
  }
  return {};
}

}  // namespace prax::fs

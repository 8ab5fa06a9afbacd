#include "platform/run_lock.h"

#include <ctime>
#include <string>

#include "platform/error.h"
#include "platform/fs.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace prax {

std::string CommandHolder() {
  char host[256] = "unknown";
#ifdef _WIN32
  DWORD size = sizeof(host);
  GetComputerNameA(host, &size);
  const unsigned long pid = GetCurrentProcessId();
#else
  gethostname(host, sizeof(host) - 1);
  host[sizeof(host) - 1] = '\0';
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  return "host " + std::string(host) + ", process " + std::to_string(pid);
}

namespace {

std::string HolderText() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  char started[64];
  std::strftime(started, sizeof(started), "%Y-%m-%d %H:%M:%S", &tm);
  return CommandHolder() + ", started " + started;
}

Error HeldError(const std::string& file, const std::string& holder) {
  return Error(err::kCannotOpenFile,
               "Another PraxServer command is running on this network directory (" +
                   (holder.empty() ? std::string("holder unknown") : holder) + "; lock file '" + file +
                   "'). Wait until it has finished, then run this command again.");
}

}  // namespace

#ifdef _WIN32

RunLock::RunLock(std::string_view networkDirText) : file_(std::string(networkDirText) + std::string(kRunLockFileName)) {
  fs::RequireOwnFile(file_);
  const std::string real = fs::RealPath(file_).string();
  HANDLE h = CreateFileA(real.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) {
      std::string holder;
      try {
        holder = fs::ReadFile(file_);
      } catch (const Error&) {
      }
      throw HeldError(file_, holder);
    }
    throw Error(err::kPathFileAccess, "Cannot create the lock file '" + fs::ForDisplay(file_) +
                                          "'. Check that the network directory exists and is writable.");
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw Error(err::kPathFileAccess, "The lock file '" + fs::ForDisplay(file_) +
                                          "' is a device or pipe, not a plain file. Remove it, then run the "
                                          "command again; nothing was changed.");
  }
  handle_ = h;
  const std::string text = HolderText();
  DWORD written = 0;
  SetEndOfFile(h);
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  FlushFileBuffers(h);
}

RunLock::~RunLock() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

#else

RunLock::RunLock(std::string_view networkDirText) : file_(std::string(networkDirText) + std::string(kRunLockFileName)) {
  // A link planted in its place is not written through, a FIFO or device is
  // refused without waiting on it, and a file with another name is refused.
  fd_ = fs::OpenOwnFile(file_);
  if (fd_ < 0) {
    throw Error(err::kPathFileAccess,
                "Cannot create the lock file '" + fs::ForDisplay(file_) +
                    "': the network directory is missing or not writable for the account that runs the command. "
                    "Make the folder writable for that account (or correct NETDIR in PXNET.INI), then run the "
                    "command again; nothing was changed.");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    std::string holder;
    char buf[512];
    const ssize_t n = ::pread(fd_, buf, sizeof(buf), 0);
    if (n > 0) holder.assign(buf, static_cast<std::size_t>(n));
    ::close(fd_);
    fd_ = -1;
    throw HeldError(file_, holder);
  }
  // The databases keep their journal files beside them: a folder this
  // account cannot write to would fail the command half-way.
  const std::string dir = fs::RealPath(networkDirText).string();
  if (::faccessat(AT_FDCWD, dir.empty() ? "." : dir.c_str(), W_OK, AT_EACCESS) != 0) {
    ::close(fd_);
    fd_ = -1;
    throw Error(err::kPermissionDenied,
                "The network directory '" + fs::ForDisplay(networkDirText) +
                    "' is not writable for the account that runs the command (the databases keep their journal "
                    "files beside them). Make the folder writable for that account, then run the command again; "
                    "nothing was changed.");
  }
  const std::string text = HolderText();
  if (::ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] const ssize_t w = ::pwrite(fd_, text.data(), text.size(), 0);
  }
}

RunLock::~RunLock() {
  if (fd_ >= 0) ::close(fd_);
}

#endif

}  // namespace prax

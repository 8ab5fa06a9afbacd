#include "platform/run_lock.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "platform/error.h"
#include "platform/fs.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
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

bool IsRunLockName(std::string_view upperName) {
  return upperName == kRunLockFileName || upperName.substr(0, kRunRecordFileName.size()) == kRunRecordFileName;
}

namespace {

constexpr std::string_view kTakeSuffix = ".TAKE";
// Tries of the exclusive create; between two, a takeover by another command
// gets a tenth of a second to finish.
constexpr int kTries = 50;

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

Error HeldError(const std::string& file, const std::string& holder, std::string_view more = {}) {
  return Error(err::kCannotOpenFile,
               "Another PraxServer command is running on this network directory (" +
                   (holder.empty() ? std::string("holder unknown") : holder) + "; lock file '" +
                   fs::ForDisplay(file) + "'). Wait until it has finished, then run this command again." +
                   std::string(more), Cause::kData);
}

// The value of a "key value" line of a record; empty when it has none.
std::string Field(const std::string& text, std::string_view key) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line(text.data() + at, end - at);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ' ')
      return std::string(line.substr(key.size() + 1));
    at = end + 1;
  }
  return {};
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

double LocalNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string RandomId() {
  std::random_device random;
  const char* digits = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 32; ++i) id += digits[random() % 16];
  return id;
}

// ---- Files, opened without following links and without blocking ----

// What giving a written file its final name did: a share without links (or
// without renames that keep an open file) cannot.
enum class Placed { kPlaced, kExists, kCannot };

#ifdef _WIN32
using Handle = HANDLE;
const Handle kNoHandle = nullptr;

std::wstring Wide(const std::string& real) { return std::filesystem::path(real).wstring(); }

void Close(Handle h) {
  if (h) CloseHandle(h);
}

double ModTime(Handle h) {
  FILETIME ft{};
  if (!GetFileTime(h, nullptr, nullptr, &ft)) return 0;
  const std::uint64_t ticks = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  return (static_cast<double>(ticks) - 116444736000000000.0) / 1e7;
}

// Null with exists true when a file is already there.
Handle CreateExclusive(const std::string& real, bool& exists) {
  HANDLE h = CreateFileW(Wide(real).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const DWORD why = GetLastError();
  exists = h == INVALID_HANDLE_VALUE && (why == ERROR_FILE_EXISTS || why == ERROR_ALREADY_EXISTS);
  return h == INVALID_HANDLE_VALUE ? kNoHandle : h;
}

bool Rewrite(Handle h, const std::string& text) {
  DWORD written = 0;
  return SetFilePointer(h, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
         WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && SetEndOfFile(h) &&
         FlushFileBuffers(h);
}

Handle OpenToRead(const std::string& real, bool& missing) {
  HANDLE h = CreateFileW(Wide(real).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const DWORD why = GetLastError();
  missing = h == INVALID_HANDLE_VALUE && (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND);
  return h == INVALID_HANDLE_VALUE ? kNoHandle : h;
}

bool IsPlain(Handle h) { return GetFileType(h) == FILE_TYPE_DISK; }

std::string ReadSome(Handle h) {
  char buf[4096];
  DWORD n = 0;
  return ReadFile(h, buf, sizeof(buf), &n, nullptr) ? std::string(buf, n) : std::string();
}

void Remove(const std::string& real) { DeleteFileW(Wide(real).c_str()); }

// Gives a written file its final name unless a file already has it; the
// handle open on it stays valid (it shares deletion).
Placed PlaceUnder(const std::string& written, const std::string& real) {
  if (MoveFileExW(Wide(written).c_str(), Wide(real).c_str(), MOVEFILE_WRITE_THROUGH)) return Placed::kPlaced;
  const DWORD why = GetLastError();
  return why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS ? Placed::kExists : Placed::kCannot;
}

// This boot of this machine: its installation's id and name, and the minute
// it started. Two machines never share it, so a process number is only judged
// where it means the same process; a clock set in between only makes the
// lock wait for its heartbeat to go stale.
std::string MachineId() {
  wchar_t guid[64] = {};
  DWORD size = sizeof(guid);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid", RRF_RT_REG_SZ, nullptr,
                   guid, &size) != ERROR_SUCCESS)
    return {};
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length)) return {};
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG nowMs = ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000;
  std::string id;
  for (const wchar_t* w : {guid, name}) {
    for (; *w != 0; ++w) id += static_cast<char>(*w < 128 ? *w : '?');
    id += ' ';
  }
  return id + std::to_string((nowMs - GetTickCount64()) / 60000);
}

bool ProcessGone(unsigned long pid) {
  if (pid == 0) return false;
  const HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no process has that number
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(h, &code) && code != STILL_ACTIVE;
  CloseHandle(h);
  return ended;
}

#else
using Handle = int;
constexpr Handle kNoHandle = -1;

void Close(Handle h) {
  if (h >= 0) ::close(h);
}

double ModTime(Handle h) {
  struct stat st {};
  if (::fstat(h, &st) != 0) return 0;
  return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

// O_EXCL never follows a link: whatever stands at the name makes it fail.
Handle CreateExclusive(const std::string& real, bool& exists) {
  const int fd = ::open(real.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  exists = fd < 0 && errno == EEXIST;
  return fd;
}

bool Rewrite(Handle h, const std::string& text) {
  return ::pwrite(h, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
         ::ftruncate(h, static_cast<off_t>(text.size())) == 0 && ::fsync(h) == 0;
}

Handle OpenToRead(const std::string& real, bool& missing) {
  const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  missing = fd < 0 && errno == ENOENT;
  return fd;
}

bool IsPlain(Handle h) {
  struct stat st {};
  return ::fstat(h, &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadSome(Handle h) {
  char buf[4096];
  const ssize_t n = ::pread(h, buf, sizeof(buf), 0);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

void Remove(const std::string& real) { ::unlink(real.c_str()); }

// Gives a written file a second name, its final one, unless a file (or a
// link) already has it; the first name is then removed.
Placed PlaceUnder(const std::string& written, const std::string& real) {
  if (::link(written.c_str(), real.c_str()) == 0) {
    Remove(written);
    return Placed::kPlaced;
  }
  return errno == EEXIST ? Placed::kExists : Placed::kCannot;
}

// This boot of this machine and its process namespace: two machines (or
// containers) of one name never share it, so a process number is only
// judged where it means the same process.
std::string MachineId() {
#ifdef __linux__
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string boot;
  std::getline(in, boot);
  char ns[128];
  const ssize_t n = ::readlink("/proc/self/ns/pid", ns, sizeof(ns));
  if (boot.empty() || n <= 0) return {};
  return boot + " " + std::string(ns, static_cast<std::size_t>(n));
#else
  return {};
#endif
}

bool ProcessGone(unsigned long pid) {
  return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}
#endif

// Creates `real` holding `text` unless a file is already there (exists then
// true). The text is written under `scratch` first and the file then takes
// its name, so a command killed on the way never leaves a record without its
// holder, which the next command could only wait out. Where the share cannot
// do that, the file is created in place and written at once.
Handle CreateWhole(const std::string& real, const std::string& scratch, const std::string& text, bool& exists) {
  exists = false;
  bool taken = false;
  Handle h = CreateExclusive(scratch, taken);
  if (h != kNoHandle) {
    const Placed placed = Rewrite(h, text) ? PlaceUnder(scratch, real) : Placed::kCannot;
    if (placed == Placed::kPlaced) return h;
    Close(h);
    Remove(scratch);
    if (placed == Placed::kExists) {
      exists = true;
      return kNoHandle;
    }
  }
  h = CreateExclusive(real, exists);
  if (h != kNoHandle) Rewrite(h, text);
  return h;
}

// What one look at a lock file found. Equal looks saw the same file in the
// same state (a heartbeat in between changes the time).
struct Seen {
  bool exists = false;
  bool plain = true;
  std::string text;
  double modified = 0;
  bool operator==(const Seen&) const = default;
};

Seen Look(const std::string& real) {
  bool missing = false;
  const Handle h = OpenToRead(real, missing);
  if (h == kNoHandle) return Seen{!missing, false, {}, 0};
  Seen seen{true, IsPlain(h), {}, 0};
  if (seen.plain) {
    seen.modified = ModTime(h);
    seen.text = ReadSome(h);
  }
  Close(h);
  return seen;
}

// The time now by the clock of the file system that holds the folder, as a
// file written there just now shows it; this machine's clock when no file
// can be written.
double ShareNow(const std::string& probeReal) {
  bool exists = false;
  const Handle h = CreateExclusive(probeReal, exists);
  if (h == kNoHandle) return LocalNow();
  const bool written = Rewrite(h, "now\n");
  const double now = ModTime(h);
  Close(h);
  Remove(probeReal);
  return written && now > 0 ? now : LocalNow();
}

// Why the holder of a record seen is gone (its process ended on this
// machine, or its heartbeat is older than staleSeconds by `now`); empty
// while it holds the record.
template <class Now>
std::string GoneReason(const Seen& seen, const std::string& machine, Now&& now, int staleSeconds) {
  const std::string theirPid = Field(seen.text, "process");
  if (!machine.empty() && Field(seen.text, "machine") == machine && !theirPid.empty() &&
      ProcessGone(std::strtoul(theirPid.c_str(), nullptr, 10))) {
    return "its process " + theirPid + " on this machine has ended";
  }
  if (const double age = now() - seen.modified; age > staleSeconds)
    return "it has had no heartbeat for " + std::to_string(static_cast<long long>(age)) + " seconds";
  return {};
}

std::string LaterText(int staleSeconds) {
  return " A lock record left by a command that was killed is taken over once it has had no heartbeat for " +
         std::to_string(staleSeconds) + " seconds.";
}

}  // namespace

RunLockLook LookAtRunLock(std::string_view networkDirText, int staleSeconds) {
  const std::string file = std::string(networkDirText) + std::string(kRunLockFileName);
  const std::string record = std::string(networkDirText) + std::string(kRunRecordFileName);
  RunLockLook look;
#ifndef _WIN32
  // The OS lock, tested with a shared lock let go at once; a file that is
  // not a plain one is left for the command to name.
  const std::string real = fs::RealPath(file).string();
  const int fd = ::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      char buf[512];
      const ssize_t n = ::pread(fd, buf, sizeof(buf), 0);
      look.held = HeldError(file, n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string()).what();
    }
    ::close(fd);  // lets go of the shared lock too
    if (look.held) return look;
  }
#endif
  const Seen seen = Look(fs::RealPath(record).string());
  if (!seen.exists) return look;
  if (!seen.plain) {
    look.held = HeldError(record, "the lock record cannot be read", LaterText(staleSeconds)).what();
    return look;
  }
  const std::string holder = FirstLine(seen.text);
  // Judged by this machine's clock: a look writes no file to read the share's.
  const std::string gone = GoneReason(seen, MachineId(), LocalNow, staleSeconds);
  if (gone.empty()) {
    look.held = HeldError(record, holder, LaterText(staleSeconds)).what();
  } else {
    look.takeOver = "the lock record '" + fs::ForDisplay(record) + "' of an earlier command (" +
                    (holder.empty() ? std::string("holder unknown") : holder) + ") would be taken over: " + gone;
  }
  return look;
}

// ---- The OS lock ----

#ifdef _WIN32

RunLock::RunLock(std::string_view networkDirText, int staleSeconds)
    : file_(std::string(networkDirText) + std::string(kRunLockFileName)),
      record_(std::string(networkDirText) + std::string(kRunRecordFileName)),
      staleSeconds_(staleSeconds) {
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
                                          "'. Check that the network directory exists and is writable.", Cause::kData);
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw Error(err::kPathFileAccess, "The lock file '" + fs::ForDisplay(file_) +
                                          "' is a device or pipe, not a plain file. Remove it, then run the "
                                          "command again; nothing was changed.", Cause::kData);
  }
  handle_ = h;
  TakeRecordOrRelease();
  const std::string text = HolderText();
  DWORD written = 0;
  SetEndOfFile(h);
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  FlushFileBuffers(h);
  heartbeat_ = std::thread([this] { Beat(); });
}

#else

RunLock::RunLock(std::string_view networkDirText, int staleSeconds)
    : file_(std::string(networkDirText) + std::string(kRunLockFileName)),
      record_(std::string(networkDirText) + std::string(kRunRecordFileName)),
      staleSeconds_(staleSeconds) {
  // A link planted in its place is not written through, a FIFO or device is
  // refused without waiting on it, and a file with another name is refused.
  fd_ = fs::OpenOwnFile(file_);
  if (fd_ < 0) {
    throw Error(err::kPathFileAccess,
                "Cannot create the lock file '" + fs::ForDisplay(file_) +
                    "': the network directory is missing or not writable for the account that runs the command. "
                    "Make the folder writable for that account (or correct NETDIR in PXNET.INI), then run the "
                    "command again; nothing was changed.", Cause::kData);
  }
  // Only a lock held by another is a refusal; a file system without OS
  // locks leaves the record alone to keep other commands out.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    char buf[512];
    const ssize_t n = ::pread(fd_, buf, sizeof(buf), 0);
    const std::string holder = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    Release();
    throw HeldError(file_, holder);
  }
  // The databases keep their journal files beside them: a folder this
  // account cannot write to would fail the command half-way.
  const std::string dir = fs::RealPath(networkDirText).string();
  if (::faccessat(AT_FDCWD, dir.empty() ? "." : dir.c_str(), W_OK, AT_EACCESS) != 0) {
    Release();
    throw Error(err::kPermissionDenied,
                "The network directory '" + fs::ForDisplay(networkDirText) +
                    "' is not writable for the account that runs the command (the databases keep their journal "
                    "files beside them). Make the folder writable for that account, then run the command again; "
                    "nothing was changed.", Cause::kData);
  }
  TakeRecordOrRelease();
  const std::string text = HolderText();
  if (::ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] const ssize_t w = ::pwrite(fd_, text.data(), text.size(), 0);
  }
  heartbeat_ = std::thread([this] { Beat(); });
}

#endif

RunLock::~RunLock() { Release(); }

// ---- The record ----

void RunLock::TakeRecordOrRelease() {
  try {
    TakeRecord();
  } catch (...) {
    Release();
    throw;
  }
}

void RunLock::TakeRecord() {
  const std::string real = fs::RealPath(record_).string();
  const std::string take = fs::RealPath(record_ + std::string(kTakeSuffix)).string();
  const std::string id = RandomId();
  const std::string probe = fs::RealPath(record_ + "." + id).string();
  const std::string machine = MachineId();
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
  text_ = HolderText() + "\nmachine " + machine + "\nprocess " + std::to_string(pid) + "\nid " + id + "\n";
  const std::string later = LaterText(staleSeconds_);

  std::string holder;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    bool exists = false;
    const Handle h = CreateWhole(real, probe + ".NEW", text_, exists);
    if (h != kNoHandle) {
      recordHandle_ = h;
      return;
    }
    fs::RequirePlainFile(record_);  // a link, FIFO or device in its place is named
    if (!exists) {
      throw Error(err::kPathFileAccess, "Cannot create the lock record '" + fs::ForDisplay(record_) +
                                            "' in the network directory. Make the folder writable for the account "
                                            "that runs the command, then run the command again; nothing was "
                                            "changed.",
                  Cause::kData);
    }
    const Seen seen = Look(real);
    if (!seen.exists) continue;  // its holder has just ended
    if (!seen.plain) {
      fs::RequirePlainFile(record_);
      throw HeldError(record_, "the lock record cannot be read", later);
    }
    holder = FirstLine(seen.text);

    const std::string gone = GoneReason(seen, machine, [&] { return ShareNow(probe); }, staleSeconds_);
    if (gone.empty()) throw HeldError(record_, holder, later);

    // Through the takeover file: only the command that creates it may remove
    // the record, and only the very record it judged gone.
    bool takeExists = false;
    const Handle t = CreateExclusive(take, takeExists);
    if (t == kNoHandle) {
      // Another command takes it over right now, or was killed doing so.
      const Seen other = Look(take);
      if (other.exists && ShareNow(probe) - other.modified > staleSeconds_ && Look(take) == other) Remove(take);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    Rewrite(t, text_);
    Close(t);
    if (Look(real) == seen) {
      Remove(real);
      notices_.push_back("Took over the lock record '" + fs::ForDisplay(record_) + "' of an earlier command (" +
                         (holder.empty() ? std::string("holder unknown") : holder) + "): " + gone + ".");
    }
    Remove(take);
  }
  throw HeldError(record_, holder, later);
}

void RunLock::Beat() {
  const auto period = std::chrono::milliseconds(std::max(100, staleSeconds_ * 1000 / 6));
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, period, [this] { return stop_; })) Rewrite(recordHandle_, text_);
}

void RunLock::Release() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (heartbeat_.joinable()) heartbeat_.join();
  if (recordHandle_ != kNoHandle) {
    // Closed first: a share may keep an open file's name until it is closed.
    Close(recordHandle_);
    recordHandle_ = kNoHandle;
    const std::string real = fs::RealPath(record_).string();
    if (Look(real).text == text_) Remove(real);  // still ours, not taken over meanwhile
  }
#ifdef _WIN32
  Close(static_cast<Handle>(handle_));
  handle_ = nullptr;
#else
  Close(fd_);
  fd_ = -1;
#endif
}

}  // namespace prax

#pragma once
// One command at a time per network directory: a command holds an exclusive
// OS lock on a lock file in the network directory for its whole length. The
// lock file records who holds it (host, process id, start time). The OS
// releases the lock when the process ends, however it ends, so a lock file
// left behind by a killed process is no obstacle.

#include <string>
#include <string_view>

namespace prax {

// Name of the lock file in the network directory.
inline constexpr std::string_view kRunLockFileName = "PRAXSERVER.LCK";

// Who runs this command: "host <name>, process <id>".
std::string CommandHolder();

class RunLock {
 public:
  // Takes the lock on networkDirText & kRunLockFileName. Throws Error when
  // another process holds it (naming the holder and what to do) or when the
  // file cannot be created (naming the file).
  explicit RunLock(std::string_view networkDirText);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  const std::string& File() const { return file_; }

 private:
  std::string file_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace prax

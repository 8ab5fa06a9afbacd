#pragma once
// One command at a time per network directory, also between machines.
//
// A command holds two locks in the network directory for its whole length:
// - an exclusive OS lock (flock; on Windows an exclusive open) on
//   PRAXSERVER.LCK, which the OS drops when the process ends, however it ends;
// - the lock record PRAXSERVER.RUN, created exclusively (it is new, made by
//   this command, or the command is refused; a link or anything else found
//   in its place is never opened for writing). It names the holder (host,
//   process, start time), is rewritten by a heartbeat thread while the
//   command runs, and is removed when the command ends, finished or failed.
// The OS lock does not reach other machines on every share (FUSE mounts such
// as sshfs, SMB without byte-range locks, NFS without its lock manager); an
// exclusive create does wherever a file can be created at all, so the record
// keeps the other machines out there.
//
// A killed command leaves its record behind. The next command takes it over
// when its process no longer exists on this same machine, or when its last
// heartbeat is older than the stale limit (kRunLockStaleSeconds, or what the
// command passes: PRAX_LOCK_STALE_SECONDS in the programs, a test and
// tuning knob). The age is the record's modification time against the
// share's own clock (read from a file written just before), so the clocks of
// the machines need not agree. Two commands taking over the same record at
// once go through the takeover file PRAXSERVER.RUN.TAKE, created
// exclusively: the one that creates it removes the record only if it is
// still the very record both judged gone, and then each tries the exclusive
// create again, which only one wins.

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace prax {

// Names of the OS lock file and of the lock record in the network directory.
inline constexpr std::string_view kRunLockFileName = "PRAXSERVER.LCK";
inline constexpr std::string_view kRunRecordFileName = "PRAXSERVER.RUN";
// How long a record may go without a heartbeat before another machine takes
// it over. It must exceed the heartbeat interval (a sixth of it) plus how long
// the mounts cache a file's attributes.
inline constexpr int kRunLockStaleSeconds = 180;

// Whether an upper-cased name in the network directory belongs to the run
// lock: the lock file, the record and the short-lived files next to it.
bool IsRunLockName(std::string_view upperName);

// Who runs this command: "host <name>, process <id>".
std::string CommandHolder();

// What a command would meet at the lock of a network directory, looked at
// without taking it: nothing is created or changed there. `held`: the
// refusal a command would get, naming the holder; `takeOver`: a record left
// behind that a command would take over, and why.
struct RunLockLook {
  std::optional<std::string> held, takeOver;
};
RunLockLook LookAtRunLock(std::string_view networkDirText, int staleSeconds = kRunLockStaleSeconds);

class RunLock {
 public:
  // Takes the lock on networkDirText & kRunLockFileName and the record.
  // Throws Error when another command holds either (naming the holder and
  // what to do) or when a file cannot be created (naming the file); nothing
  // is left held then. A record whose heartbeat is older than staleSeconds
  // is taken over.
  explicit RunLock(std::string_view networkDirText, int staleSeconds = kRunLockStaleSeconds);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  const std::string& File() const { return file_; }
  // What the administrator is to be told: a record taken over, whose and why.
  const std::vector<std::string>& Notices() const { return notices_; }

 private:
  void TakeRecord();
  // TakeRecord, letting go of the OS lock when it fails.
  void TakeRecordOrRelease();
  void Beat();
  void Release();

  std::string file_, record_;
  std::string text_;  // the record's contents
  std::vector<std::string> notices_;
  int staleSeconds_ = kRunLockStaleSeconds;
#ifdef _WIN32
  void* handle_ = nullptr;
  void* recordHandle_ = nullptr;
#else
  int fd_ = -1;
  int recordHandle_ = -1;
#endif
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread heartbeat_;
};

}  // namespace prax

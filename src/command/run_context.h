#pragma once
// The configuration one command runs with: the program folder, what start-up
// read from INIPATH.TXT, PXNET.INI, Networks.Lst and KEYS.MAX, and the clock.
// The program (window or praxload) fills it; everything below reads it only.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"
#include "platform/fs.h"
#include "platform/run_lock.h"

namespace prax {

struct RunContext {
  // The program folder (the folder of the executable, or any folder a test
  // chooses), as path text without a trailing separator. Files of the program
  // folder are joined to it with a backslash.
  std::string ProgramDir;

  std::string IniDir;      // first line of INIPATH.TXT, may be empty
  // Where PXNET.INI is when INIPATH.TXT names no folder (ends with a
  // separator): the platform's profile folder, or <root>/etc/praxilo/ of an
  // installed program.
  std::string ProfileDir = fs::DefaultProfileDir();
  std::string NetworkDir;  // ends with a backslash (or slash); names are appended directly
  // Where the History database lives: empty for the file PRAXDATA.MDB in
  // NetworkDir, else the libpq connection string of a PostgreSQL server
  // (CONNECT of section HISTORY of PXNET.INI, with ENGINE=postgresql).
  std::string HistoryServer;
  // How long a command waits on that server, in seconds (TIMEOUT of the
  // same section); 0: the store's default.
  int HistoryTimeout = 0;
  int16_t NetworkCount = 0;
  // The lines of Networks.Lst; index 0 is the first network.
  std::vector<std::string> NetworkPaths, NetworkPrefixes, NetworkNames;
  bool AppsNoPresent = false;
  int16_t KeysMax = 260;
  // The highest numbered user slot of the roster (the universe of users).
  int32_t UserSlotCount = 0;

  // The date of the machine that runs the load, as yyyymmdd. A log dated
  // that day or the next (a client in a time zone ahead) may still be
  // written by its client: it is left for a later run unless IncludeToday (a
  // run after close of business). A log dated later still is loaded and
  // named. Tests set their own clock.
  std::function<int32_t()> Today = dt::TodayKey;
  bool IncludeToday = false;
  // The error-keys step works out every user-day of the range, not only the
  // days loaded since: for a fresh database, and on request for a database
  // other tools edited (praxload --recompute-error-keys).
  bool RecomputeErrorKeys = false;
  // The History database was made by this command, so no other program uses
  // it yet: the load commits a user's days of a pass together (CommitGroup)
  // rather than each day on its own.
  bool FreshHistory = false;
  // The logs are read and parsed on a thread of their own while the load
  // writes (the rows are the same either way). PRAX_PARSE_AHEAD=0 in the
  // environment turns it off (a test and tuning knob).
  bool ParseAhead = true;
  // How many threads parse the logs then, each day with the carry the days
  // before it leave (0: as many as the machine runs at once, at most 8;
  // 1: the reading thread alone). PRAX_PARSE_THREADS sets it (a test and
  // tuning knob).
  int ParseThreads = 0;
  // The journal of PRAXDATA.MDB while a load has it open: the write-ahead log
  // where the file lies on a local file system, else the rollback journal.
  // PRAX_JOURNAL=wal|delete forces either (a test and tuning knob).
  enum class Journal { kWalWhereLocal, kWal, kRollback };
  Journal HistoryJournal = Journal::kWalWhereLocal;
  // At most this many rejected lines of a run are kept in PRAXLOAD.REJECTS
  // (praxload --keep-rejects N; 0: none); the rest are only counted.
  int64_t KeepRejects = 10000;
  // Seconds after which another command's lock record without a heartbeat
  // is taken over; PRAX_LOCK_STALE_SECONDS sets another (a test and tuning knob).
  int LockStaleSeconds = kRunLockStaleSeconds;

  // Path text of the PXNET.INI in use.
  std::string ProfileFile() const { return (IniDir.empty() ? ProfileDir : IniDir) + "PXNET.INI"; }
  // Path text of a program-folder file: ProgramDir & "\" & name.
  std::string ProgramFile(std::string_view name) const { return ProgramDir + "\\" + std::string(name); }
};

}  // namespace prax

#pragma once
// The demo network generator: writes a network directory as the desktop
// clients and the console leave it (roster MASTER.MDB, numbered user
// directories with Alert and Activity logs, UserDefs.Prn) and, on request, a
// program folder that finds it (INIPATH.TXT, PXNET.INI). Same seed, same
// bytes.

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/datetime.h"

namespace prax::gen {

struct GenOptions {
  std::filesystem::path networkDir;  // created; must be new or empty
  int32_t users = 5;                 // users with logs
  int days = 3;                      // consecutive weekdays from `start`
  uint64_t seed = 1;
  dt::Date start{2026, 1, 5};
  std::filesystem::path programDir;  // empty: no program-folder files
  int32_t unassigned = -1;           // unassigned roster slots; -1: one per twenty users, at least one
  int threads = 0;                   // 0: one per processor, at most 8
  double nasty = 0;                  // share of log lines damaged as real logs are (0..1)
};

struct GenSummary {
  std::filesystem::path networkDir;
  int32_t users = 0;  // users with logs
  int32_t slots = 0;  // numbered roster slots, unassigned ones included
  int firstDay = 0;   // index of the first day written by this call
  int days = 0;       // days written by this call
  dt::Date firstDate{}, lastDate{};
  int64_t files = 0;
  int64_t bytes = 0;
  double seconds = 0;
};

// The roster slot numbers that are left unassigned for `users` users and
// `unassigned` free slots (spread evenly over the numbers 1..users+unassigned).
bool IsUnassignedSlot(int32_t slot, int32_t users, int32_t unassigned);

// Writes a new network. Throws prax::Error when the folder is not empty or a
// file cannot be written.
GenSummary GenerateNetwork(const GenOptions& options);

// Weekdays a default network leaves free between its last day and today, for
// --append-day.
inline constexpr int kAppendRoom = 10;

// The default first day of a network of `days` weekdays: it ends kAppendRoom
// weekdays before `today`, so that a loader run today loads all of it (a
// loader leaves today's logs for a later run).
dt::Date DefaultStart(const dt::Date& today, int days);

// Appends the next weekday's logs for every user of a network made by
// GenerateNetwork (its settings are kept in the network's "praxgen.ini").
// A day not yet over (`today` or later) is not appended: Error, nothing
// written.
GenSummary AppendDay(const std::filesystem::path& networkDir, int threads = 0, dt::Date today = dt::Today());

// One line describing what was written.
std::string SummaryLine(const GenSummary& summary);

}  // namespace prax::gen

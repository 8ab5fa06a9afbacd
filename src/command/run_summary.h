#pragma once
// What a run did, gathered while it runs: per pass and per table what was
// read, loaded, added and rejected, the files passed over with their reason,
// and the warnings. praxload prints it, writes it as JSON (--summary) and as
// the HTML run report; the window shows it under its progress bars.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace prax {

// The short, stable phrase that names a kind of failure in the summary, the
// JSON and the reject file ("value out of range", "name too long", ...).
std::string ReasonOf(ErrorKind kind);
// The same for a step at `where` (a table or list): an overflow of a list is
// a list whose ids are all spent ("name list full").
std::string ReasonAt(std::string_view where, ErrorKind kind);

// One table (or list) of the History database in this run.
struct TableFigures {
  int64_t rowsAdded = 0;
  std::map<std::string, int64_t> rejects;  // reason -> lines (or steps) rejected
  int64_t Rejected() const;
};

// One pass of the load job: "alert logs", "activity logs", "error keys".
struct PassFigures {
  std::string name;
  int64_t logsRead = 0;       // log files read (parsed)
  int64_t daysLoaded = 0;     // user-days written
  int64_t rowsAdded = 0;      // rows of every table
  int64_t linesRejected = 0;  // lines (or steps) that failed
  double seconds = 0;
};

// A file (or folder, or roster row) passed over, skipped or left unread.
struct PassedOverItem {
  std::string reason;  // a short phrase: "left for a later run", "unreadable", ...
  std::string path;    // in display form; empty when the item is not a file
  std::string line;    // the line the run log and the console said
};

// A line of a log that failed its step, as kept in the reject file.
struct RejectedLine {
  std::string table;   // where the step wrote or looked up
  std::string reason;  // ReasonOf the failure
  std::string file;    // the log, in display form
  int64_t line = 0;    // 1-based line number; 0: the day as a whole
  std::string text;    // the line's bytes (Windows-1252), unescaped
};

struct RunSummary {
  std::string started, ended;  // local time, "2026-12-08T02:30:00"
  std::string engine;          // "sqlite" or "postgresql"
  std::string database;        // PRAXDATA.MDB in display form, or the server (without password)
  int32_t usersProcessed = 0;
  std::optional<int32_t> firstDay, lastDay;  // yyyymmdd of the days loaded
  std::vector<PassFigures> passes;
  std::map<std::string, TableFigures> tables;
  std::vector<PassedOverItem> passedOver;
  std::vector<std::string> warnings;
  std::string rejectsFile;      // where rejected lines are kept; empty: nowhere
  int64_t rejectsKept = 0;      // lines written there by this run
  bool rejectsCapped = false;   // the cap was reached: the rest were only counted
  int exitStatus = 0;           // praxload's exit status

  int64_t RejectedTotal() const;
  int64_t RowsAddedTotal() const;
};

}  // namespace prax

#pragma once
// The log files of a user directory as a list of days: each log that gives a
// valid day is listed with its date, its file name and how it is named.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace prax {

// How a log is named: PRAXnnn after the day number of the year it was last
// written in, or yyyymmdd after its date.
enum class LogNaming { kDayNumber, kDate };

struct LogDay {
  LogDay() = default;
  LogDay(int32_t day, std::string name, LogNaming how = LogNaming::kDate)
      : date(day), fileName(std::move(name)), naming(how) {}

  // yyyymmdd. The century follows the two-digit year rule ("19" when the year
  // of the century is above 90, else "20"), also for a yyyymmdd name, whose
  // own century names only the file: 19900101.PXL is the day 20900101.
  int32_t date = 0;
  std::string fileName;  // in capitals ("PRAX032.PXL", "20011231.PXL")
  LogNaming naming = LogNaming::kDate;
  // The name the file was listed under, in its own letter case: the one the
  // capitals resolve to, by which it is opened without searching the folder
  // again. Empty: fileName.
  std::string listedName;

  // The day as the status log names it: "yy-mm-dd" and the three day digits,
  // or "yy-mm-dd", the century and "*".
  std::string Label() const;
  // The same day whatever letter case its file was listed in.
  bool operator==(const LogDay& o) const { return date == o.date && fileName == o.fileName && naming == o.naming; }
};

// In directory-listing order.
using FileList = std::vector<LogDay>;

// Lists dir & "\*." & ext (hidden files included, names upper-cased, in
// listing order). A PRAX name is dated by its three day digits in the year of
// its last modification, a 19/20 name by its yyyymmdd. A PRAX name without
// three digits, or a yyyymmdd name that is not a valid date, gives no day. A
// missing directory gives an empty list. An entry that is a symbolic link is
// passed over (links are never followed out of a user directory).
FileList BuildFileList(std::string_view dirText, std::string_view ext);

// The logs of one kind of a user directory, and why folders and files were
// not read (each saying what the administrator can do).
struct ListedLogs {
  FileList files;
  std::vector<std::string> skipped;
};
struct UserLogs {
  ListedLogs alert;     // *.PXL
  ListedLogs activity;  // *.PXT
};

// BuildFileList of both kinds for the user directory userDir of networkDir
// (userDir begins with networkDir) from one listing of it, reading nothing
// outside it: when the user directory or its thousand folder is a symbolic
// link the lists are empty, and log files that are links are left out.
UserLogs BuildUserLogs(std::string_view networkDir, std::string_view userDir);

}  // namespace prax

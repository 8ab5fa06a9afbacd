#include "logs/file_list.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace prax {

namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Digits(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// yyyymmdd of a date, its century by the two-digit year rule.
int32_t DateKey(const dt::Date& d) {
  const int yy = (d.year % 100 + 100) % 100;
  return ((yy > 90 ? 1900 : 2000) + yy) * 10000 + d.month * 100 + d.day;
}

// "its name ... <why>": what a listed name that gives no day is told by.
Error BadName(std::string_view name, std::string_view why) {
  return Error(err::kInvalidCall, "its name " + std::string(name) + " " + std::string(why), Cause::kData);
}

// The date of a PRAX name whose file was last modified at `modified`
// (nullopt: the file is gone; `path` names it).
dt::Date DayNumberDate(std::string_view name, const std::optional<fs::CivilTime>& modified, std::string_view path) {
  const std::string_view digits = text::SliceAt(name, 5, 3);
  if (digits.size() != 3 || !AllDigits(digits)) {
    throw BadName(name, "has no three-digit day number after PRAX");
  }
  const int day = Digits(digits);
  if (day < 1 || day > 366) throw BadName(name, "has a day number outside 001 to 366");
  if (!modified) throw Error(err::kFileNotFound, "File not found: '" + fs::ForDisplay(path) + "'.", Cause::kData);
  return dt::FromYearDay(modified->year, day - 1);
}

dt::Date DateNameDate(std::string_view name) {
  const std::string_view digits = text::FirstChars(name, 8);
  if (digits.size() != 8 || !AllDigits(digits)) throw BadName(name, "does not begin with a date yyyymmdd");
  const dt::Date date{Digits(digits.substr(0, 4)), Digits(digits.substr(4, 2)), Digits(digits.substr(6, 2))};
  if (!dt::IsValid(date.year, date.month, date.day)) throw BadName(name, "does not name a valid date");
  return date;
}

// Whether a name is one the logs are given (PRAX, 19 or 20 at its start):
// such a name that gives no day is named, any other is no log at all.
bool LooksLikeLog(std::string_view upper) {
  return text::StartsWith(upper, "PRAX") || text::StartsWith(upper, "20") || text::StartsWith(upper, "19");
}

// The day of a listed (upper-cased) name, or nothing when the name is not a
// log name this system writes. A day must lead back to the same file name,
// so that a day is never loaded from another file than the one it was dated by.
// `entry` is the file as the path text resolves it in the folder `dirText`
// (its date comes from that file's modification time, read with the listing).
std::optional<LogDay> DayFor(std::string_view dirText, const fs::DirEntry& entry, std::string_view upper,
                             std::string_view ext) {
  LogDay day;
  dt::Date date;
  if (text::StartsWith(upper, "PRAX")) {
    const std::string path = std::string(dirText) + "\\" + entry.name;
    date = DayNumberDate(entry.name, entry.modified, path);
    day.naming = LogNaming::kDayNumber;
    day.fileName = "PRAX" + std::string(text::SliceAt(upper, 5, 3));
  } else if (LooksLikeLog(upper)) {  // 19 or 20
    date = DateNameDate(upper);
    day.fileName = std::string(text::FirstChars(upper, 8));
  } else {
    return std::nullopt;
  }
  day.fileName += '.';
  day.fileName += ext;
  day.date = DateKey(date);
  if (!text::EqualsIgnoreCase(day.fileName, upper)) {
    throw BadName(entry.name, "is not named as a log is (" + day.fileName + " would be)");
  }
  return day;
}

// The entries of a listing that a day number dates: their modification
// times come with the listing.
constexpr std::string_view kDated = "PRAX*";

// The logs named "*." & ext among a folder's listed entries (in listing
// order); onSkip (when given) hears of each entry named like a log that is
// not listed: a symbolic link (never followed), a folder, a name that gives
// no valid date. `why` ends without a full stop.
FileList LogsAmong(std::string_view dirText, const std::vector<fs::DirEntry>& listed, std::string_view ext,
                   const std::function<void(const std::string& path, const std::string& why)>& onSkip) {
  FileList list;
  std::string suffix = text::ToUpperAscii(ext);
  suffix.insert(suffix.begin(), '.');
  std::vector<const fs::DirEntry*> entries;
  for (const fs::DirEntry& e : listed) {
    if (text::EndsWith(e.upper, suffix)) entries.push_back(&e);
  }
  const auto skip = [&](const fs::DirEntry& e, const std::string& why) {
    if (onSkip) onSkip(std::string(dirText) + "\\" + e.name, why);
  };
  list.reserve(entries.size());
  const fs::DirEntry* resolved = nullptr;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const fs::DirEntry* e = entries[i];
    const std::string& upper = e->upper;
    // The entry a path text resolves to among names that differ only in
    // letter case: the one written in capitals, else the first in byte order
    // (as fs::RealPath resolves it). The listing is sorted by upper-cased
    // name, then by name, so these stand together, the first one first.
    if (i == 0 || entries[i - 1]->upper != upper) {
      resolved = e;
      for (std::size_t j = i; j < entries.size() && entries[j]->upper == upper; ++j) {
        if (entries[j]->name == upper) resolved = entries[j];
      }
    }
    if (e->isSymlink) {
      if (!e->isDirectory) {
        skip(*e, "it is a symbolic link, and links are not followed out of the user directory. Put the file itself "
                 "in place of the link");
      }
      continue;
    }
    if (e->isDirectory) {
      if (LooksLikeLog(upper)) skip(*e, "it is a folder, not a log");
      continue;
    }
    std::optional<LogDay> day;
    try {
      day = DayFor(dirText, *resolved, upper, ext);
    } catch (const Error& failure) {
      // A name that does not give a valid date is passed over, named; a file
      // that vanished since the listing is gone. The run goes on.
      if (failure.Kind() == err::kInvalidCall) {
        skip(*e, std::string(failure.what()) + ", so no day is loaded from it. Rename it yyyymmdd after the day it "
                                                 "holds, or move it out of the folder");
      }
      continue;
    }
    if (day) {
      day->listedName = resolved->name;
      list.push_back(std::move(*day));
    }
  }
  return list;
}

// What stands in a folder's place.
std::string NotFolderKind(std::string_view pathText) {
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::symlink_status(fs::RealPath(pathText), ec);
  if (std::filesystem::is_fifo(st)) return "a FIFO (named pipe)";
  if (std::filesystem::is_socket(st)) return "a socket";
  if (std::filesystem::is_block_file(st) || std::filesystem::is_character_file(st)) return "a device";
  return "a file";
}

}  // namespace

FileList BuildFileList(std::string_view dirText, std::string_view ext) {
  return LogsAmong(dirText, fs::List(dirText, "*." + std::string(ext), nullptr, kDated), ext, nullptr);
}

UserLogs BuildUserLogs(std::string_view networkDir, std::string_view userDir) {
  UserLogs logs;
  // What concerns the folder concerns both kinds of logs.
  auto skip = [&](const std::string& why) {
    logs.alert.skipped.push_back(why);
    logs.activity.skipped.push_back(why);
  };
  // Each folder below the network directory on the way to the user directory.
  std::string folder(networkDir);
  std::string_view rest = userDir.substr(std::min(networkDir.size(), userDir.size()));
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find_first_of("\\/"), rest.size());
    folder += rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (fs::IsSymlink(folder)) {
      skip("User directory '" + fs::ForDisplay(userDir) + "' not read: '" + fs::ForDisplay(folder) +
           "' is a symbolic link, and links are not followed out of the network directory. Put the folder "
           "itself in place of the link.");
      return logs;
    }
    folder += '\\';
  }
  // One listing for both kinds.
  std::error_code openError;
  const std::vector<fs::DirEntry> listed = fs::List(userDir, "*.PX?", &openError, kDated);
  for (ListedLogs* kind : {&logs.alert, &logs.activity}) {
    kind->files = LogsAmong(userDir, listed, kind == &logs.alert ? "PXL" : "PXT",
                            [&](const std::string& path, const std::string& why) {
                              kind->skipped.push_back("Log file '" + fs::ForDisplay(path) + "' not read: " + why + ".");
                            });
  }
  // A user directory that is there but cannot be listed (no permission for
  // the account that runs the load, or something else in the folder's place)
  // is named, not taken for an empty one.
  if (openError == std::errc::not_a_directory) {
    // The user directory, or the thousand folder above it (said once for all
    // its users), is something else.
    if (fs::Exists(userDir)) {
      skip("User directory '" + fs::ForDisplay(userDir) + "' not read: it is " + NotFolderKind(userDir) +
           ", not a folder. Put the user's folder in its place; its logs are loaded by the next run.");
    } else {
      const std::string_view thousand = userDir.substr(0, userDir.find_last_of("\\/"));
      skip("Thousand folder '" + fs::ForDisplay(thousand) + "' not read: it is " + NotFolderKind(thousand) +
           ", not a folder, so none of its users is loaded. Put the folder in its place.");
    }
  } else if (openError && openError != std::errc::no_such_file_or_directory) {
    skip("User directory '" + fs::ForDisplay(userDir) + "' not read: " + openError.message() +
         ". Let the account that runs the load read it; its logs are loaded by the next run.");
  }
  return logs;
}

std::string LogDay::Label() const {
  return dt::FormatYyMmDd({date / 10000, date / 100 % 100, date % 100}) +
         (naming == LogNaming::kDate ? fileName.substr(0, 2) + "*" : fileName.substr(4, 3));
}

}  // namespace prax

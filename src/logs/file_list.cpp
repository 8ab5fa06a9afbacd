#include "logs/file_list.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

std::string DayNameDate(std::string_view name, const std::optional<fs::CivilTime>& modified, std::string_view path);

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

std::string DateText(const dt::Date& d) {
  return dt::FormatYyMmDd(d) + "  -  " + std::to_string(dt::SerialDay(d));
}

// "its name ... <why>": what a listed name that gives no entry is told by.
Error BadName(std::string_view name, std::string_view why) {
  return Error(err::kInvalidCall, "its name " + std::string(name) + " " + std::string(why), Cause::kData);
}

// One entry for a listed (upper-cased) name, or nothing when the name is not a
// log name this system writes. An entry must lead back to the same file name,
// so that a day is never loaded from another file than the one it was dated by.
// `name` is the file's name as the path text resolves it in the folder whose
// real path is realDir (its date comes from that file's modification time).
std::string EntryFor(std::string_view dirText, const std::filesystem::path& realDir, std::string_view name,
                     std::string_view upper, std::string_view ext) {
  std::string entry;
  if (text::StartsWith(upper, "PRAX")) {
    const std::string path = std::string(dirText) + "\\" + std::string(name);
    entry = std::string(text::FirstChars(DayNameDate(name, fs::LastModifiedReal(realDir / std::string(name)), path), 8));
    entry += text::SliceAt(upper, 5, 3);
  } else if (text::StartsWith(upper, "20") || text::StartsWith(upper, "19")) {
    entry = std::string(text::FirstChars(DateNameToDate(upper), 8));
    entry += text::FirstChars(upper, 2);
    entry += '*';
  } else {
    return {};
  }
  if (!text::EqualsIgnoreCase(EntryFileName(entry, ext), upper)) {
    throw BadName(name, "is not named as a log is (" + EntryFileName(entry, ext) + " would be)");
  }
  return entry;
}

// Whether a name is one the logs are given (PRAX, 19 or 20 at its start):
// such a name that gives no entry is named, any other is no log at all.
bool LooksLikeLog(std::string_view upper) {
  return text::StartsWith(upper, "PRAX") || text::StartsWith(upper, "20") || text::StartsWith(upper, "19");
}

// The listing behind both file lists; onSkip (when given) hears of each
// entry named like a log that is not listed: a symbolic link (never
// followed), a folder, a name that gives no valid date. `why` ends without a
// full stop.
FileList ListLogs(std::string_view dirText, std::string_view ext,
                  const std::function<void(const std::string& path, const std::string& why)>& onSkip,
                  std::error_code* openError = nullptr) {
  FileList list(1);
  const std::string pattern = "*." + std::string(ext);
  const std::vector<fs::DirEntry> entries = fs::List(dirText, pattern, openError);
  const std::filesystem::path realDir = fs::RealPath(dirText);
  // The name a path text resolves to among names that differ only in letter
  // case: the one written in capitals, else the first in byte order (as
  // fs::RealPath resolves it), found here without listing the folder again.
  std::unordered_map<std::string, std::string> resolved;
  for (const fs::DirEntry& e : entries) {
    const std::string upper = text::ToUpperAscii(e.name);
    auto [it, added] = resolved.emplace(upper, e.name);
    if (!added && it->second != upper && (e.name == upper || e.name < it->second)) it->second = e.name;
  }
  const auto skip = [&](const fs::DirEntry& e, const std::string& why) {
    if (onSkip) onSkip(std::string(dirText) + "\\" + e.name, why);
  };
  for (const fs::DirEntry& e : entries) {
    const std::string upper = text::ToUpperAscii(e.name);
    if (e.isSymlink) {
      if (!e.isDirectory) {
        skip(e, "it is a symbolic link, and links are not followed out of the user directory. Put the file itself "
                "in place of the link");
      }
      continue;
    }
    if (e.isDirectory) {
      if (LooksLikeLog(upper)) skip(e, "it is a folder, not a log");
      continue;
    }
    std::string entry;
    try {
      entry = EntryFor(dirText, realDir, resolved.at(upper), upper, ext);
    } catch (const Error& failure) {
      // A name that does not give a valid date is passed over, named; a file
      // that vanished since the listing is gone. The run goes on.
      if (failure.Kind() == err::kInvalidCall) {
        skip(e, std::string(failure.what()) + ", so no day is loaded from it. Rename it yyyymmdd after the day it "
                                                "holds, or move it out of the folder");
      }
      continue;
    }
    if (!entry.empty()) list.push_back(std::move(entry));
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

FileList BuildFileList(std::string_view dirText, std::string_view ext) { return ListLogs(dirText, ext, nullptr); }

FileList BuildUserFileList(std::string_view networkDir, std::string_view userDir, std::string_view ext,
                           std::vector<std::string>& skipped) {
  auto skip = [&](std::string why) { skipped.push_back(std::move(why)); };
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
      return FileList(1);
    }
    folder += '\\';
  }
  std::error_code openError;
  FileList list = ListLogs(
      userDir, ext,
      [&](const std::string& path, const std::string& why) {
        skip("Log file '" + fs::ForDisplay(path) + "' not read: " + why + ".");
      },
      &openError);
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
    return FileList(1);
  }
  return list;
}

// The date of a PRAX name whose file was last modified at `modified`
// (nullopt: the file is gone; `path` names it).
std::string DayNameDate(std::string_view name, const std::optional<fs::CivilTime>& modified, std::string_view path) {
  const std::string_view digits = text::SliceAt(name, 5, 3);
  if (digits.size() != 3 || !AllDigits(digits)) {
    throw BadName(name, "has no three-digit day number after PRAX");
  }
  const int day = Digits(digits);
  if (day < 1 || day > 366) throw BadName(name, "has a day number outside 001 to 366");
  if (!modified) throw Error(err::kFileNotFound, "File not found: '" + fs::ForDisplay(path) + "'.", Cause::kData);
  return DateText(dt::FromYearDay(modified->year, day - 1));
}

std::string DayNameToDate(std::string_view dirText, std::string_view name) {
  const std::string path = std::string(dirText) + "\\" + std::string(name);
  return DayNameDate(name, fs::LastModified(path), path);
}

std::string DateNameToDate(std::string_view name) {
  const std::string_view digits = text::FirstChars(name, 8);
  if (digits.size() != 8 || !AllDigits(digits)) throw BadName(name, "does not begin with a date yyyymmdd");
  const int year = Digits(digits.substr(0, 4));
  const int month = Digits(digits.substr(4, 2));
  const int day = Digits(digits.substr(6, 2));
  if (!dt::IsValid(year, month, day)) throw BadName(name, "does not name a valid date");
  return DateText(dt::Date{year, month, day});
}

std::string AddCentury(std::string_view yymmdd) {
  std::string out = num::LeadingNumber(text::FirstChars(yymmdd, 2)) > 90 ? "19" : "20";
  out += yymmdd;
  return out;
}

int32_t EntryDateKey(std::string_view entry) {
  std::string yymmdd;
  yymmdd.reserve(6);
  yymmdd += text::SliceAt(entry, 1, 2);
  yymmdd += text::SliceAt(entry, 4, 2);
  yymmdd += text::SliceAt(entry, 7, 2);
  return num::RoundToInt32(num::LeadingNumber(AddCentury(yymmdd)));
}

std::string EntryFileName(std::string_view entry, std::string_view ext) {
  std::string name;
  if (!entry.empty() && entry.back() == '*') {
    name += text::SliceAt(entry, 9, 2);
    name += text::SliceAt(entry, 1, 2);
    name += text::SliceAt(entry, 4, 2);
    name += text::SliceAt(entry, 7, 2);
  } else {
    name = "PRAX";
    name += text::SliceAt(entry, 9, 3);
  }
  name += '.';
  name += ext;
  return name;
}

}  // namespace prax

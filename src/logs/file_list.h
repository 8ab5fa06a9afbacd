#pragma once
// Log dates and file naming: the log files of a user directory become a list
// of dated 11-character entries ("yy-mm-dd" and a three-character tag), and
// each entry gives back its file name and its date key yyyymmdd.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prax {


// Entries at positions 1..n in directory-listing order; position 0 exists
// and is never filled (an empty list has size 1).
using FileList = std::vector<std::string>;

// Lists dir & "\*." & ext (hidden files included, names upper-cased, in
// listing order). A PRAX name gives "yy-mm-dd" & its three day digits, a
// 19/20 name gives "yy-mm-dd" & its century & "*", anything else nothing.
// A PRAX name without three digits, or a yyyymmdd name that is not a valid
// date, gives no entry. A missing directory gives an empty list.
// An entry that is a symbolic link is passed over (links are never followed
// out of a user directory).
FileList BuildFileList(std::string_view dirText, std::string_view ext);

// BuildFileList for the user directory userDir of networkDir (userDir begins
// with networkDir), reading nothing outside it: when the user directory or
// its thousand folder is a symbolic link the list is empty, and log files
// that are links are left out; each is added to `skipped`, saying what the
// administrator can do.
FileList BuildUserFileList(std::string_view networkDir, std::string_view userDir, std::string_view ext,
                           std::vector<std::string>& skipped);

// Date texts ("yy-mm-dd  -  <serial>"; callers use the first 8 characters).
// DayNameToDate reads the year from the file's last-modification time in dir.
// Both throw Error when the name does not give a valid date.
std::string DayNameToDate(std::string_view dirText, std::string_view name);
std::string DateNameToDate(std::string_view name);

// "yymmdd" -> "yyyymmdd": "19" in front when the two-digit year is above 90,
// else "20".
std::string AddCentury(std::string_view yymmdd);

// From an entry back to its date key (yyyymmdd as a number) and file name.
int32_t EntryDateKey(std::string_view entry);
std::string EntryFileName(std::string_view entry, std::string_view ext);

}  // namespace prax

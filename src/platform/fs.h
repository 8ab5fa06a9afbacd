#pragma once
// File system as the Windows shares that hold the logs behave: paths are
// built as text with backslashes and turned into real paths in one place;
// names resolve without regard to letter case; directories list in the order
// of upper-cased names.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <string_view>
#include <vector>

namespace prax::fs {

namespace stdfs = std::filesystem;

// Turns a path text into a real path: '\' and '/' are alike; each component
// that names an existing entry in a case-insensitive way resolves to that
// entry's actual name (an exact match wins over others); components that do
// not exist are kept as written. Never throws.
stdfs::path RealPath(std::string_view pathText);

// Whether a file or directory exists at the path text. With includeHidden
// false only normal (not hidden) files count; hidden means a name that starts
// with '.' here (or the hidden attribute on Windows).
bool Exists(std::string_view pathText, bool includeHidden = true);
bool IsDirectory(std::string_view pathText);

struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct DirEntry {
  std::string name;   // as on disk
  std::string upper;  // the name in ASCII capitals, which the list is sorted by
  bool isDirectory = false;
  bool isSymlink = false;  // the entry itself is a symbolic link
  // The last modification of what the name leads to (a link followed), for
  // the entries List was asked to date; nullopt for the others and for one
  // gone since the listing.
  std::optional<CivilTime> modified;
};
// Entries of a directory whose names match a pattern of '*' and '?' (letter
// case ignored; "*" alone matches everything), hidden ones included, "." and
// ".." never, sorted by upper-cased name. A directory that does not exist
// gives an empty list; one that cannot be opened (not a folder, not
// permitted) or read raises an environment Error 75 naming it, unless
// `openError` is given: then why it could not be opened goes there and the
// list is empty. The entries whose names also match `datedPattern` carry
// their modification times, read through the open folder rather than by
// each file's path.
std::vector<DirEntry> List(std::string_view dirText, std::string_view pattern = "*",
                           std::error_code* openError = nullptr, std::string_view datedPattern = {});

// Local civil date and time of a file's last modification; nullopt when the
// file does not exist.
std::optional<CivilTime> LastModified(std::string_view pathText);
// The same for a real path (as RealPath gives it), without resolving it again.
std::optional<CivilTime> LastModifiedReal(const std::filesystem::path& real);
// Sets a file's last-modification time from local civil time.
void SetLastModified(std::string_view pathText, const CivilTime& t);

// Whole-file reading and writing of plain files only. Failures throw Error
// with the runtime's numbers (53 file not found, 70 permission denied, 75
// path/file access error) and a message naming the file. A symbolic link is
// neither read nor written through, and a FIFO, socket or device is refused
// without blocking on it (error 75 naming what it is).
std::string ReadFile(std::string_view pathText);
// Opens a file for reading in binary mode, with the same errors as ReadFile,
// which name shownText when given (else pathText). The caller closes it.
std::FILE* OpenRead(std::string_view pathText, std::string_view shownText = {});
//
// Every file this program writes is written the same way: never through a
// symbolic link (dangling or not), never into a FIFO, socket or device, and
// never into a file that has another name as well (a hard link: writing it
// would change the file under its other name too). A file is opened without
// following a link and without blocking, then checked by its handle; a new
// file is created without following a link. Error 75 names the file and
// what it is.
void WriteFile(std::string_view pathText, std::string_view bytes);  // create or overwrite
// Appends bytes to a file (created when missing), with the same rule.
void AppendFile(std::string_view pathText, std::string_view bytes);
// Creates a new, empty file (never one that exists, never through a link);
// false when an entry of that name exists already.
bool CreateNewFile(std::string_view pathText);
// Replaces a file whole in one step: the bytes go into "<file>.new" (created
// afresh) and are flushed to disk before it is renamed over the file.
void ReplaceFile(std::string_view pathText, std::string_view bytes);
// Opens a file for reading and writing (created when missing, not
// truncated) by the same rule, for a file kept open; -1 (errno set) when it
// cannot be opened or created for another reason. POSIX only.
#ifndef _WIN32
int OpenOwnFile(std::string_view pathText);
#endif

// Error 75 naming the file when the entry is a symbolic link or exists but is
// not a plain file; nothing when it is a plain file or absent. For files
// another library opens by name (the database files).
void RequirePlainFile(std::string_view pathText);
// The same, and a file with more than one name (hard link) is refused too:
// for files another library writes by name.
void RequireOwnFile(std::string_view pathText);
// The entry itself is a symbolic link (not followed).
bool IsSymlink(std::string_view pathText);
// What the entry at a real path (as RealPath gives it) is itself, a link not
// followed. A link is a symbolic link, or on Windows any reparse point (a
// symbolic link, a junction), which the runtime's own file status never
// reports there: every check for a link goes through here.
enum class EntryKind { kNone, kLink, kFile, kFolder, kOther /* FIFO, socket, device */ };
EntryKind KindOfEntry(const stdfs::path& real);

// Copies a file (overwriting), keeping its last-modification time.
void CopyFile(std::string_view fromText, std::string_view toText);
void DeleteFile(std::string_view pathText);    // Error 53 when missing
void MakeDirectory(std::string_view pathText);  // Error 75 when it exists or cannot be made
void RemoveDirectory(std::string_view pathText);  // must be empty

// The folder of the running executable.
stdfs::path ExecutableDir();
// Where PXNET.INI is looked for when INIPATH.TXT names no folder: the
// Windows directory on Windows, /etc/praxilo/ elsewhere (ends with the
// platform's separator).
std::string DefaultProfileDir();

// A real path back to text (generic form, '/' separators).
std::string ToText(const stdfs::path& p);

// A path text as messages show it: the platform's own separators ('/' here,
// '\\' on Windows), doubled separators inside it made single.
std::string ForDisplay(std::string_view pathText);

// What a file or directory is, whatever path names it: device and inode
// number, or volume serial number and file id on Windows. Links are followed.
struct FileIdentity {
  std::uint64_t volume = 0, file = 0;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(std::string_view pathText);

// Where one directory stands to another, by identity rather than by text:
// through a link, a bind mount, a second share or a letter-case variant
// alike. A path that does not exist yet lies inside a directory when its
// nearest existing ancestor is (or lies inside) that directory.
enum class Placement { kApart, kSame, kInside, kContains };
Placement PlaceDirectory(std::string_view dirText, std::string_view otherText);
// For a directory inside another: the name of the other's entry that holds
// it (its own name when it lies directly in the other); empty otherwise.
std::string EntryHolding(std::string_view dirText, std::string_view otherText);

}  // namespace prax::fs

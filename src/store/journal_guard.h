#pragma once
// Which journal files beside a database file of ours may be used. A rollback
// journal (-journal) or write-ahead log (-wal) beside a database changes the
// database the next time any program opens it: one planted there, or copied
// from another database, would rewrite rows with whatever it holds. So
// before a command opens one of our database files for writing it records,
// in a small file in the database's folder, that it writes this very file
// (device and inode, journal mode), and it drops the entry once the file is
// closed at rest. A journal found beside a database is used only when the
// record of an earlier command names that same file (the command was killed
// or lost power), or when another program has the database in use at this
// moment (its open transaction or log, which the engine itself respects).
// An entry made through another mount of the folder (another machine) names
// the file by its name alone, since device and inode numbers differ there.
// Anything else is refused before anything is opened for writing, naming
// the file.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace prax::db {

// The record, in the folder of the database files it names.
inline constexpr std::string_view kWriteRecordName = "PRAXSERVER.WRT";

// Refuses, naming the file: a -journal, -wal or -shm beside `real` that is a
// symbolic link, FIFO, device, folder or a file with another name (Error 75);
// a -journal or -wal holding anything that neither another program uses now
// nor the record names for this file (Error 3051; a -wal only when the file
// was written in WAL mode). `shown` is the database's path as messages show it.
void CheckJournals(const std::filesystem::path& real, const std::string& shown);

// The same for the named database files of a folder that exist, and the
// record itself must be a plain file of its own: the check a command makes
// before it writes anything.
void CheckFolderJournals(std::string_view folderText, const std::vector<std::string>& names);

// Notes in the record that this command is about to write `real` (which
// exists), in WAL mode or with the rollback journal. Entries of files no
// longer there (or replaced) are dropped at the same time.
void RecordWriting(const std::filesystem::path& real, bool wal);

// After `real` was closed: drops its entry when no journal is left beside
// it. Never throws: an entry left behind only lets the file's own journal be
// used later.
void ForgetWriting(const std::filesystem::path& real) noexcept;

}  // namespace prax::db

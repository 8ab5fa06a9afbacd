#include "store/journal_guard.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// The system headers define these names as macros (fs::DeleteFile and fs::ReplaceFile are called here).
#undef DeleteFile
#undef ReplaceFile
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/error.h"
#include "platform/fs.h"

namespace prax::db {

namespace {

namespace stdfs = std::filesystem;

constexpr const char* kJournalSuffixes[] = {"-journal", "-wal", "-shm"};

// Where the engine keeps its locks: the byte a writer holds from its first
// write until its commit ends (rollback journal), and the byte every
// connection of a file in WAL mode holds in the -shm file while it is open.
constexpr std::int64_t kWriterByte = 0x40000001;
constexpr std::int64_t kWalUserByte = 128;

// One line of the record: "<mode> <device> <inode> <file name>".
struct Entry {
  std::string mode;  // "wal" or "delete"
  fs::FileIdentity id;
  std::string name;
};

std::string Beside(const stdfs::path& real, const char* suffix) { return real.string() + suffix; }

std::string RecordOf(const stdfs::path& real) {
  const stdfs::path folder = real.parent_path();
  return (folder.empty() ? stdfs::path(std::string(kWriteRecordName)) : folder / std::string(kWriteRecordName))
      .string();
}

bool HoldsBytes(const std::string& pathText) {
  std::error_code ec;
  return fs::KindOfEntry(pathText) == fs::EntryKind::kFile && stdfs::file_size(pathText, ec) > 0 && !ec;
}

// Whether another process (or another connection of this one) holds a lock
// on a byte of the file: the file is in use this moment.
bool LockedByOther(const std::string& pathText, std::int64_t byte) {
#ifdef _WIN32
  (void)byte;
  // Windows' engine opens its files shared; an exclusive open fails while
  // any program has the file open.
  const std::wstring wide = stdfs::path(pathText).wstring();
  const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
    return false;
  }
  return ::GetLastError() == ERROR_SHARING_VIOLATION;
#else
  const int fd = ::open(pathText.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = static_cast<off_t>(byte);
  probe.l_len = 1;
#ifdef F_OFD_GETLK
  const int rc = ::fcntl(fd, F_OFD_GETLK, &probe);  // sees this process's own locks too
#else
  const int rc = ::fcntl(fd, F_GETLK, &probe);
#endif
  ::close(fd);
  return rc == 0 && probe.l_type != F_UNLCK;
#endif
}

std::vector<Entry> ReadRecord(const std::string& record) {
  std::vector<Entry> entries;
  if (fs::KindOfEntry(record) == fs::EntryKind::kNone) return entries;
  const std::string bytes = fs::ReadFile(record);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A damaged line names nothing and is dropped.
    Entry e;
    const std::size_t a = line.find(' ');
    const std::size_t b = a == std::string_view::npos ? a : line.find(' ', a + 1);
    const std::size_t c = b == std::string_view::npos ? b : line.find(' ', b + 1);
    if (c == std::string_view::npos || c + 1 >= line.size()) continue;
    e.mode = std::string(line.substr(0, a));
    const auto dev = std::from_chars(line.data() + a + 1, line.data() + b, e.id.volume);
    const auto ino = std::from_chars(line.data() + b + 1, line.data() + c, e.id.file);
    if (dev.ec != std::errc() || ino.ec != std::errc()) continue;
    e.name = std::string(line.substr(c + 1));
    entries.push_back(std::move(e));
  }
  return entries;
}

// Whether an entry names the file now at `file`. Device numbers differ from
// one mount to the next (another machine, a second mount), and inode numbers
// too on some network file systems: an entry made through another mount
// names the file by its name alone.
bool SameFile(const Entry& e, const stdfs::path& file) {
  const auto id = fs::IdentityOf(file.string());
  return id && (id->volume != e.id.volume || id->file == e.id.file);
}

// Keeps the entries whose file is still there as the same file.
void DropGone(std::vector<Entry>& entries, const stdfs::path& folder) {
  std::erase_if(entries, [&](const Entry& e) { return !SameFile(e, folder / e.name); });
}

void WriteRecord(const std::string& record, const std::vector<Entry>& entries) {
  if (entries.empty()) {
    if (fs::KindOfEntry(record) != fs::EntryKind::kNone) fs::DeleteFile(record);
    return;
  }
  std::string text;
  for (const Entry& e : entries)
    text += e.mode + ' ' + std::to_string(e.id.volume) + ' ' + std::to_string(e.id.file) + ' ' + e.name + "\r\n";
  fs::ReplaceFile(record, text);
}

[[noreturn]] void RefuseJournal(const std::string& journal, const std::string& shown, const std::string& record) {
  throw Error(err::kCannotOpenFile,
              "The journal file '" + fs::ForDisplay(journal) + "' beside the database '" + fs::ForDisplay(shown) +
                  "' was not left by a command of this program that was writing that file (" +
                  fs::ForDisplay(record) +
                  " does not name it), and no program has the database open now. It is not used: it would change "
                  "the database with whatever it holds. If another program of this site wrote the database and "
                  "ended without closing it, open the database in that program once so that it takes its journal "
                  "back; otherwise, once no other program uses the database, move the journal file out of the "
                  "folder (keep it until the database is checked) and run the command again. Nothing was changed.",
              Cause::kData);
}

}  // namespace

void CheckJournals(const stdfs::path& real, const std::string& shown) {
  for (const char* suffix : kJournalSuffixes) fs::RequireOwnFile(Beside(real, suffix));
  const std::string journal = Beside(real, "-journal"), wal = Beside(real, "-wal");
  // A journal of a transaction another program has open, or the log of a
  // file others have open in WAL mode, is theirs; the engine respects it.
  const bool foreignJournal = HoldsBytes(journal) && !LockedByOther(real.string(), kWriterByte);
  const bool foreignWal = HoldsBytes(wal) && !LockedByOther(Beside(real, "-shm"), kWalUserByte);
  if (!foreignJournal && !foreignWal) return;
  const std::string record = RecordOf(real);
  const std::string name = real.filename().string();
  std::optional<Entry> ours;
  for (Entry& e : ReadRecord(record))
    if (e.name == name && SameFile(e, real)) ours = std::move(e);
  if (foreignJournal && !ours) RefuseJournal(journal, shown, record);
  if (foreignWal && (!ours || ours->mode != "wal")) RefuseJournal(wal, shown, record);
}

void CheckFolderJournals(std::string_view folderText, const std::vector<std::string>& names) {
  const std::string folder(folderText);
  std::string record = folder;
  record += kWriteRecordName;
  fs::RequireOwnFile(record);
  for (const std::string& name : names) {
    std::string file = folder;
    file += name;
    const stdfs::path real = fs::RealPath(file);
    if (fs::KindOfEntry(real) == fs::EntryKind::kFile) CheckJournals(real, file);
  }
}

void RecordWriting(const stdfs::path& real, bool wal) {
  const std::string record = RecordOf(real);
  std::vector<Entry> entries = ReadRecord(record);
  DropGone(entries, real.parent_path().empty() ? stdfs::path(".") : real.parent_path());
  const auto id = fs::IdentityOf(real.string());
  if (!id) throw Error(err::kFileNotFound, "File not found: '" + fs::ForDisplay(real.string()) + "'.", Cause::kData);
  const std::string name = real.filename().string();
  const std::string mode = wal ? "wal" : "delete";
  const auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
  if (it == entries.end()) {
    entries.push_back(Entry{mode, *id, name});
  } else {
    // An entry in WAL mode covers both journals.
    if (it->id == *id && (it->mode == mode || !wal)) return;
    it->id = *id;
    if (wal) it->mode = mode;
  }
  WriteRecord(record, entries);
}

void ForgetWriting(const stdfs::path& real) noexcept {
  try {
    const std::string record = RecordOf(real);
    std::vector<Entry> entries = ReadRecord(record);
    const std::size_t before = entries.size();
    DropGone(entries, real.parent_path().empty() ? stdfs::path(".") : real.parent_path());
    const bool atRest = !HoldsBytes(Beside(real, "-journal")) && !HoldsBytes(Beside(real, "-wal"));
    const std::string name = real.filename().string();
    if (atRest) std::erase_if(entries, [&](const Entry& e) { return e.name == name; });
    if (entries.size() != before) WriteRecord(record, entries);
  } catch (...) {
    // Left as it is; see the header.
  }
}

}  // namespace prax::db

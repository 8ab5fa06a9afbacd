#pragma once
// The History database on a PostgreSQL server, through libpq: the same
// tables, columns and rows as the SQLite file, in the connection's default
// schema.
//
// The rows of the two day tables (AlertSystem, ActivitySystem), by far the
// most, go to the server as they come, in a COPY that stays open until
// anything else needs the connection, so the server stores them while the
// load parses and prepares the next. Other rows are
// buffered and reach the server when the day commits (or when a read needs
// them): a table's many or wide rows by COPY, everything else of the day (a
// few rows, the pending marks, the commit and the next begin) in one
// pipelined round trip. A read sees every row appended before it. Each value is
// checked (CheckValue) before it is buffered, and so is what the file's own
// checks and name indexes refuse, so a refused row stores nothing and
// leaves the others, as on the file. Text keeps a NUL as U+FFFD (see
// pg_connection.h). Failures of the connection (an unreachable server, a
// refused login, a connection lost in the middle) throw environment Errors
// naming the server and database, never the password.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/history_store.h"

namespace prax::store {

namespace pg {
class Connection;
}

// Each of these connects with a libpq connection string, waiting on the
// server `timeout` seconds at most (pg::kDefaultTimeout for 0, see
// pg_connection.h).

// Connects and creates any of our tables (and their indexes) that are
// missing.
std::unique_ptr<HistoryStore> OpenPgHistory(const std::string& connect, int timeout = 0);

// Drops our tables, and only ours, and creates them empty, in one
// transaction: a failure leaves the earlier tables.
void CreatePgHistory(const std::string& connect, int timeout = 0);

// Copies the History file `file` (PRAXDATA.MDB) into our tables on the
// server, creating those that are missing, in one transaction: rows in the
// file's stored order, each table's row count on the server checked against
// the file's before it commits. Refused, nothing written, when our tables
// there hold any row. Returns the rows copied by table.
std::map<std::string, int64_t> CopyHistoryToPg(const std::filesystem::path& file, const std::string& connect,
                                               int timeout = 0);

// What a dry run sees on the server, changing nothing there: those of our
// History tables it lacks (a load creates them), and the refusal a command
// would get while another session holds the loaders' lock (see PgLoaderLock).
struct PgHistoryLook {
  std::string server;  // as messages name it
  std::vector<std::string> missing;
  std::optional<std::string> held;
};
PgHistoryLook LookAtPgHistory(const std::string& connect, int timeout = 0);

// Opens our tables on the server only to read what is loaded: the session is
// read-only, so the server refuses any write. The tables must exist.
std::unique_ptr<HistoryStore> OpenPgHistoryToRead(const std::string& connect, int timeout = 0);

// One command at a time loads into a server, from whichever machine: a
// session lock on the server, held while this object lives (and released by
// the server when the connection ends, however the program ends). `holder`
// says who holds it, for the message another command gets. Throws Error
// naming the server and the holder when another session holds it.
class PgLoaderLock {
 public:
  PgLoaderLock(const std::string& connect, std::string_view holder, int timeout = 0);
  ~PgLoaderLock();
  PgLoaderLock(const PgLoaderLock&) = delete;
  PgLoaderLock& operator=(const PgLoaderLock&) = delete;

 private:
  std::unique_ptr<pg::Connection> conn_;
};

}  // namespace prax::store

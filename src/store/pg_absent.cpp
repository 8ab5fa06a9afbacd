// A build without the server engine (PRAX_WITH_POSTGRESQL off, as on Windows, where no libpq is at
// hand): pg_connection.cpp and pg_history_store.cpp are left out and these stand in for what the
// layers above call. Start-up refuses a [HISTORY] section of PXNET.INI in such a build, so none of
// them is reached by a command; each still refuses plainly rather than do anything.
#include "platform/error.h"
#include "store/pg_connection.h"
#include "store/pg_history_store.h"

namespace prax::store {

namespace {

[[noreturn]] void NoServerEngine() {
  throw Error(err::kCannotOpenFile,
              "This build of PraxServer has no server engine: it keeps the History database in PRAXDATA.MDB "
              "only. Remove the [HISTORY] section from PXNET.INI, or use a build with the PostgreSQL engine.",
              Cause::kData);
}

}  // namespace

std::unique_ptr<HistoryStore> OpenPgHistory(const std::string&, int) { NoServerEngine(); }

void CreatePgHistory(const std::string&, int) { NoServerEngine(); }

std::map<std::string, int64_t> CopyHistoryToPg(const std::filesystem::path&, const std::string&, int) {
  NoServerEngine();
}

PgHistoryLook LookAtPgHistory(const std::string&, int) { NoServerEngine(); }

std::unique_ptr<HistoryStore> OpenPgHistoryToRead(const std::string&, int) { NoServerEngine(); }

PgLoaderLock::PgLoaderLock(const std::string&, std::string_view, int) { NoServerEngine(); }

PgLoaderLock::~PgLoaderLock() = default;

namespace pg {

std::optional<std::string> ConnectProblem(const std::string&, std::string_view) { return std::nullopt; }

Connection::~Connection() = default;

}  // namespace pg

}  // namespace prax::store

#include "store/database.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "store/connection.h"
#include "store/journal_guard.h"
#include "platform/fs.h"

namespace prax::db {

// ---------------------------------------------------------------------------
// Opening and creating

namespace {

constexpr int kBusyTimeoutMs = 5000;

// SQLite takes file names in UTF-8 on every platform.
std::string Utf8(const std::filesystem::path& p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

[[noreturn]] void CannotOpen(const std::string& shown, Cause cause) {
  throw Error(err::kCannotOpenFile,
              "Cannot open the database file '" + shown +
                  "' for writing: the file is read-only, its folder is not writable (the journal files are kept "
                  "beside the file), or another program holds it locked. Make the file and its folder writable "
                  "for the account that runs the command, or close the other program, then try again; nothing "
                  "was written to it.",
              cause);
}

[[noreturn]] void Unrecognized(const std::string& shown, const std::string& why) {
  throw Error(err::kUnrecognizedFormat, "Unrecognized database format '" + shown + "'. " + why, Cause::kData);
}

// Refuses files that are not databases of ours, looking at the header only.
void CheckHeader(const std::filesystem::path& real, const std::string& shown) {
  std::ifstream in(real, std::ios::binary);
  if (!in) CannotOpen(shown, Cause::kEnvironment);
  std::array<char, 100> h{};
  in.read(h.data(), static_cast<std::streamsize>(h.size()));
  const auto got = static_cast<size_t>(in.gcount());
  if (got >= 19 && (std::memcmp(h.data() + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(h.data() + 4, "Standard ACE DB", 15) == 0)) {
    throw Error(err::kUnrecognizedFormat,
                "The file '" + shown +
                    "' is an Access database from an earlier installation, in a format this program neither reads "
                    "nor converts; it was left unchanged. Keep it for that installation's reports and move it out "
                    "of this folder.", Cause::kData);
  }
  if (got < 100 || std::memcmp(h.data(), "SQLite format 3", 16) != 0) {
    Unrecognized(shown, "The file is not a database of this program and was left unchanged; put the right file in "
                        "its place (restore it from a backup).");
  }
  const auto b = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(h[static_cast<size_t>(i)])); };
  const uint32_t appId = (b(68) << 24) | (b(69) << 16) | (b(70) << 8) | b(71);
  if (appId != 0 && appId != static_cast<uint32_t>(kApplicationId)) {
    Unrecognized(shown, "The file belongs to another program and was left unchanged; put the right file in its "
                        "place (restore it from a backup).");
  }
  // A file shorter than the pages its header counts was cut short (an
  // interrupted copy, a full disk). A journal beside it may still complete
  // it, so the storage's own recovery decides then.
  const uint32_t pageSize = b(16) == 0 && b(17) == 1 ? 65536u : (b(16) << 8) | b(17);
  const uint32_t pages = (b(28) << 24) | (b(29) << 16) | (b(30) << 8) | b(31);
  const bool countValid = std::memcmp(h.data() + 24, h.data() + 92, 4) == 0;
  std::error_code ec;
  const auto size = std::filesystem::file_size(real, ec);
  auto besideIt = [&](const char* suffix) {
    std::error_code e;
    return std::filesystem::file_size(std::filesystem::path(real.string() + suffix), e) > 0 && !e;
  };
  if (!ec && countValid && pages > 0 && size < static_cast<uintmax_t>(pages) * pageSize && !besideIt("-wal") &&
      !besideIt("-journal")) {
    Unrecognized(shown, "The file is damaged: it is shorter than its own header says (" + std::to_string(size) +
                            " of " + std::to_string(static_cast<uintmax_t>(pages) * pageSize) +
                            " bytes), as after an interrupted copy or a full disk. It was left unchanged; restore "
                            "it from a backup.");
  }
}

// Whether the file's header marks WAL mode.
bool WalHeader(const std::filesystem::path& real) {
  std::ifstream in(real, std::ios::binary);
  std::array<char, 20> h{};
  in.read(h.data(), static_cast<std::streamsize>(h.size()));
  return in.gcount() == 20 && h[18] == 2 && h[19] == 2;
}

// A URI opening the file read-only without locks or shared memory.
std::string ImmutableUri(const std::filesystem::path& real) {
  std::string uri = "file:";
#ifdef _WIN32
  uri += "/";
#endif
  for (const char c : Utf8(real.generic_u8string())) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || std::strchr("/-._~:", c)) {
      uri += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[u >> 4];
      uri += kHex[u & 15];
    }
  }
  return uri + "?immutable=1";
}

[[noreturn]] void Refuse(sqlite3* h, const std::string& shown) {
  switch (sqlite3_extended_errcode(h) & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      Unrecognized(shown, "The file is damaged or not a database and was left unchanged; restore it from a backup.");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_IOERR:
    case SQLITE_NOMEM:
      CannotOpen(shown, Cause::kEnvironment);
    default:
      CannotOpen(shown, Cause::kEnvironment);
  }
}

// Settings of every connection: waiting for other writers, a larger page
// cache, and for a writer the journal it asks for. A read-only connection
// sets nothing in the file.
void Configure(Connection& conn, const std::string& shown, bool readOnly, bool wal) {
  sqlite3* h = conn.Handle();
  sqlite3_extended_result_codes(h, 1);
  sqlite3_busy_timeout(h, kBusyTimeoutMs);
  // Reading the schema proves the file is a readable database.
  if (sqlite3_exec(h, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK) Refuse(h, shown);
  if (sqlite3_exec(h, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr) != SQLITE_OK) Refuse(h, shown);
  if (readOnly) return;
  const std::string mode = JournalMode(h);
  if (mode.empty()) Refuse(h, shown);
  // Leaving WAL mode folds a log left by a killed run back into the file. A
  // file others hold open in WAL mode (a report reading it) stays so until
  // Close finds it alone.
  const char* want = wal ? "WAL" : "DELETE";
  if (mode != LowerAscii(want) && JournalMode(h, want).empty()) {
    const int code = sqlite3_extended_errcode(h) & 0xff;
    if (code != SQLITE_BUSY && code != SQLITE_LOCKED) Refuse(h, shown);
  }
  // WAL stays consistent with NORMAL; the rollback journal needs FULL for a
  // power cut not to break a commit.
  const char* sync = JournalMode(h) == "wal" ? "PRAGMA synchronous = NORMAL" : "PRAGMA synchronous = FULL";
  if (sqlite3_exec(h, sync, nullptr, nullptr, nullptr) != SQLITE_OK) Refuse(h, shown);
}

// Journal files left beside a database file that is about to be replaced
// would be taken for the new file's.
void RemoveJournals(const std::filesystem::path& real) {
  std::error_code ec;
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    std::filesystem::remove(std::filesystem::path(real.string() + suffix), ec);
  }
}

#ifdef __linux__
// File systems where WAL is unsafe: NFS, SMB/CIFS, and others whose files
// other machines share or whose shared memory is not that of one machine.
bool OnSharedFileSystem(const std::filesystem::path& folder) {
  struct statfs s {};
  if (::statfs(folder.c_str(), &s) != 0) return true;
  switch (static_cast<unsigned long>(s.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x5346414FUL:  // AFS
    case 0x73757245UL:  // Coda
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x65735546UL:  // FUSE (sshfs and other network mounts)
      return true;
    default:
      return false;
  }
}
#elif defined(_WIN32)
bool OnSharedFileSystem(const std::filesystem::path& folder) {
  const std::wstring text = std::filesystem::absolute(folder).wstring();
  if (text.rfind(L"\\\\", 0) == 0) return true;  // \\server\share
  const std::wstring root = std::filesystem::absolute(folder).root_path().wstring();
  return GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}
#else
bool OnSharedFileSystem(const std::filesystem::path&) { return true; }
#endif

}  // namespace

bool Database::WalWhereLocal(const std::filesystem::path& file) {
  if (const char* forced = std::getenv("PRAX_JOURNAL")) {
    if (EqualNoCase(forced, "wal")) return true;
    if (EqualNoCase(forced, "delete")) return false;
  }
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  return !OnSharedFileSystem(folder);
}

Database::Database(std::shared_ptr<Connection> conn) : conn_(std::move(conn)) {}

Database::~Database() {
  try {
    if (conn_) conn_->Close();
  } catch (const Error&) {
    // A destructor cannot report; Close() reports the same failure when called.
  }
}

std::unique_ptr<Database> Database::Open(const std::filesystem::path& file, OpenOptions options) {
  const std::string shown = fs::ForDisplay(fs::ToText(file));
  const std::filesystem::path real = fs::RealPath(shown);
  const bool readOnly = options.access == Access::ReadOnly;
  // Never through a link, never a FIFO or device; a file written has one name.
  if (readOnly)
    fs::RequirePlainFile(shown);
  else
    fs::RequireOwnFile(shown);
  std::error_code ec;
  if (!std::filesystem::exists(real, ec)) {
    throw Error(err::kCannotFindFile, "Could not find file '" + shown + "'.", Cause::kData);
  }
  if (std::filesystem::is_directory(real, ec)) {
    Unrecognized(shown, "It is a folder, not a database file.");
  }
  // A journal beside it is used only when it is what a command of ours left.
  CheckJournals(real, shown);
  CheckHeader(real, shown);
  // A file left mid-write by a killed program (a hot journal beside it)
  // cannot be read before that write is rolled back, which any program
  // opening it for writing does; a reader then does the same.
  const bool hotJournal = readOnly && std::filesystem::file_size(real.string() + "-journal", ec) > 0 && !ec;
  // A file another program left in WAL mode, with no log beside it, holds
  // everything committed and is open nowhere; a reader would leave a -wal and
  // a -shm file there that it may not remove, so it reads the file as it is.
  const bool asItIs = readOnly && !hotJournal && WalHeader(real) && !std::filesystem::exists(real.string() + "-wal", ec);
  const bool wal = options.journal == Journal::WalWhereLocal && WalWhereLocal(real);
  if (!readOnly) RecordWriting(real, wal || WalHeader(real));
  sqlite3* h = nullptr;
  const int rc = sqlite3_open_v2(
      asItIs ? ImmutableUri(real).c_str() : Utf8(real).c_str(), &h,
      (readOnly && !hotJournal ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX |
          (asItIs ? SQLITE_OPEN_URI : 0),
      nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(h);
    if (!readOnly) ForgetWriting(real);
    CannotOpen(shown, Cause::kEnvironment);
  }
  auto conn = std::make_shared<Connection>(h, file);
  conn->Track(real, readOnly, !readOnly);
  if (!readOnly && sqlite3_db_readonly(h, "main") == 1) CannotOpen(shown, Cause::kEnvironment);
  Configure(*conn, shown, readOnly, wal);
  return std::unique_ptr<Database>(new Database(std::move(conn)));
}

std::unique_ptr<Database> Database::Create(const std::filesystem::path& file) {
  // Text always compares without regard to letter case (the general sort
  // order); the file records no locale.
  const std::string shown = fs::ForDisplay(fs::ToText(file));
  const std::filesystem::path real = fs::RealPath(shown);
  fs::RequireOwnFile(shown);  // a link in its place would create the file elsewhere
  std::error_code ec;
  if (std::filesystem::exists(real, ec)) {
    throw Error(err::kDatabaseExists, "Database already exists. (" + shown + ")", Cause::kData);
  }
  const auto parent = real.parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
    throw Error(dberr::kInvalidPath, "'" + shown + "' is not a valid path. Make sure that the folder exists and "
                                     "that the network share is reachable.", Cause::kData);
  }
  RemoveJournals(real);
  // Made here, new and never through a link, before the engine opens it.
  if (!fs::CreateNewFile(shown))
    throw Error(err::kDatabaseExists, "Database already exists. (" + shown + ")", Cause::kData);
  RecordWriting(real, false);
  sqlite3* h = nullptr;
  const int rc = sqlite3_open_v2(Utf8(real).c_str(), &h, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(h);
    ForgetWriting(real);
    CannotOpen(shown, Cause::kEnvironment);
  }
  auto conn = std::make_shared<Connection>(h, file);
  const int set = sqlite3_exec(h, ("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str(), nullptr,
                               nullptr, nullptr);
  conn->Track(real, false, true);
  if (set != SQLITE_OK) CannotOpen(shown, Cause::kEnvironment);
  Configure(*conn, shown, false, false);
  return std::unique_ptr<Database>(new Database(std::move(conn)));
}

// ---------------------------------------------------------------------------
// Statements and schema

namespace {

std::string CreateTableSql(const std::string& table, const std::vector<FieldDef>& fields,
                           const std::vector<bool>& notNull) {
  std::string s = "CREATE TABLE " + Quote(table) + " (";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) s += ", ";
    s += ColumnSql(fields[i], notNull[i]);
  }
  s += ")";
  return s;
}

void CheckFields(const Connection& conn, const std::string& table, const std::vector<FieldDef>& fields) {
  if (table.empty()) conn.Fail(err::kSyntaxInCreateTable, "A table needs a name.", Cause::kData);
  if (fields.empty()) conn.Fail(err::kSyntaxInCreateTable, "Table '" + table + "' has no fields.", Cause::kData);
  for (size_t i = 0; i < fields.size(); ++i) {
    const auto& f = fields[i];
    if (f.name.empty()) conn.Fail(err::kSyntaxInCreateTable, "A field of table '" + table + "' has no name.", Cause::kData);
    for (size_t j = 0; j < i; ++j) {
      if (EqualNoCase(fields[j].name, f.name)) {
        conn.Fail(dberr::kFieldDefinedTwice, "Field '" + f.name + "' is defined more than once in table '" + table + "'.", Cause::kData);
      }
    }
    if (f.type == FieldType::Text && (f.size < 1 || f.size > 255)) {
      conn.Fail(err::kSyntaxInCreateTable,
                "Field '" + table + "." + f.name + "' must hold from 1 to 255 characters.", Cause::kData);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Statements

Statement& Statement::Bind(std::initializer_list<Value> values) {
  return Bind(std::vector<Value>(values));
}

Statement& Statement::Bind(const std::vector<Value>& values) {
  conn_->CheckOpen();
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  for (size_t i = 0; i < values.size(); ++i) BindValue(stmt_, static_cast<int>(i) + 1, values[i]);
  return *this;
}

bool Statement::Step() {
  conn_->CheckOpen();
  if (!sqlite3_stmt_readonly(stmt_)) {
    TableWriter::RunWrite(*conn_, stmt_);
    return false;
  }
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  sqlite3_reset(stmt_);
  if (rc != SQLITE_DONE) conn_->FailStorage(rc);
  return false;
}

Value Statement::Column(int index) const { return ReadValue(stmt_, index); }

int64_t Statement::ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }

bool Statement::ColumnNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

Statement Database::Prepare(const std::string& sqlText) { return Statement(conn_.get(), conn_->Prepare(sqlText)); }

std::string Database::Quote(std::string_view identifier) { return db::Quote(identifier); }

void Database::CountRows(const std::string& table, int64_t rows) {
  conn_->BeginWrite();
  conn_->PendingRows(table) += rows;
}

// ---------------------------------------------------------------------------
// Schema

void Database::AddField(std::string_view tableName, const FieldDef& field) {
  Connection& c = *conn_;
  const auto table = c.Table(tableName);
  if (table->FindColumn(field.name) >= 0) {
    c.Fail(err::kFieldExists, "Field '" + field.name + "' already exists in table '" + table->name + "'.", Cause::kData);
  }
  CheckFields(c, table->name, {field});
  c.BeginWrite();
  try {
    c.Exec("ALTER TABLE " + table->quoted + " ADD COLUMN " + ColumnSql(field, false));
  } catch (const Error&) {
    c.AfterFailedWrite();
    c.SchemaChanged();
    throw;
  }
  c.SchemaChanged();
}

void Database::AddIndex(std::string_view tableName, const IndexDef& index) {
  Connection& c = *conn_;
  const auto table = c.Table(tableName);
  for (const auto& ix : table->indexes) {
    if (EqualNoCase(ix.name, index.name)) {
      c.Fail(err::kIndexExists, "Table '" + table->name + "' already has an index named '" + index.name + "'.", Cause::kData);
    }
  }
  const int column = table->FindColumn(index.field);
  if (column < 0) c.Fail(err::kItemNotFound, "Item not found in this collection: '" + index.field + "'.", Cause::kData);
  const ColumnInfo& col = table->columns[static_cast<size_t>(column)];
  const bool unique = index.unique || index.primary;
  if (unique && col.type == FieldType::Text) {
    // The index itself ignores the case of A-Z only: rows whose texts differ
    // in the case of other letters are duplicates as well.
    bool found = false;
    ForEachRow(c,
               c.Prepare("SELECT 1 FROM " + table->quoted + " WHERE " + db::Quote(col.name) + " IS NOT NULL GROUP BY " +
                         kFoldFunction + "(" + db::Quote(col.name) + ") HAVING count(*) > 1 LIMIT 1"),
               [&](sqlite3_stmt*) { found = true; });
    if (found) FailDuplicate(c, index.name);
  }
  c.BeginWrite();
  const std::string sqlText = std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                              db::Quote(StoredIndexName(table->name, index.name)) + " ON " + table->quoted + " (" +
                              db::Quote(col.name) + ")";
  const int rc = sqlite3_exec(c.Handle(), sqlText.c_str(), nullptr, nullptr, nullptr);
  c.SchemaChanged();
  if (rc != SQLITE_OK) {
    const int code = sqlite3_extended_errcode(c.Handle());
    const std::string detail = sqlite3_errmsg(c.Handle());
    c.AfterFailedWrite();
    if (code == SQLITE_CONSTRAINT_UNIQUE) FailDuplicate(c, index.name);
    if (detail.find("already exists") != std::string::npos) {
      c.Fail(err::kIndexExists, "An index named '" + index.name + "' already exists.", Cause::kData);
    }
    c.FailStorage(code);
  }
}

void Database::AppendTable(const TableDef& def) {
  conn_->CheckOpen();
  Connection& c = *conn_;
  if (c.FindTable(def.name)) c.Fail(err::kTableExists, "Table '" + def.name + "' already exists.", Cause::kData);
  CheckFields(c, def.name, def.fields);
  std::vector<bool> notNull(def.fields.size(), false);
  std::vector<std::string> indexSql;
  for (size_t i = 0; i < def.indexes.size(); ++i) {
    const auto& ix = def.indexes[i];
    if (ix.name.empty()) c.Fail(err::kSyntaxInCreateTable, "An index of table '" + def.name + "' has no name.", Cause::kData);
    for (size_t j = 0; j < i; ++j) {
      if (EqualNoCase(def.indexes[j].name, ix.name)) {
        c.Fail(err::kIndexExists, "Table '" + def.name + "' already has an index named '" + ix.name + "'.", Cause::kData);
      }
    }
    size_t field = def.fields.size();
    for (size_t f = 0; f < def.fields.size(); ++f) {
      if (EqualNoCase(def.fields[f].name, ix.field)) field = f;
    }
    if (field == def.fields.size()) c.Fail(err::kItemNotFound, "Item not found in this collection: '" + ix.field + "'.", Cause::kData);
    if (ix.primary) notNull[field] = true;
    indexSql.push_back(std::string(ix.unique || ix.primary ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                       Quote(StoredIndexName(def.name, ix.name)) + " ON " + Quote(def.name) + " (" +
                       Quote(def.fields[field].name) + ")");
  }
  c.BeginWrite();
  // The table and its indexes appear together or not at all.
  c.Exec("SAVEPOINT append_table");
  try {
    c.Exec(CreateTableSql(def.name, def.fields, notNull));
    for (const auto& s : indexSql) c.Exec(s);
    c.Exec("RELEASE append_table");
  } catch (const Error&) {
    sqlite3_exec(c.Handle(), "ROLLBACK TO append_table", nullptr, nullptr, nullptr);
    sqlite3_exec(c.Handle(), "RELEASE append_table", nullptr, nullptr, nullptr);
    c.AfterFailedWrite();
    c.SchemaChanged();
    throw;
  }
  c.SchemaChanged();
}

std::vector<TableDef> Database::TableDefs() {
  conn_->CheckOpen();
  std::vector<TableDef> defs;
  for (const auto& name : conn_->TableNames()) defs.push_back(conn_->Table(name)->Def());
  return defs;
}

std::unique_ptr<TableDef> Database::FindTable(std::string_view name) {
  const auto info = conn_->FindTable(name);
  return info ? std::make_unique<TableDef>(info->Def()) : nullptr;
}

void Database::Commit() { conn_->Commit(); }

void Database::Rollback() { conn_->Rollback(); }

void Database::BeginWrite() { conn_->BeginWrite(); }

int64_t Database::DataVersion() {
  conn_->CheckOpen();
  return conn_->DataVersion();
}

void Database::Close() { conn_->Close(); }

std::map<std::string, int64_t> Database::RowsAdded() const {
  const auto& rows = conn_->CommittedRows();
  return {rows.begin(), rows.end()};
}

const std::filesystem::path& Database::File() const { return conn_->File(); }

const std::string& Database::LeftInUse() const { return conn_->LeftInUse(); }

// ---------------------------------------------------------------------------
// Whole files

void Database::Copy(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Through a temporary file beside the target: the target is replaced only
  // by a complete copy.
  const std::filesystem::path building(to.string() + ".copying");
  std::error_code ec;
  std::filesystem::remove(building, ec);
  RemoveJournals(building);
  {
    auto source = Open(from, OpenOptions{Access::ReadOnly, Journal::Rollback});
    auto copy = Create(building);
    sqlite3* h = copy->conn_->Handle();
    sqlite3_backup* b = sqlite3_backup_init(h, "main", source->conn_->Handle(), "main");
    int rc = b ? sqlite3_backup_step(b, -1) : sqlite3_errcode(h);
    if (b && sqlite3_backup_finish(b) != SQLITE_OK && rc == SQLITE_DONE) rc = sqlite3_errcode(h);
    if (rc != SQLITE_DONE) {
      const std::string detail = sqlite3_errstr(rc);
      copy.reset();
      source.reset();
      std::filesystem::remove(building, ec);
      RemoveJournals(building);
      const int number = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED ? dberr::kLocked
                         : (rc & 0xff) == SQLITE_FULL                              ? dberr::kNotEnoughSpace
                                                                                   : err::kOtherEngineError;
      throw Error(number, "Could not copy the database '" + fs::ForDisplay(fs::ToText(from)) + "' to '" + fs::ForDisplay(fs::ToText(to)) + "' (" +
                              detail + "). Check the disk and that no program is changing the file, then run the "
                                       "command again; the source was left unchanged.", Cause::kEnvironment);
    }
    // The copy takes the source's header, WAL mode included.
    copy->conn_->SchemaChanged();
    JournalMode(h, "DELETE");
    source->Close();
    copy->Close();
  }
  PutInPlace(building, to);
}

void Database::PutInPlace(const std::filesystem::path& built, const std::filesystem::path& target) {
  RemoveJournals(target);
  std::error_code ec;
  std::filesystem::rename(built, target, ec);
  if (ec) {
    throw Error(err::kPathFileAccess, "Could not put the new database file in place as '" + fs::ForDisplay(fs::ToText(target)) + "' (" +
                                          ec.message() + "). Check that the name is not taken by a folder and "
                                          "that the folder is writable, then run the command again.", Cause::kEnvironment);
  }
#ifndef _WIN32
  // The rename itself survives a power cut only once the folder is synced.
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#endif
}

}  // namespace prax::db

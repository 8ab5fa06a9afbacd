#include "store/pg_connection.h"

#include <libpq-fe.h>

#include <algorithm>

#include "platform/error.h"
#include "store/schema.h"

namespace prax::store::pg {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

std::string FromServerText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    if (text.substr(at, kReplacement.size()) == kReplacement) {
      out += '\0';
      at += kReplacement.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}

void AppendCopyNull(std::string& out) { out += "\\N"; }

void AppendArrayNull(std::string& out) { out += "NULL"; }

void AppendArrayText(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\0') {
      out += kReplacement;
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendCopyText(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += kReplacement; break;
      default: out += c;
    }
  }
}

std::optional<std::string> ConnectProblem(const std::string& connect, std::string_view source) {
  char* why = nullptr;
  PQconninfoOption* options = PQconninfoParse(connect.c_str(), &why);
  if (!options) {
    std::string text = "The History server's connection string in " + std::string(source) + " cannot be read: " +
                       Trimmed(why ? why : "out of memory") + ". Correct it, then run the command again. Nothing was changed.";
    PQfreemem(why);
    return text;
  }
  bool password = false;
  for (const PQconninfoOption* o = options; o->keyword; ++o) {
    if (std::string_view(o->keyword) == "password" && o->val && *o->val) password = true;
  }
  PQconninfoFree(options);
  if (!password) return std::nullopt;
  return "The History server's connection string in " + std::string(source) +
         " holds a password. Remove it from there: put it in the password file of the account that runs the "
         "load (~/.pgpass, or %APPDATA%\\postgresql\\pgpass.conf on Windows) or in PGPASSWORD, then run the "
         "command again. Nothing was changed.";
}

namespace {

// Connects with our waits first, so that what `connect` says itself wins:
// libpq reads the connection string given as dbname after the keywords
// before it.
PGconn* ConnectWithin(const std::string& connect, int seconds) {
  const std::string wait = std::to_string(seconds), idle = std::to_string(std::max(1, seconds / 2)),
                    interval = std::to_string(std::max(1, seconds / 10)), sent = std::to_string(seconds * 1000);
  const char* keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle", "keepalives_interval",
                        "keepalives_count",    "tcp_user_timeout", "dbname",          nullptr};
  const char* values[] = {wait.c_str(), "1",         idle.c_str(),    interval.c_str(),
                          "5",          sent.c_str(), connect.c_str(), nullptr};
  return PQconnectdbParams(keys, values, 1);
}

}  // namespace

Connection::Connection(const std::string& connect, int timeout)
    : timeout_(timeout > 0 ? timeout : kDefaultTimeout), conn_(ConnectWithin(connect, timeout_)) {
  if (!conn_) throw OutOfMemory("connecting to the History server");
  server_ = std::string("server ") + (PQhost(conn_) ? PQhost(conn_) : "?") + " port " +
            (PQport(conn_) ? PQport(conn_) : "?") + ", database " + (PQdb(conn_) ? PQdb(conn_) : "?");
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string why = Message();
    PQfinish(conn_);
    throw Error(err::kCannotOpenFile,
                "Cannot connect to the History " + server_ + ": " + why +
                    ". Check that the server runs, can be reached and accepts this account (the password comes "
                    "from the password file or the environment), then run the command again.",
                Cause::kEnvironment);
  }
  PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  try {
    if (PQsetClientEncoding(conn_, "UTF8") != 0) Fail(nullptr);
    // Our session waits as long for a lock, and the server notices as soon
    // that we are gone (then ending our transaction and releasing our locks).
    Run("SELECT set_config('lock_timeout', $1, false), set_config('statement_timeout', $2, false), "
        "set_config('tcp_keepalives_idle', $3, false), set_config('tcp_keepalives_interval', $4, false), "
        "set_config('tcp_keepalives_count', '5', false)",
        {std::to_string(timeout_) + "s", std::to_string(kStatementSeconds) + "s",
         std::to_string(std::max(1, timeout_ / 2)), std::to_string(std::max(1, timeout_ / 10))});
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
}

Connection::~Connection() { PQfinish(conn_); }

void Connection::Begin() {
  if (inTransaction_) return;
  Run("BEGIN");
  inTransaction_ = true;
}

void Connection::Commit() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  Run("COMMIT");
}

void Connection::Rollback() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  Run("ROLLBACK");
}

std::vector<ResultRow> Connection::Run(const std::string& sql, const std::vector<Param>& params) {
  Settle();
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  PGresult* r = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                             nullptr, 0);
  const ExecStatusType status = PQresultStatus(r);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(r);
  std::vector<ResultRow> rows;
  rows.reserve(static_cast<size_t>(PQntuples(r)));
  for (int i = 0; i < PQntuples(r); ++i) {
    ResultRow row;
    for (int c = 0; c < PQnfields(r); ++c) {
      if (PQgetisnull(r, i, c)) {
        row.emplace_back();
      } else {
        row.emplace_back(FromServerText(PQgetvalue(r, i, c)));
      }
    }
    rows.push_back(std::move(row));
  }
  PQclear(r);
  return rows;
}

void Connection::Copy(std::string_view table, const std::vector<std::string>& columns, const std::string& data) {
  CopyBegin(table, columns);
  CopyPut(data);
  Settle(true);
}

void Connection::CopyBegin(std::string_view table, const std::vector<std::string>& columns) {
  std::string sql = "COPY " + db::Quote(table) + " (";
  for (size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + db::Quote(columns[i]);
  sql += ") FROM STDIN";
  Settle();
  PGresult* r = PQexec(conn_, sql.c_str());
  if (PQresultStatus(r) != PGRES_COPY_IN) Fail(r);
  PQclear(r);
  copyOpen_ = true;
}

void Connection::CopyPut(std::string_view data) {
  constexpr size_t kChunk = 1 << 20;
  for (size_t at = 0; at < data.size(); at += kChunk) {
    const size_t n = std::min(kChunk, data.size() - at);
    if (PQputCopyData(conn_, data.data() + at, static_cast<int>(n)) != 1) Fail(nullptr);
  }
}

// Ends an open COPY; unless `endOnly`, also reads the answer of the COPY
// ended before.
void Connection::Settle(bool endOnly) {
  if (copyOpen_) {
    copyOpen_ = false;
    if (PQputCopyEnd(conn_, nullptr) != 1) Fail(nullptr);
    copyPending_ = true;
  }
  if (endOnly || !copyPending_) return;
  copyPending_ = false;
  while (PGresult* r = PQgetResult(conn_)) {
    if (PQresultStatus(r) != PGRES_COMMAND_OK) Fail(r);
    PQclear(r);
  }
}

void Connection::RunAll(const std::vector<Statement>& statements) {
  Settle();
  if (statements.empty()) return;
  if (PQenterPipelineMode(conn_) != 1) Fail(nullptr);
  std::string code, why;
  const auto failed = [&](PGresult* r) {
    if (!code.empty() || !why.empty()) return;
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    code = state ? state : "";
    why = r && PQresultErrorMessage(r)[0] ? Trimmed(PQresultErrorMessage(r)) : Message();
    if (why.empty()) why = "the server stopped answering";
  };
  bool sent = true;
  size_t commands = 0;  // each gives its results and then a null
  std::vector<std::string> preparedNow;
  for (const auto& st : statements) {
    std::vector<const char*> values;
    for (const auto& p : st.params) values.push_back(p ? p->c_str() : nullptr);
    const int n = static_cast<int>(values.size());
    if (n == 0) {
      sent = PQsendQueryParams(conn_, st.sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    } else {
      auto name = prepared_.find(st.sql);
      if (name == prepared_.end()) {
        name = prepared_.emplace(st.sql, "prax_" + std::to_string(++preparedCount_)).first;
        preparedNow.push_back(st.sql);
        sent = PQsendPrepare(conn_, name->second.c_str(), st.sql.c_str(), n, nullptr) == 1;
        ++commands;
      }
      sent = sent && PQsendQueryPrepared(conn_, name->second.c_str(), n, values.data(), nullptr, nullptr, 0) == 1;
    }
    ++commands;
    if (!sent) break;
  }
  if (sent && PQpipelineSync(conn_) != 1) sent = false;
  if (!sent) {
    failed(nullptr);
  } else {
    // Each statement's result and the end of its results, then the sync.
    for (size_t i = 0; i < commands && PQstatus(conn_) == CONNECTION_OK; ++i) {
      while (PGresult* r = PQgetResult(conn_)) {
        const ExecStatusType status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) failed(r);
        PQclear(r);
      }
    }
    PGresult* sync = PQstatus(conn_) == CONNECTION_OK ? PQgetResult(conn_) : nullptr;
    if (!sync || PQresultStatus(sync) != PGRES_PIPELINE_SYNC) failed(sync);
    PQclear(sync);
  }
  PQexitPipelineMode(conn_);
  // A statement prepared in a batch that failed may not exist: it is
  // prepared again, under a new name, next time.
  if (!code.empty() || !why.empty()) {
    for (const auto& sql : preparedNow) prepared_.erase(sql);
  }
  for (const auto& st : statements) {
    if (st.sql == "BEGIN") inTransaction_ = true;
    if (st.sql == "COMMIT") inTransaction_ = false;
  }
  if (!code.empty() || !why.empty()) Fail(code, why);
}

bool Connection::TryLock(int64_t key) {
  return Run("SELECT pg_try_advisory_lock($1)", {std::to_string(key)}).at(0).at(0) == "t";
}

// A lost or refused connection, a server shutting down or out of resources
// is the machine; a value or table the server refuses is the data.
void Connection::Fail(PGresult* r) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  const std::string code = state ? state : "";
  const std::string why = r && PQresultErrorMessage(r)[0] ? Trimmed(PQresultErrorMessage(r)) : Message();
  PQclear(r);
  // Drain what the server still sends for the failed statement.
  while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
  Fail(code, why);
}

void Connection::Fail(const std::string& code, const std::string& why) {
  copyOpen_ = copyPending_ = false;
  if (code == "42P01") throw Error(err::kCannotFindTable, "The History " + server_ + " has no such table: " + why, Cause::kData);
  if (code.starts_with("22") || code.starts_with("23")) {
    throw Error(err::kOtherEngineError, "The History " + server_ + " refused a value: " + why, Cause::kData);
  }
  if (code == "55P03") {
    inTransaction_ = false;
    throw Error(err::kOtherEngineError,
                "The History " + server_ + " kept a table we need locked by another session for more than " +
                    std::to_string(timeout_) + " s (" + why +
                    "): a report or tool left open in a transaction holds it. End that session (pg_stat_activity "
                    "on the server shows it), or give it more time with TIMEOUT=<seconds> in section [HISTORY] "
                    "of PXNET.INI, then run the command again; the days stored before are kept.",
                Cause::kEnvironment);
  }
  const bool lost = PQstatus(conn_) == CONNECTION_BAD || code.starts_with("08") || code.starts_with("57P");
  inTransaction_ = false;
  throw Error(err::kOtherEngineError,
              std::string(lost ? "The connection to the History " : "The History ") + server_ +
                  (lost ? " was lost: " : " failed: ") + why +
                  ". Check the server, then run the command again; the days stored before are kept.",
              Cause::kEnvironment);
}

std::string Connection::Message() const { return Trimmed(PQerrorMessage(conn_)); }

}  // namespace prax::store::pg

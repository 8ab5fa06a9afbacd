#include "support/pg_server.h"

#include "support/programs.h"

#include <pwd.h>
#include <unistd.h>

#include <libpq-fe.h>

#include <stdexcept>
#include <vector>

namespace praxtest {

namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";

// The account the server runs as: the package's own when the tests run as
// root (the server refuses root), else whoever runs them.
struct Account { uid_t uid; gid_t gid; std::string name; };

Account ServerAccount() {
  const passwd* pw = ::getuid() == 0 ? ::getpwnam("postgres") : ::getpwuid(::getuid());
  if (!pw) throw std::runtime_error("no account to run the test server as (the postgres account is missing)");
  return Account{pw->pw_uid, pw->pw_gid, pw->pw_name};
}

void RunAs(const Account& account, const std::vector<std::string>& argv, const std::string& dir) {
  const Result r = Run(argv, dir, {.asUid = account.uid, .asGid = account.gid});
  if (r.exitCode != 0) throw std::runtime_error(argv[0] + " failed: " + r.out + r.err);
}

}  // namespace

PgServer::PgServer() {
  const Account account = ServerAccount();
  const std::string dir = dir_.Path().string();
  if (::chown(dir.c_str(), account.uid, account.gid) != 0) throw std::runtime_error("cannot hand over " + dir);
  RunAs(account, {kBin + "initdb", "-D", dir + "/data", "-U", account.name, "--auth=trust", "-E", "UTF8",
                  "--locale=C", "--no-sync"},
        dir);
  connect_ = "host=" + dir + " port=5432 dbname=postgres user=" + account.name;
  Start();
}

PgServer::~PgServer() {
  try {
    Stop();
  } catch (const std::exception&) {
  }
}

void PgServer::Control(const std::vector<std::string>& args) const {
  const std::string dir = dir_.Path().string();
  std::vector<std::string> argv{kBin + "pg_ctl", "-D", dir + "/data", "-l", dir + "/server.log", "-w"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunAs(ServerAccount(), argv, dir);
}

void PgServer::Start() {
  if (running_) return;
  Control({"-o", "-c listen_addresses= -k " + dir_.Path().string() + " -c fsync=off", "start"});
  running_ = true;
}

void PgServer::Stop() {
  if (!running_) return;
  running_ = false;
  Control({"-m", "immediate", "stop"});
}

std::vector<std::string> PgServer::Rows(const std::string& sql) const {
  PGconn* c = PQconnectdb(connect_.c_str());
  PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
  PGresult* r = PQexec(c, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK || PQresultStatus(r) == PGRES_COMMAND_OK;
  std::vector<std::string> rows{ok ? "" : PQresultErrorMessage(r)};
  for (int i = 0; ok && i < PQntuples(r); ++i) {
    std::string row;
    for (int f = 0; f < PQnfields(r); ++f) row.append(f ? "|" : "").append(PQgetvalue(r, i, f));
    rows.push_back(std::move(row));
  }
  PQclear(r);
  PQfinish(c);
  if (!ok) throw std::runtime_error(sql + ": " + rows[0]);
  rows.erase(rows.begin());
  return rows;
}

PgServer& TestPgServer() {
  static PgServer server;
  return server;
}

}  // namespace praxtest

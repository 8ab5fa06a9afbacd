#include "support/programs.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace praxtest {

namespace stdfs = std::filesystem;

const std::vector<std::string> kHistoryTables = {
    "AlertSystem",  "ActivitySystem", "UserNotes",   "ProjectNotes",    "ApplicationsList", "ProjectsList",
    "BodyPartsList", "WindowsList",   "DiscomfortsList", "ProjectTasksList", "NotesList", "EMSToolsList",
    "EMSSystemUsage"};

std::string Slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

pid_t Start(const std::vector<std::string>& argv, const stdfs::path& scratch, const Limits& limits,
            const std::string& tag) {
  const stdfs::path out = scratch / (tag + "stdout.txt"), err = scratch / (tag + "stderr.txt");
  std::ofstream{out};  // empty before the child starts
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::dup2(::open("/dev/null", O_RDONLY), 0);
  ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
  ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
  if (limits.maxFileBytes > 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // kept across exec: writes fail with EFBIG instead
    const rlimit r{limits.maxFileBytes, limits.maxFileBytes};
    ::setrlimit(RLIMIT_FSIZE, &r);
  }
  if (!limits.workDir.empty() && ::chdir(limits.workDir.c_str()) != 0) ::_exit(127);
  if (limits.timeoutSeconds > 0) ::alarm(limits.timeoutSeconds);  // kept across exec
  if (limits.asNobody && ::geteuid() == 0 &&
      (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
    ::_exit(kCannotDrop);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

Result Wait(pid_t pid, const stdfs::path& scratch, const std::string& tag) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0,
          Slurp(scratch / (tag + "stdout.txt")), Slurp(scratch / (tag + "stderr.txt"))};
}

Db::Db(const stdfs::path& file, bool write) : name_(file.string()) {
  const int rc = sqlite3_open_v2(name_.c_str(), &h_, write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr);
  sqlite3_busy_timeout(h_, 5000);
  if (rc != SQLITE_OK) throw std::runtime_error(name_ + ": " + sqlite3_errmsg(h_));
}

Db::~Db() { sqlite3_close(h_); }

std::vector<std::string> Db::Query(const std::string& sql) const {
  sqlite3_stmt* st = nullptr;
  std::vector<std::string> rows;
  int rc = sqlite3_prepare_v2(h_, sql.c_str(), -1, &st, nullptr);
  while (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      row.append(i ? "|" : "");
      if (text) {
        row.append(text, static_cast<size_t>(sqlite3_column_bytes(st, i)));
      } else {
        row.append("<null>");
      }
    }
    rows.push_back(std::move(row));
    rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) throw std::runtime_error(name_ + ": " + sql + ": " + sqlite3_errmsg(h_));
  return rows;
}

Network::Network(const std::vector<std::string>& gen) {
  std::vector<std::string> args = {"--program-dir", Prog().string()};
  args.insert(args.end(), gen.begin(), gen.end());
  Praxgen(args);
}

void Network::Praxgen(std::vector<std::string> args) const {
  args.insert(args.begin(), {PRAX_BINARY_DIR "/praxgen", Net().string()});
  const Result r = Run(args, Root());
  if (r.exitCode != 0) throw std::runtime_error("praxgen failed: " + r.err);
}

std::vector<std::string> Network::PraxloadArgs(const std::vector<std::string>& options) const {
  std::vector<std::string> args = {PRAX_BINARY_DIR "/praxload", "--program-dir", Prog().string()};
  args.insert(args.end(), options.begin(), options.end());
  return args;
}

std::string Network::Dump() const {
  std::string all;
  for (const std::string& t : kHistoryTables) all += t + ":\n" + Sqlite3(History(), "SELECT * FROM " + t + ";");
  return all;
}

void Network::GiveToNobody() const {
  for (const stdfs::path& top : {Net(), Prog()}) {
    if (::lchown(top.c_str(), kNobody, kNobody) != 0) return;
    for (const auto& e : stdfs::recursive_directory_iterator(top))
      [[maybe_unused]] const int rc = ::lchown(e.path().c_str(), kNobody, kNobody);
  }
}

}  // namespace praxtest

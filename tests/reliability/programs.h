#pragma once
// praxgen and praxload run as separate processes the way a scheduler runs
// them, optionally as an unprivileged account or under a file-size limit,
// over a generated network of 5 users and 3 days.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace reltest {

namespace stdfs = std::filesystem;

inline constexpr uid_t kNobody = 65534;
// Exit status of a child that could not drop to kNobody.
inline constexpr int kCannotDrop = 126;

struct Result {
  int exitCode = -1;
  std::string out, err;
};

struct Limits {
  bool asNobody = false;      // run as uid/gid 65534 (when started as root)
  rlim_t maxFileBytes = 0;    // RLIMIT_FSIZE, SIGXFSZ ignored; 0: none
  unsigned timeoutSeconds = 0;  // killed by SIGALRM after this long (exit code -1); 0: none
  stdfs::path workDir = {};     // current folder of the child; empty: the test's
};

inline std::string Slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs argv[0] with no terminal: standard input /dev/null, output captured.
inline Result Run(const std::vector<std::string>& argv, const stdfs::path& scratch, const Limits& limits = {}) {
  const stdfs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    if (limits.maxFileBytes > 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // kept across exec: writes fail with EFBIG instead
      const rlimit r{limits.maxFileBytes, limits.maxFileBytes};
      ::setrlimit(RLIMIT_FSIZE, &r);
    }
    if (!limits.workDir.empty() && ::chdir(limits.workDir.c_str()) != 0) ::_exit(127);
    if (limits.timeoutSeconds > 0) ::alarm(limits.timeoutSeconds);  // kept across exec
    if (limits.asNobody && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(kCannotDrop);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  Result r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

inline const char* const kHistoryTables[] = {
    "AlertSystem",     "ActivitySystem",   "UserNotes",  "ProjectNotes", "ApplicationsList",
    "ProjectsList",    "BodyPartsList",    "WindowsList", "DiscomfortsList", "ProjectTasksList",
    "NotesList",       "EMSToolsList",     "EMSSystemUsage"};

// A generated network (praxgen seed 11: users 1, 2, 4, 5, 6 with logs of
// 2026-01-05 to 2026-01-07) and its program folder.
class Network {
 public:
  Network() { Generate(Net(), true); }

  stdfs::path Root() const { return root_.Path(); }
  stdfs::path Net() const { return root_.Path() / "net"; }
  stdfs::path Prog() const { return root_.Path() / "prog"; }
  stdfs::path History() const { return Net() / "PRAXDATA.MDB"; }
  std::string NetText() const { return Net().generic_string() + "/"; }

  // A second network of the same seed beside this one, without program folder.
  void Generate(const stdfs::path& dir, bool withProgram = false) const {
    std::vector<std::string> args = {PRAX_BINARY_DIR "/praxgen", dir.string(), "--users", "5", "--days", "3",
                                     "--seed", "11", "--start", "2026-01-05"};
    if (withProgram) args.insert(args.end(), {"--program-dir", Prog().string()});
    const Result r = Run(args, Root());
    if (r.exitCode != 0) throw std::runtime_error("praxgen failed: " + r.err);
  }
  void AppendDay() const {
    const Result r = Run({PRAX_BINARY_DIR "/praxgen", Net().string(), "--append-day"}, Root());
    if (r.exitCode != 0) throw std::runtime_error("praxgen --append-day failed: " + r.err);
  }
  Result Praxload(const std::vector<std::string>& options, const Limits& limits = {}) const {
    std::vector<std::string> args = {PRAX_BINARY_DIR "/praxload", "--program-dir", Prog().string()};
    args.insert(args.end(), options.begin(), options.end());
    return Run(args, Root(), limits);
  }
  // Every History table, in stored order.
  std::string Dump() const {
    std::string all;
    for (const char* t : kHistoryTables) {
      all += std::string(t) + ":\n" + praxtest::Sqlite3(History(), std::string("SELECT * FROM ") + t + ";");
    }
    return all;
  }
  // Hands the network and program folder to the unprivileged account.
  void GiveToNobody() const {
    for (const stdfs::path& top : {Net(), Prog()}) {
      if (::lchown(top.c_str(), kNobody, kNobody) != 0) return;
      for (const auto& e : stdfs::recursive_directory_iterator(top)) {
        [[maybe_unused]] const int rc = ::lchown(e.path().c_str(), kNobody, kNobody);
      }
    }
  }

 private:
  praxtest::TempDir root_;
};

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace reltest

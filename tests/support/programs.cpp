#include "support/programs.h"

#include <sqlite3.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

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

std::string Program(const std::string& name) { return PRAX_BINARY_DIR "/" + name + (kWindows ? ".exe" : ""); }

// The output of a finished program, CR LF read as LF on Windows.
static Result Collect(int exitCode, int signal, const stdfs::path& scratch, const std::string& tag) {
  Result r{exitCode, signal, Slurp(scratch / (tag + "stdout.txt")), Slurp(scratch / (tag + "stderr.txt"))};
  for (std::string* text : {&r.out, &r.err})
    for (size_t at = 0; kWindows && (at = text->find("\r\n", at)) != std::string::npos;) text->erase(at, 1);
  return r;
}

#ifdef _WIN32
static std::wstring Wide(const std::string& s) {
  return stdfs::path(std::u8string(reinterpret_cast<const char8_t*>(s.data()), s.size())).wstring();
}

// One argument as the C runtime's command-line parser reads it back.
static std::wstring Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return Wide(arg);
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (const wchar_t c : Wide(arg)) {
    if (c == L'\\') { ++slashes; continue; }
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  return out.append(2 * slashes, L'\\') + L"\"";
}

static HANDLE Open(const stdfs::path& file, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(file.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

constexpr UINT kKilledCode = 0xC0DE0009, kTimedOutCode = 0xC0DE000E;

Pid Start(const std::vector<std::string>& argv, const stdfs::path& scratch, const Limits& limits,
          const std::string& tag) {
  std::wstring line;
  for (const std::string& a : argv) line += (line.empty() ? L"" : L" ") + Quoted(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = Open(limits.input.empty() ? stdfs::path("NUL") : limits.input, false);
  si.hStdOutput = Open(scratch / (tag + "stdout.txt"), true);
  si.hStdError = Open(scratch / (tag + "stderr.txt"), true);
  PROCESS_INFORMATION pi{};
  const std::wstring dir = limits.workDir.wstring();
  const BOOL ok = ::CreateProcessW(Wide(argv[0]).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   dir.empty() ? nullptr : dir.c_str(), &si, &pi);
  for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) ::CloseHandle(h);
  if (!ok) throw std::runtime_error("cannot start " + argv[0]);
  ::CloseHandle(pi.hThread);
  if (limits.timeoutSeconds > 0) {
    HANDLE watched = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), pi.hProcess, ::GetCurrentProcess(), &watched, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    std::thread([watched, ms = limits.timeoutSeconds * 1000] {
      if (::WaitForSingleObject(watched, ms) == WAIT_TIMEOUT) ::TerminateProcess(watched, kTimedOutCode);
      ::CloseHandle(watched);
    }).detach();
  }
  return pi.hProcess;
}

Result Wait(Pid pid, const stdfs::path& scratch, const std::string& tag) {
  DWORD code = 0;
  ::WaitForSingleObject(pid, INFINITE);
  ::GetExitCodeProcess(pid, &code);
  ::CloseHandle(pid);
  const int signal = code == kKilledCode ? kKilled : code == kTimedOutCode ? kTimedOut : 0;
  return Collect(signal ? -1 : static_cast<int>(code), signal, scratch, tag);
}

void Kill(Pid pid) { ::TerminateProcess(pid, kKilledCode); }
bool Ended(Pid pid) { return ::WaitForSingleObject(pid, 0) == WAIT_OBJECT_0; }
long ProcessId(Pid pid) { return static_cast<long>(::GetProcessId(pid)); }
#else
Pid Start(const std::vector<std::string>& argv, const stdfs::path& scratch, const Limits& limits,
          const std::string& tag) {
  const stdfs::path out = scratch / (tag + "stdout.txt"), err = scratch / (tag + "stderr.txt");
  std::ofstream{out};  // empty before the child starts
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::dup2(::open(limits.input.empty() ? "/dev/null" : limits.input.c_str(), O_RDONLY), 0);
  ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
  ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
  if (limits.maxFileBytes > 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // kept across exec: writes fail with EFBIG instead
    const rlimit r{limits.maxFileBytes, limits.maxFileBytes};
    ::setrlimit(RLIMIT_FSIZE, &r);
  }
  if (!limits.workDir.empty() && ::chdir(limits.workDir.c_str()) != 0) ::_exit(127);
  if (limits.timeoutSeconds > 0) ::alarm(limits.timeoutSeconds);  // kept across exec
  if (limits.asUid != 0 && ::geteuid() == 0 &&
      (::setgroups(0, nullptr) != 0 || ::setgid(limits.asGid) != 0 || ::setuid(limits.asUid) != 0))
    ::_exit(kCannotDrop);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

Result Wait(Pid pid, const stdfs::path& scratch, const std::string& tag) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return Collect(WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0, scratch,
                 tag);
}

void Kill(Pid pid) { ::kill(pid, SIGKILL); }
bool Ended(Pid pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}
long ProcessId(Pid pid) { return pid; }
#endif

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
      text ? row.append(text, static_cast<size_t>(sqlite3_column_bytes(st, i))) : row.append("<null>");
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
  args.insert(args.begin(), {Program("praxgen"), Net().string()});
  const Result r = Run(args, Root());
  if (r.exitCode != 0) throw std::runtime_error("praxgen failed: " + r.err);
}

std::vector<std::string> Network::PraxloadArgs(const std::vector<std::string>& options) const {
  std::vector<std::string> args = {Program("praxload"), "--program-dir", Prog().string()};
  args.insert(args.end(), options.begin(), options.end());
  return args;
}

std::string Network::Dump() const {
  std::string all;
  for (const std::string& t : kHistoryTables) all += t + ":\n" + Sqlite3(History(), "SELECT * FROM " + t + ";");
  return all;
}

void Network::GiveToNobody() const {
#ifndef _WIN32
  for (const stdfs::path& top : {Net(), Prog()}) {
    if (::lchown(top.c_str(), kNobody, kNobody) != 0) return;
    for (const auto& e : stdfs::recursive_directory_iterator(top))
      [[maybe_unused]] const int rc = ::lchown(e.path().c_str(), kNobody, kNobody);
  }
#endif
}

}  // namespace praxtest

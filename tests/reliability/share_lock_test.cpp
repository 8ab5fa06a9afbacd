// One network directory as two machines see it: mounted twice with sshfs
// through an sshd of the test's own on 127.0.0.1.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/run_lock.h"
#include "support/programs.h"

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;
using praxtest::Has;

class TwoMounts : public ::testing::Test {
 protected:
  void SetUp() override {
    PRAX_SKIP_ON_WINDOWS("FUSE, sshfs and sshd to play two machines");
#ifndef _WIN32
    for (const char* tool : {"/dev/fuse", "/usr/bin/fusermount", "/usr/bin/sshfs", "/usr/sbin/sshd"})
      if (!stdfs::exists(tool)) GTEST_SKIP() << tool << " is missing: two machines are played with FUSE, sshfs, sshd";
    const stdfs::path k = keys_.Path();
    for (const char* key : {"host", "user"})
      ASSERT_EQ(praxtest::Run({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", k / key}, k).exitCode, 0);
    stdfs::copy_file(k / "user.pub", k / "authorized_keys");
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);  // a free port
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), size), ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(s);
    const std::string port = std::to_string(ntohs(a.sin_port));
    keys_.Write("sshd_config", "ListenAddress 127.0.0.1\nPort " + port + "\nHostKey " + (k / "host").string() +
                                   "\nAuthorizedKeysFile " + (k / "authorized_keys").string() +
                                   "\nPasswordAuthentication no\nUsePAM no\nStrictModes no\nPidFile none\n"
                                   "PermitRootLogin prohibit-password\nSubsystem sftp internal-sftp\n");
    if (::geteuid() == 0) stdfs::create_directories("/run/sshd");  // where sshd started as root confines itself
    sshd_ = praxtest::Start({"/usr/sbin/sshd", "-D", "-e", "-f", k / "sshd_config"}, k, {}, "sshd");
    for (int i = 0; i < 100 && !Has(praxtest::Slurp(k / "sshdstderr.txt"), "listening"); ++i)
      std::this_thread::sleep_for(100ms);
    for (const std::string name : {"a", "b"}) {
      const stdfs::path at = n_.Root() / name, prog = n_.Root() / ("prog" + name);
      stdfs::create_directories(at), stdfs::create_directories(prog);
      std::ofstream(prog / "INIPATH.TXT") << prog.string() << "/\r\n";
      std::ofstream(prog / "PXNET.INI") << "[MAIN]\r\nNETDIR=" << at.string() << "/\r\n";
      const praxtest::Result r = praxtest::Run(
          {"/usr/bin/sshfs", "-p", port, "-o",
           "IdentityFile=" + (k / "user").string() +
               ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes,dir_cache=no",
           std::string(::getpwuid(::geteuid())->pw_name) + "@127.0.0.1:" + n_.Net().string(), at},
          k, {.timeoutSeconds = 30});
      ASSERT_EQ(r.exitCode, 0) << r.err << praxtest::Slurp(k / "sshdstderr.txt");
      mounts_.push_back(at);
    }
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    for (const stdfs::path& at : mounts_) praxtest::Run({"/usr/bin/fusermount", "-u", "-z", at}, keys_.Path());
    if (sshd_ > 0) ::kill(sshd_, SIGTERM), praxtest::Wait(sshd_, keys_.Path(), "sshd");
#endif
  }
  std::vector<std::string> Args(const std::string& mount, std::vector<std::string> options = {}) const {
    options.insert(options.begin(), {praxtest::Program("praxload"), "--program-dir", (n_.Root() / ("prog" + mount)).string()});
    return options;
  }

  praxtest::TempDir keys_;
  const praxtest::Network n_;
  std::vector<stdfs::path> mounts_;
  praxtest::Pid sshd_ = {};
};

TEST_F(TwoMounts, OneLoaderAtATimeAndARecordLeftBehindIsTakenOverAfterTheLimit) {
#ifndef _WIN32
  const stdfs::path record = n_.Net() / std::string(prax::kRunRecordFileName);
  ::setenv("PRAX_LOCK_STALE_SECONDS", "3", 1);
  std::optional<prax::RunLock> beating(std::in_place, (n_.Root() / "a/").string(), 3);
  std::this_thread::sleep_for(4s);  // past the limit: only its heartbeat keeps it
  const praxtest::Result refused = praxtest::Run(Args("b"), n_.Root());
  beating.reset();
  EXPECT_EQ(refused.exitCode, 2) << refused.out << refused.err;
  EXPECT_TRUE(Has(refused.err, "process " + std::to_string(::getpid()))) << refused.err;

  // A loader killed mid-run, its record as another machine would leave it.
  const pid_t killed = praxtest::Start(Args("a", {"--fresh", "--yes"}), n_.Root(), {}, "1");
  // Killed as soon as its record is there: the small network loads in well under a second.
  for (int i = 0; i < 3000 && !stdfs::exists(record); ++i) std::this_thread::sleep_for(10ms);
  ::kill(killed, SIGKILL);
  praxtest::Wait(killed, n_.Root(), "1");
  ASSERT_TRUE(stdfs::exists(record)) << "the loader ended before it was killed";
  std::ofstream(record) << "host elsewhere, process 4242\n";
  const std::vector<std::string> resume = stdfs::exists(n_.History()) ? std::vector<std::string>{"--master"}
                                                                       : std::vector<std::string>{"--fresh", "--yes"};
  const praxtest::Result early = praxtest::Run(Args("b", resume), n_.Root());
  std::this_thread::sleep_for(4s);
  const praxtest::Result late = praxtest::Run(Args("b", resume), n_.Root());
  ::unsetenv("PRAX_LOCK_STALE_SECONDS");
  EXPECT_EQ(early.exitCode, 2) << early.out << early.err;
  EXPECT_EQ(late.exitCode, 0) << late.out << late.err;
  for (const std::string& said : {early.err, late.out, praxtest::Slurp(n_.Root() / "progb/PRAXLOAD.LOG")})
    EXPECT_TRUE(Has(said, "host elsewhere")) << said;
  EXPECT_TRUE(Has(late.out, "network file system")) << late.out;
  EXPECT_FALSE(stdfs::exists(record));

  const praxtest::Network whole;
  ASSERT_EQ(whole.Praxload({"--fresh", "--yes"}).exitCode, 0);
  for (const std::string& t : praxtest::kHistoryTables) {
    std::vector<std::string> got = praxtest::Query(n_.History(), "SELECT * FROM " + t),
                             want = praxtest::Query(whole.History(), "SELECT * FROM " + t);
    std::sort(got.begin(), got.end()), std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << t;
  }
#endif
}

}  // namespace

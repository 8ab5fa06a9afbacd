#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <stdexcept>

namespace praxtest {

namespace stdfs = std::filesystem;

TempDir::TempDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = stdfs::temp_directory_path() / ("praxtest-" + std::to_string(::getpid()) + "-" +
                                                     std::to_string(rd()));
    std::error_code ec;
    if (stdfs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  stdfs::permissions(path_, stdfs::perms::owner_all, stdfs::perm_options::add, ec);
  stdfs::remove_all(path_, ec);
}

stdfs::path TempDir::Write(std::string_view relative, std::string_view bytes) const {
  stdfs::path file = path_ / stdfs::path(std::string(relative));
  stdfs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

void SetMTime(const stdfs::path& file, int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  const auto sys = std::chrono::system_clock::from_time_t(t);
  const auto ft = stdfs::file_time_type::clock::now() +
                  std::chrono::duration_cast<stdfs::file_time_type::duration>(sys - std::chrono::system_clock::now());
  stdfs::last_write_time(file, ft);
}

std::string Sqlite3(const stdfs::path& db, std::string_view sql) {
  int toChild[2];
  int fromChild[2];
  if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(toChild[0], 0);
    ::dup2(fromChild[1], 1);
    ::dup2(fromChild[1], 2);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    const std::string path = db.string();
    ::execlp("sqlite3", "sqlite3", "-batch", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  std::string input(sql);
  input += "\n";
  const char* p = input.data();
  std::size_t left = input.size();
  while (left > 0) {
    const ssize_t n = ::write(toChild[1], p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ::close(toChild[1]);
  std::string out;
  std::array<char, 4096> buf{};
  ssize_t n;
  while ((n = ::read(fromChild[0], buf.data(), buf.size())) > 0) out.append(buf.data(), static_cast<std::size_t>(n));
  ::close(fromChild[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

}  // namespace praxtest

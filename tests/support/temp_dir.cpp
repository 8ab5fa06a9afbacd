#include "support/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <stdexcept>
#include <tuple>

#include "platform/fs.h"
#include "support/programs.h"

namespace praxtest {

namespace stdfs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  for (int tries = 0; tries < 100 && path_.empty(); ++tries) {
    const stdfs::path name = stdfs::temp_directory_path() / ("praxtest-" + std::to_string(random()));
    if (stdfs::create_directory(name)) path_ = name;
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
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
  std::tie(tm.tm_hour, tm.tm_mday, tm.tm_mon, tm.tm_year, tm.tm_isdst) = std::tuple(12, day, month - 1, year - 1900, -1);
  const auto noon = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  stdfs::last_write_time(file, std::chrono::file_clock::from_sys(noon));
}

std::string Shown(const stdfs::path& p) { return prax::fs::ForDisplay(p.generic_string()); }

#ifdef _WIN32
bool Root() { return false; }
void SetEnv(const char* name, const std::string& value) { ::_putenv_s(name, value.c_str()); }
#else
bool Root() { return ::geteuid() == 0; }
void SetEnv(const char* name, const std::string& value) {
  value.empty() ? ::unsetenv(name) : ::setenv(name, value.c_str(), 1);
}
#endif

std::string Sqlite3(const stdfs::path& db, std::string_view sql) {
  // Binary output: no line end is rewritten on Windows.
  const TempDir scratch;
  const stdfs::path input = scratch.Write("input.sql", ".binary on\n" + std::string(sql) + "\n");
  const Result r = Run({PRAX_SQLITE3_PROGRAM, "-batch", db.string()}, scratch.Path(), {.input = input});
  return r.out + r.err;
}

Pid StartSqlite3(const stdfs::path& db, const stdfs::path& input, const stdfs::path& scratch) {
  return Start({PRAX_SQLITE3_PROGRAM, "-batch", db.string()}, scratch, {.input = input}, "sqlite3");
}

}  // namespace praxtest

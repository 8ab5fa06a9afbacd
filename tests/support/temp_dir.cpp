#include "support/temp_dir.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <tuple>

#include "support/programs.h"

namespace praxtest {

namespace stdfs = std::filesystem;

TempDir::TempDir() {
  std::string name = (stdfs::temp_directory_path() / "praxtest-XXXXXX").string();
  if (!::mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = name;
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

std::string Sqlite3(const stdfs::path& db, std::string_view sql) {
  std::string out = (stdfs::temp_directory_path() / "praxtest-sqlite3-XXXXXX").string();
  const int fd = ::mkstemp(out.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  ::close(fd);
  std::string command = "sqlite3 -batch '";
  for (const char c : db.string()) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
  std::FILE* p = ::popen((command + "' >" + out + " 2>&1").c_str(), "w");
  if (!p) throw std::runtime_error("cannot start sqlite3");
  std::fwrite(sql.data(), 1, sql.size(), p);
  std::fputs("\n", p);
  ::pclose(p);
  const std::string text = Slurp(out);
  stdfs::remove(out);
  return text;
}

}  // namespace praxtest

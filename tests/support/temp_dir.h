#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace praxtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string Text() const { return path_.generic_string() + "/"; }  // as NetworkDir holds it
  std::filesystem::path Write(std::string_view relative, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// Local noon of the date.
void SetMTime(const std::filesystem::path& file, int year, int month, int day);

// What the sqlite3 program prints for the SQL text (and its errors).
std::string Sqlite3(const std::filesystem::path& db, std::string_view sql);

}  // namespace praxtest

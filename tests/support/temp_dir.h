#pragma once
// Test helpers: a temporary folder removed at the end of the test, file
// writing with a chosen modification time, and reading a database through the
// sqlite3 command-line program.

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
  // The folder as path text ending with a separator, as NetworkDir holds it.
  std::string Text() const { return path_.generic_string() + "/"; }
  // Writes a file (bytes as given) below the folder, creating folders.
  std::filesystem::path Write(std::string_view relative, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// Sets a file's modification time to local noon of the given date.
void SetMTime(const std::filesystem::path& file, int year, int month, int day);

// Runs the sqlite3 command-line program on a database with one SQL text and
// returns what it printed (list mode, '|' separators, one line per row).
std::string Sqlite3(const std::filesystem::path& db, std::string_view sql);

}  // namespace praxtest

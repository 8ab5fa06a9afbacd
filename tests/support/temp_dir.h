#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace praxtest {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif
#ifdef PRAX_WITH_POSTGRESQL
inline constexpr bool kServerEngine = true;  // the build keeps a History database on a server when asked
#else
inline constexpr bool kServerEngine = false;
#endif
// Skips the case on Windows, naming what Windows (or Wine, which runs the suite there) lacks for it.
#define PRAX_SKIP_ON_WINDOWS(lacks) \
  if (praxtest::kWindows) GTEST_SKIP() << "Windows (or Wine) lacks " << (lacks)

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

// A path as the programs show it in messages (generic text through fs::ForDisplay).
std::string Shown(const std::filesystem::path& p);

// Local noon of the date.
void SetMTime(const std::filesystem::path& file, int year, int month, int day);

// Whether this process passes over permissions (root; never on Windows).
bool Root();

// Sets an environment variable of this process and the programs it starts; empty: removes it.
void SetEnv(const char* name, const std::string& value);

// What the sqlite3 program prints for the SQL text (and its errors).
std::string Sqlite3(const std::filesystem::path& db, std::string_view sql);

}  // namespace praxtest

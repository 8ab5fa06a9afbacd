#pragma once
// Shared pieces of the fuzz targets: a scratch folder made once per process
// (removed at exit), file writing, and the Master database the roster import
// runs against. Every target catches prax::Error (the documented way a
// reader refuses input); anything else escaping, a crash, a hang or a
// sanitizer report is a finding.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "support/roster.h"

namespace praxfuzz {

namespace stdfs = std::filesystem;

// A folder below the system's temporary folder, unique to this process.
class ScratchDir {
 public:
  ScratchDir() {
    path_ = stdfs::temp_directory_path() / ("praxfuzz-" + std::to_string(::getpid()));
    stdfs::remove_all(path_);
    stdfs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    stdfs::remove_all(path_, ec);
  }
  const stdfs::path& Path() const { return path_; }
  // Path text ending with a separator, as NetworkDir holds it.
  std::string Text() const { return path_.generic_string() + "/"; }

 private:
  stdfs::path path_;
};

inline void WriteBytes(const stdfs::path& file, std::string_view bytes) {
  stdfs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A Master database as the console leaves it (Users of text fields), with a
// few users whose ids UserDefs.Prn seeds name.
inline void MakeMaster(const stdfs::path& file) {
  praxtest::MakeRoster(file, {{"AB001", "Smith", "", "", "PX000001.DIR"},
                              {"AB002", "Smith", "", "", "PX000002.DIR"},
                              {"CD003", "Smith", "", "", "PX000003.DIR"},
                              {"Unassigned", "Unassigned", "", "", "PX000004.DIR"}});
}

// Restores `live` from `pristine` (a copy made once); database handles on
// `live` must be closed.
inline void Restore(const stdfs::path& pristine, const stdfs::path& live) {
  stdfs::copy_file(pristine, live, stdfs::copy_options::overwrite_existing);
}

// Number of inputs after which a target puts its database back to the
// pristine copy, so that lists and note tables do not grow without bound
// over a long run.
inline constexpr int kResetEvery = 256;

}  // namespace praxfuzz

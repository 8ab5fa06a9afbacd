#pragma once
// Shared pieces of the fuzz targets: a scratch folder made once per process
// (removed at exit), file writing, and the History and Master databases the
// readers run against. Every target catches prax::Error (the documented way a
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

#include "platform/run_context.h"
#include "platform/status.h"
#include "load/create_history_database.h"
#include "store/engine.h"
#include "platform/error.h"

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
  using prax::db::FieldType;
  auto db = prax::db::Database::Create(file);
  prax::db::TableDef users;
  users.name = "Users";
  users.fields = {{"User_Id", FieldType::Text, 20},
                  {"Last_Name", FieldType::Text, 30},
                  {"First_Name", FieldType::Text, 30},
                  {"Middle_Init", FieldType::Text, 1},
                  {"Sub_Dir", FieldType::Text, 12}};
  users.indexes = {{"Sub_Dir_Ix", "Sub_Dir", false, false}};
  db->AppendTable(users);
  auto rs = db->OpenRecordset("SELECT * FROM Users");
  const char* ids[] = {"AB001", "AB002", "CD003", "Unassigned"};
  int n = 1;
  for (const char* id : ids) {
    rs->AddNew();
    rs->Set("User_Id", prax::db::Value(id));
    rs->Set("Last_Name", prax::db::Value(n == 4 ? "Unassigned" : "Smith"));
    char dir[16];
    std::snprintf(dir, sizeof dir, "PX%06d.DIR", n++);
    rs->Set("Sub_Dir", prax::db::Value(dir));
    rs->Update();
  }
  rs->Close();
  db->Close();
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

#include "app/program_folder.h"

#include "platform/fs.h"

namespace prax {

namespace {

namespace stdfs = std::filesystem;

std::string WithoutTrailingSeparator(const stdfs::path& dir) {
  std::string text = fs::ToText(dir.lexically_normal());
  while (text.size() > 1 && (text.back() == '/' || text.back() == '\\')) text.pop_back();
  return text;
}

// The root of an installation whose executables lie in dir: "/" for /usr/bin
// and /usr/local/bin, R for R/usr/bin and R/usr/local/bin; nothing for any
// other folder (a build folder, /opt/..., a home's bin).
std::optional<stdfs::path> InstallRoot(const stdfs::path& dir) {
#ifdef _WIN32
  (void)dir;
  return std::nullopt;
#else
  stdfs::path p = dir.lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  if (p.filename() != "bin") return std::nullopt;
  p = p.parent_path();
  if (p.filename() == "local") p = p.parent_path();
  if (p.filename() != "usr" || !p.is_absolute()) return std::nullopt;
  return p.parent_path();
#endif
}

}  // namespace

ProgramFolders LocateProgramFolders(const stdfs::path& executableDir, const std::string& programDirOption) {
  ProgramFolders folders;
  if (const auto root = InstallRoot(executableDir)) {
    folders.installed = true;
    folders.programDir = WithoutTrailingSeparator(*root / "var/lib/praxserver");
    folders.profileDir = WithoutTrailingSeparator(*root / "etc/praxilo") + "/";
  } else {
    folders.programDir = WithoutTrailingSeparator(executableDir);
    folders.profileDir = fs::DefaultProfileDir();
  }
  if (!programDirOption.empty()) folders.programDir = WithoutTrailingSeparator(stdfs::absolute(programDirOption));
  return folders;
}

std::optional<std::string> ProgramFolderProblem(const ProgramFolders& folders, bool fromOption) {
  if (fs::IsDirectory(folders.programDir)) return std::nullopt;
  const std::string name = "The program folder '" + fs::ForDisplay(folders.programDir) + "'";
  if (fromOption)
    return name + " given with --program-dir does not exist or is not a folder. Name the folder that holds "
                  "INIPATH.TXT and UPDATED.DAT, then run the command again. Nothing was changed.";
  if (folders.installed)
    return name + ", where an installed PraxServer keeps its state, does not exist or is not a folder. Reinstall "
                  "the package praxserver, or create the folder for the account that runs the programs, then run "
                  "the command again. Nothing was changed.";
  return name + " (the folder of this executable) does not exist or is not a folder. Nothing was changed.";
}

}  // namespace prax

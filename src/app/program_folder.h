#pragma once
// Where a program keeps its files. Run from a build folder (or any folder of
// its own) it keeps them beside its executable, as ever. Installed as system
// software, with its executable in <root>/usr/bin or <root>/usr/local/bin, it
// never writes there: its program folder is the state folder
// <root>/var/lib/praxserver and PXNET.INI is looked for in <root>/etc/praxilo/
// (root "/" for a package installed on the machine; a package unpacked under
// another folder keeps to that folder).

#include <filesystem>
#include <optional>
#include <string>

namespace prax {

struct ProgramFolders {
  std::string programDir;  // path text without a trailing separator
  std::string profileDir;  // where PXNET.INI is without INIPATH.TXT; ends with a separator
  bool installed = false;
};

// The folders of a program whose executable lies in executableDir.
// programDirOption (praxload --program-dir) wins when given; the profile
// folder still follows the executable.
ProgramFolders LocateProgramFolders(const std::filesystem::path& executableDir,
                                    const std::string& programDirOption = {});

// The refusal of a program folder that does not exist or is not a folder,
// naming it and where it came from; nothing when it is usable.
std::optional<std::string> ProgramFolderProblem(const ProgramFolders& folders, bool fromOption);

}  // namespace prax

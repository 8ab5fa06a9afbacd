#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace praxtest {

// One Users row; an empty string stores Null.
struct RosterRow {
  std::string userId, lastName, firstName, middleInit, subDir;
};

// A Master database as the console makes one (folders are created), holding the rows.
void MakeRoster(const std::filesystem::path& path, const std::vector<RosterRow>& rows);

// "PX" & n in six digits & ".DIR".
std::string SlotDir(int n);

}  // namespace praxtest

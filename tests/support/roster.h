#pragma once
// Builds a Master database MASTER.MDB the way one made by the console looks:
// a Users table of text fields (User_Id 20, Last_Name 30, First_Name 30,
// Middle_Init 1, Sub_Dir 12) with no unique index, holding the rows given.

#include <filesystem>
#include <string>
#include <vector>

namespace praxtest {

// One Users row; an empty string stores Null. Unassigned user slots carry
// lastName "Unassigned" and their subDir.
struct RosterRow {
  std::string userId, lastName, firstName, middleInit, subDir;
};

// Creates the database file at path (it must not exist; folders are created)
// with the Users table and the rows in order.
void MakeRoster(const std::filesystem::path& path, const std::vector<RosterRow>& rows);

// The Sub_Dir of user slot n: "PX" & six digits & ".DIR".
std::string SlotDir(int n);

}  // namespace praxtest

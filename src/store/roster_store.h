#pragma once
// The Master database MASTER.MDB (the roster the console keeps: Users and
// the location, position and department lists) and the group files
// (<name>.Grp, one Members table), as the upgrade, the UserDefs.Prn import,
// the network merge, the user-slot count and praxgen use them. Values
// travel as typed rows and bound parameters.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/sqlite_file.h"
#include "store/history_store.h"
#include "store/list_ids.h"

namespace prax::store {

// The Last_Name placeholder that marks an unassigned user slot in Users
// (compared without regard to letter case).
inline constexpr std::string_view kUnassignedLastName = "Unassigned";

enum class RosterList : int { kLocations, kPositions, kDepartments };

// A row of Users or Members. Text columns may be Null.
struct RosterRow {
  std::optional<std::string> lastName, firstName, middleInit, subDir, userId;
};

// One step of the roster's schema upgrade: a column of Users, a list table,
// or a list's unique id index.
struct UpgradeStep {
  std::string table;
  enum class Kind { kAddField, kCreateTable, kCreateIndex } kind = Kind::kAddField;
  db::FieldDef field;     // kAddField
  db::TableDef created;   // kCreateTable (fields only)
  db::IndexDef index;     // kCreateIndex
};
// The twelve steps in order: Location_Id, Department_Id, Position_Id (Long),
// LastRunDate (Text 20), SystemVer (Text 10), NetLoggingOff (Text 1) on
// Users; LocationsList, PositionsList, DepartmentsList (Long id, Text 255
// name); their unique id indexes.
const std::vector<UpgradeStep>& RosterUpgrade();

class Roster {
 public:
  ~Roster();
  static std::unique_ptr<Roster> Open(const std::filesystem::path& file, db::Access access = db::Access::ReadWrite);
  // A new roster file with an empty Users table (User_Id, Last_Name,
  // First_Name, Middle_Init, Sub_Dir; index on Sub_Dir): praxgen's networks.
  static std::unique_ptr<Roster> Create(const std::filesystem::path& file);

  // One upgrade step; throws when it cannot be made (it was made before).
  void Apply(const UpgradeStep& step);

  // Every Sub_Dir of Users in stored order (3078 without a Users table).
  std::vector<std::optional<std::string>> SubDirs();
  // Every row of Users ordered by Sub_Dir (letter case folded), then stored order.
  std::vector<RosterRow> UsersBySubDir();
  // The first user (stored order) whose User_Id equals userId, letter case
  // ignored (text::FoldCase1252).
  std::optional<RowId> FindUser(std::string_view userId);
  // Sets Location_Id, Position_Id and Department_Id of a user.
  void SetUserDefs(RowId user, int64_t location, int64_t position, int64_t department);
  // Removes the users of numbered slots: Sub_Dir after "PX000000.DIR"
  // (compared with letters A-Z in either case alike).
  void RemoveNumberedUsers();
  // Appends a user; a value a column refuses throws and stores nothing.
  void AppendUser(const RosterRow& row);
  ListTable& List(RosterList list);

  void Commit();
  // Undoes what was written since the last Commit.
  void Rollback();
  void Close();

 private:
  struct Impl;
  explicit Roster(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// A group file: one Members table (Last_Name, Middle_Init, First_Name,
// Sub_Dir, User_Id; indexes on Last_Name and, unique, User_Id).
class GroupFile {
 public:
  ~GroupFile();
  // A new, empty group file (the file must not exist).
  static void Create(const std::filesystem::path& file);
  static std::unique_ptr<GroupFile> Open(const std::filesystem::path& file);
  // Appends a member; a refused row (a User_Id already listed, a value too
  // long) throws and stores nothing.
  void AppendMember(const RosterRow& row);
  void Close();

 private:
  explicit GroupFile(std::unique_ptr<db::SqliteFile> db);
  std::unique_ptr<db::SqliteFile> db_;
};

}  // namespace prax::store

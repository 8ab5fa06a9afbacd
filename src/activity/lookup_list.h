#pragma once
// Get-or-create lookups that map free-text names to small 16-bit ids, one
// list table each (applications, windows, projects, tasks, notes, body parts,
// discomforts, tools in the History database; locations, positions,
// departments in the Master database).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "db/engine.h"

namespace prax {

class Status;

// The table and columns of one list. The maximum query, the open statement
// and the search criterion are formed from these:
//   "SELECT MAX(<id>) AS <maxAlias> FROM <table>", "SELECT * FROM <table>",
//   "<name> = '<trimmed name>'".
struct LookupSpec {
  std::string_view table;
  std::string_view idColumn;
  std::string_view nameColumn;
  std::string_view maxAlias;
};

namespace lists {
inline constexpr LookupSpec kApplications{"ApplicationsList", "App_Id", "App_Name", "App_Max"};
inline constexpr LookupSpec kWindows{"WindowsList", "Window_Id", "Window_Name", "Window_Max"};
inline constexpr LookupSpec kProjects{"ProjectsList", "Proj_Id", "Proj_Name", "Proj_Max"};
inline constexpr LookupSpec kTasks{"ProjectTasksList", "Task_Id", "Task_Name", "Task_Max"};
inline constexpr LookupSpec kNotes{"NotesList", "Note_Id", "Note_Name", "Note_Max"};
inline constexpr LookupSpec kBodyParts{"BodyPartsList", "BodyPart_Id", "BodyPart_Name", "BodyPart_Max"};
inline constexpr LookupSpec kDiscomforts{"DiscomfortsList", "Discomfort_Id", "Discomfort_Name", "Discomfort_Max"};
inline constexpr LookupSpec kTools{"EMSToolsList", "Tool_Id", "Tool_Name", "Tool_Max"};
inline constexpr LookupSpec kLocations{"LocationsList", "Location_Id", "Location_Name", "Location_Max"};
inline constexpr LookupSpec kPositions{"PositionsList", "Position_Id", "Position_Name", "Position_Max"};
inline constexpr LookupSpec kDepartments{"DepartmentsList", "Department_Id", "Department_Name", "Department_Max"};
}  // namespace lists

// One list: its open record set and its running maximum id.
class LookupList {
 public:
  explicit LookupList(LookupSpec columns) : columns_(columns) {}

  // Priming: the running maximum becomes the table's largest id (0 when the
  // table is empty). Errors pass to the caller, which applies its own policy.
  void Prime(db::Database& db);
  // Opens the list's record set; `status` (may be null) is yielded to after
  // each lookup.
  void Open(db::Database& db, Status* status);
  // Get-or-create by name (UTF-8). Before a new id is given out the write
  // lock is taken and, when another program committed to the file since the
  // list was read, its maximum and names are read again: other writers never
  // make it store an id twice. The name is trimmed of spaces and matched
  // without regard to letter case; a new name is stored under the running
  // maximum plus one. Failures reach the caller: a single quote in the name
  // (engine syntax error), overflow past 32767, a refused store (after the
  // maximum advanced), and a name that is empty after trimming (refused at
  // once, nothing advanced, nothing stored).
  int16_t Get(std::string_view name);
  void Close();

  bool IsOpen() const { return rs_ != nullptr; }
  int16_t Max() const { return max_; }
  const LookupSpec& Columns() const { return columns_; }

 private:
  // Reads the maximum and the names afresh (after another program's commit).
  void Reload();

  LookupSpec columns_;
  int16_t max_ = 0;
  db::Database* db_ = nullptr;
  int64_t version_ = -1;  // the file's data version when the maximum was read
  std::unique_ptr<db::Recordset> rs_;
  Status* status_ = nullptr;
  // Ids already found or stored while the list is open, by trimmed name with
  // its letter case folded as the engine's matching does. Only this list
  // writes to its table while it is open (others are noticed before a new id
  // is given out), so an id found once stays the first match; a loader asks
  // for the same few names on every line.
  std::unordered_map<std::string, int16_t> known_;
  std::string key_;
};

}  // namespace prax

#pragma once
// The program-wide state shared by start-up, the Execute command, the load
// job, the loaders and the Master database operations. One instance lives
// for the life of the program (or of a test); collaborators receive it
// explicitly.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "activity/lookup_list.h"
#include "db/engine.h"
#include "platform/datetime.h"

namespace prax {

class Status;

struct RunContext {
  // The program folder (the folder of the executable, or any folder a test
  // chooses), as path text without a trailing separator. Files of the program
  // folder are joined to it with a backslash.
  std::string ProgramDir;

  // Start-up configuration.
  std::string IniDir;      // first line of INIPATH.TXT, may be empty
  std::string NetworkDir;  // ends with a backslash (or slash); names are appended directly
  int16_t NetworkCount = 0;
  // The lines of Networks.Lst; index 0 is the first network.
  std::vector<std::string> NetworkPaths, NetworkPrefixes, NetworkNames;
  bool AppsNoPresent = false;
  int16_t KeysMax = 260;
  int32_t UserSlotCount = 0;

  // The date of the machine that runs the load, as yyyymmdd. A log dated
  // that day (or later) may still be written by its client: it is left for
  // a later run unless IncludeToday (a run after close of business). Tests
  // set their own clock.
  std::function<int32_t()> Today = dt::TodayKey;
  bool IncludeToday = false;

  // The one open database and its shared scratch text.
  std::unique_ptr<db::Database> Db;
  std::string SqlText;
  int32_t CurrentUser = 0;

  // Lookup lists of the History database, primed and opened per pass.
  LookupList Tools{lists::kTools};
  LookupList BodyParts{lists::kBodyParts};
  LookupList Discomforts{lists::kDiscomforts};
  LookupList Notes{lists::kNotes};
  LookupList Apps{lists::kApplications};
  LookupList Windows{lists::kWindows};
  LookupList Projects{lists::kProjects};
  LookupList Tasks{lists::kTasks};

  // Note tables open for one pass.
  std::unique_ptr<db::Recordset> SystemUsageRs;
  std::unique_ptr<db::Recordset> UserNotesRs;
  std::unique_ptr<db::Recordset> ProjectNotesRs;

  // Ids the next rows are written with; 0 at start-up.
  int16_t CurToolId = 0, CurBodyPartId = 0, CurDiscomfortId = 0, CurNoteId = 0;
  int16_t CurAppId = 0, CurWindowId = 0, CurProjId = 0, CurTaskId = 0;

  // Where every operation reports. Never null while an operation runs.
  Status* status = nullptr;

  // Path text of a program-folder file: ProgramDir & "\" & name.
  std::string ProgramFile(std::string_view name) const { return ProgramDir + "\\" + std::string(name); }
};

}  // namespace prax

#include "load/create_history_database.h"

#include "platform/run_context.h"
#include "platform/status.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace prax {

namespace {

using db::FieldDef;
using db::FieldType;
using db::IndexDef;
using db::TableDef;

FieldDef Integer(std::string name) { return FieldDef{std::move(name), FieldType::Integer, 2}; }
FieldDef Long(std::string name) { return FieldDef{std::move(name), FieldType::Long, 4}; }
FieldDef Text(std::string name, int size) { return FieldDef{std::move(name), FieldType::Text, size}; }

// User_Num, Data_Date, Data_Hour: the leading fields of the per-user tables.
std::vector<FieldDef> Common() { return {Long("User_Num"), Long("Data_Date"), Text("Data_Hour", 2)}; }

IndexDef UserNumIndex() { return IndexDef{"User_Num_Ix", "User_Num", false, false}; }

TableDef AlertSystem() {
  TableDef t{"AlertSystem", Common(), {UserNumIndex()}};
  for (const char* device : {"Key", "Mouse"}) {
    for (const char* what : {"Given", "Taken", "Skipped"}) {
      for (int level = 1; level <= 5; ++level) {
        t.fields.push_back(Integer(std::string(device) + "_L" + std::to_string(level) + "_" + what));
      }
    }
    t.fields.push_back(Integer(std::string(device) + "_Work_Mins"));
    t.fields.push_back(Long(std::string(device) == "Key" ? "Keystrokes" : "Mouse_Seconds"));
  }
  for (const char* name : {"StretchTimers_Given", "Restarts", "Settings_Cycled", "Error_Keys"}) {
    t.fields.push_back(Integer(name));
  }
  return t;
}

TableDef PerUser(std::string name, std::vector<FieldDef> more) {
  TableDef t{std::move(name), Common(), {UserNumIndex()}};
  for (auto& f : more) t.fields.push_back(std::move(f));
  return t;
}

// A lookup list: an Integer id and a Text (255) name, one index.
TableDef List(std::string name, std::string id, std::string text, bool onName) {
  TableDef t{std::move(name), {Integer(id), Text(text, 255)}, {}};
  if (onName) {
    t.indexes.push_back(IndexDef{text + "_Ix", text, true, true});
  } else {
    t.indexes.push_back(IndexDef{id + "_Ix", id, false, false});
  }
  return t;
}

std::vector<TableDef> BuildSchema() {
  return {
      AlertSystem(),
      PerUser("ActivitySystem", {Integer("App_Id"), Integer("Window_Id"), Integer("Proj_Id"), Integer("Task_Id"),
                                 Integer("Key_Num"), Long("Key_Count")}),
      PerUser("UserNotes", {Text("Data_Minute", 2), Integer("BodyPart_Id"), Integer("Discomfort_Id"),
                            Integer("Note_Id")}),
      PerUser("ProjectNotes", {Text("Data_Minute", 2), Integer("Project_Id"), Integer("Task_Id"),
                               Integer("Note_Id")}),
      List("ApplicationsList", "App_Id", "App_Name", true),
      List("ProjectsList", "Proj_Id", "Proj_Name", false),
      List("BodyPartsList", "BodyPart_Id", "BodyPart_Name", false),
      List("WindowsList", "Window_Id", "Window_Name", true),
      List("DiscomfortsList", "Discomfort_Id", "Discomfort_Name", false),
      List("ProjectTasksList", "Task_Id", "Task_Name", false),
      List("NotesList", "Note_Id", "Note_Name", false),
      List("EMSToolsList", "Tool_Id", "Tool_Name", false),
      PerUser("EMSSystemUsage", {Integer("Tool_Id")}),
  };
}

}  // namespace

const std::vector<db::TableDef>& HistorySchema() {
  static const std::vector<db::TableDef> schema = BuildSchema();
  return schema;
}

namespace {

constexpr const char* kHistoryFile = "PRAXDATA.MDB";
constexpr const char* kBuildingFile = "PRAXDATA.MDB.building";

}  // namespace

void RemoveUnfinishedHistoryDatabase(const std::string& networkDir) {
  const std::string building = networkDir + kBuildingFile;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string file = building + suffix;
    if (fs::Exists(file, true) && !fs::IsDirectory(file)) fs::DeleteFile(file);
  }
}

void CreateHistoryDatabase(RunContext& ctx) {
  const std::string file = ctx.NetworkDir + kHistoryFile;
  RemoveUnfinishedHistoryDatabase(ctx.NetworkDir);
  ctx.Db = db::Database::Create(fs::RealPath(ctx.NetworkDir + kBuildingFile), db::kGeneralLocale);
  ctx.status->SetStatus("Creating new database.");
  ctx.status->SetFilePercent(0);
  ctx.status->SetUserPercent(0);
  ctx.status->Yield();
  ctx.status->Yield();
  try {
    for (const auto& table : HistorySchema()) ctx.Db->AppendTable(table);
    ctx.Db->Close();
  } catch (const Error&) {
    ctx.Db.reset();
    TryStep([&] { RemoveUnfinishedHistoryDatabase(ctx.NetworkDir); });
    throw;
  }
  ctx.Db.reset();
  db::Database::PutInPlace(fs::RealPath(ctx.NetworkDir + kBuildingFile), fs::RealPath(file));
  ctx.status->Yield();
}

}  // namespace prax

#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "store/sqlite_file.h"
#include "store/history_store.h"

namespace prax::store {

namespace {

using db::FieldDef;
using db::IndexDef;
using db::IntegerField;
using db::LongField;
using db::TableDef;
using db::TextField;

// User_Num, Data_Date, Data_Hour: the leading fields of the per-user tables.
std::vector<FieldDef> Common() { return {LongField("User_Num"), LongField("Data_Date"), TextField("Data_Hour", 2)}; }

IndexDef UserNumIndex() { return IndexDef{"User_Num_Ix", "User_Num", false, false}; }

TableDef AlertSystem() {
  TableDef t{"AlertSystem", Common(), {UserNumIndex()}};
  for (const char* device : {"Key", "Mouse"}) {
    for (const char* what : {"Given", "Taken", "Skipped"}) {
      for (int level = 1; level <= 5; ++level) {
        t.fields.push_back(IntegerField(std::string(device) + "_L" + std::to_string(level) + "_" + what));
      }
    }
    t.fields.push_back(IntegerField(std::string(device) + "_Work_Mins"));
    t.fields.push_back(LongField(std::string(device) == "Key" ? "Keystrokes" : "Mouse_Seconds"));
  }
  for (const char* name : {"StretchTimers_Given", "Restarts", "Settings_Cycled", "Error_Keys"}) {
    t.fields.push_back(IntegerField(name));
  }
  return t;
}

TableDef PerUser(std::string name, std::vector<FieldDef> more) {
  TableDef t{std::move(name), Common(), {UserNumIndex()}};
  for (auto& f : more) t.fields.push_back(std::move(f));
  return t;
}

// A list: an Integer id and a Text (255) name, one index.
TableDef List(std::string name, std::string id, std::string text, bool onName) {
  TableDef t{std::move(name), {IntegerField(id), TextField(text, 255)}, {}};
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
      PerUser("ActivitySystem", {IntegerField("App_Id"), IntegerField("Window_Id"), IntegerField("Proj_Id"),
                                 IntegerField("Task_Id"), IntegerField("Key_Num"), LongField("Key_Count")}),
      PerUser("UserNotes", {TextField("Data_Minute", 2), IntegerField("BodyPart_Id"), IntegerField("Discomfort_Id"),
                            IntegerField("Note_Id")}),
      PerUser("ProjectNotes", {TextField("Data_Minute", 2), IntegerField("Project_Id"), IntegerField("Task_Id"),
                               IntegerField("Note_Id")}),
      List("ApplicationsList", "App_Id", "App_Name", true),
      List("ProjectsList", "Proj_Id", "Proj_Name", false),
      List("BodyPartsList", "BodyPart_Id", "BodyPart_Name", false),
      List("WindowsList", "Window_Id", "Window_Name", true),
      List("DiscomfortsList", "Discomfort_Id", "Discomfort_Name", false),
      List("ProjectTasksList", "Task_Id", "Task_Name", false),
      List("NotesList", "Note_Id", "Note_Name", false),
      List("EMSToolsList", "Tool_Id", "Tool_Name", false),
      PerUser("EMSSystemUsage", {IntegerField("Tool_Id")}),
  };
}

std::string Building(std::string_view fileText) { return std::string(fileText) + ".building"; }

}  // namespace

const std::vector<db::TableDef>& HistorySchema() {
  static const std::vector<db::TableDef> schema = BuildSchema();
  return schema;
}

std::map<std::string, int64_t> EveryHistoryTable(const std::map<std::string, int64_t>& counted) {
  std::map<std::string, int64_t> rows;
  for (const auto& t : HistorySchema()) {
    const auto it = counted.find(t.name);
    rows[t.name] = it == counted.end() ? 0 : it->second;
  }
  return rows;
}

void RemoveUnfinishedHistory(std::string_view fileText) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string file = Building(fileText) + suffix;
    // A killed creation leaves plain files; a link, FIFO or linked file
    // there is no leftover of ours.
    fs::RequireOwnFile(file);
    if (fs::Exists(file, true)) fs::DeleteFile(file);
  }
}

void CreateSqliteHistory(std::string_view fileText) {
  RemoveUnfinishedHistory(fileText);
  const std::string building = Building(fileText);
  auto db = db::SqliteFile::Create(fs::RealPath(building));
  try {
    for (const auto& table : HistorySchema()) db->AppendTable(table);
    AddLoadAids(*db, false);
    db->Close();
  } catch (const Error&) {
    db.reset();
    TryStep([&] { RemoveUnfinishedHistory(fileText); });
    throw;
  }
  db.reset();
  db::SqliteFile::PutInPlace(fs::RealPath(building), fs::RealPath(fileText));
}

}  // namespace prax::store

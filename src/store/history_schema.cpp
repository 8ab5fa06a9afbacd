#include <array>
#include <iterator>
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
using db::Value;

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

// The list tables in HistoryList order: the table, its id and name columns,
// and whether its one index is the unique one on the name (else on the id).
struct ListCatalogue {
  const char* table;
  const char* id;
  const char* name;
  bool onName;
};
constexpr ListCatalogue kLists[kHistoryListCount] = {
    {"ApplicationsList", "App_Id", "App_Name", true},
    {"WindowsList", "Window_Id", "Window_Name", true},
    {"ProjectsList", "Proj_Id", "Proj_Name", false},
    {"ProjectTasksList", "Task_Id", "Task_Name", false},
    {"NotesList", "Note_Id", "Note_Name", false},
    {"BodyPartsList", "BodyPart_Id", "BodyPart_Name", false},
    {"DiscomfortsList", "Discomfort_Id", "Discomfort_Name", false},
    {"EMSToolsList", "Tool_Id", "Tool_Name", false},
};

// A list: an Integer id and a Text (255) name, one index.
TableDef List(HistoryList list) {
  const ListCatalogue& l = kLists[static_cast<size_t>(list)];
  const std::string id = l.id, text = l.name;
  TableDef t{l.table, {IntegerField(id), TextField(text, 255)}, {}};
  if (l.onName) {
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
      List(HistoryList::kApplications),
      List(HistoryList::kProjects),
      List(HistoryList::kBodyParts),
      List(HistoryList::kWindows),
      List(HistoryList::kDiscomforts),
      List(HistoryList::kTasks),
      List(HistoryList::kNotes),
      List(HistoryList::kTools),
      PerUser("EMSSystemUsage", {IntegerField("Tool_Id")}),
  };
}

std::string Building(std::string_view fileText) { return std::string(fileText) + ".building"; }

const TableDef& SchemaTable(std::string_view name) {
  for (const auto& t : HistorySchema()) {
    if (t.name == name) return t;
  }
  throw Error(err::kCannotFindTable, "No History table is named '" + std::string(name) + "'.", Cause::kData);
}

Value Opt(const std::optional<int64_t>& v) { return v ? Value(*v) : Value(); }
Value Opt(const std::optional<std::string>& v) { return v ? Value(*v) : Value(); }

}  // namespace

const std::vector<db::TableDef>& HistorySchema() {
  static const std::vector<db::TableDef> schema = BuildSchema();
  return schema;
}

const db::TableDef& RowTable(RowKind kind) {
  static const std::array<const TableDef*, kRowKindCount> tables{
      &SchemaTable("AlertSystem"), &SchemaTable("EMSSystemUsage"), &SchemaTable("UserNotes"),
      &SchemaTable("ProjectNotes"), &SchemaTable("ActivitySystem")};
  return *tables[static_cast<size_t>(kind)];
}

const db::TableDef& ListTableDef(HistoryList list) { return SchemaTable(kLists[static_cast<size_t>(list)].table); }

TableRow ToTableRow(const AlertHourRow& row) {
  TableRow r{RowKind::kAlertHour, {}};
  r.values.reserve(4 + kAlertCountColumns);
  r.values.insert(r.values.end(), {Value(int64_t{row.user}), Value(int64_t{row.date}), Value(row.hour)});
  for (const int64_t count : row.counts) r.values.emplace_back(count);
  r.values.emplace_back(row.errorKeys);
  return r;
}

TableRow ToTableRow(const SystemUsageRow& row) {
  return {RowKind::kSystemUsage, {Value(int64_t{row.user}), Opt(row.date), Opt(row.hour), Value(row.toolId)}};
}

TableRow ToTableRow(const UserNoteRow& row) {
  return {RowKind::kUserNote,
          {Value(int64_t{row.user}), Value(int64_t{row.date}), Opt(row.hour), Opt(row.minute), Value(row.bodyPartId),
           Value(row.discomfortId), Opt(row.noteId)}};
}

TableRow ToTableRow(const ProjectNoteRow& row) {
  return {RowKind::kProjectNote,
          {Value(int64_t{row.user}), Value(int64_t{row.date}), Opt(row.hour), Opt(row.minute), Value(row.projectId),
           Value(row.taskId), Value(row.noteId)}};
}

std::array<db::Value, 9> RowValues(const ActivityRow& row) {
  return {Value(int64_t{row.user}), Value(int64_t{row.date}), Value(row.hour), Value(row.appId), Value(row.windowId),
          Value(row.projectId), Value(row.taskId), Value(row.keyNum), Value(row.keyCount)};
}

TableRow ToTableRow(const ActivityRow& row) {
  auto values = RowValues(row);
  return {RowKind::kActivity, {std::make_move_iterator(values.begin()), std::make_move_iterator(values.end())}};
}

void CheckRow(const db::TableDef& table, std::span<const db::Value> values) {
  for (size_t i = 0; i < values.size(); ++i) {
    const Value& v = values[i];
    db::CheckValue(table.name, table.fields[i], v);
    if (v.IsText() && !v.TextRef().empty() && v.TextRef()[0] == '\0') {
      throw Error(err::kOtherEngineError, "The History database refused the change: the value for '" + table.name +
                                              "." + table.fields[i].name + "' starts with a NUL character.",
                  Cause::kData);
    }
  }
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

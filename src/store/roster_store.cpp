#include "store/roster_store.h"

#include <sqlite3.h>

#include "platform/text.h"
#include "store/sqlite_file.h"

namespace prax::store {

namespace {

using db::FieldType;
using db::Value;

Value Opt(const std::optional<std::string>& v) { return v ? Value(*v) : Value(); }
std::optional<std::string> ReadText(sqlite3_stmt* st, int col) {
  const Value v = db::ReadValue(st, col);
  return v.IsNull() ? std::nullopt : std::optional<std::string>(v.AsText());
}

const std::vector<std::string> kUserColumns = {"User_Id", "Last_Name", "First_Name", "Middle_Init", "Sub_Dir"};

std::vector<Value> UserValues(const RosterRow& row) {
  return {Opt(row.userId), Opt(row.lastName), Opt(row.firstName), Opt(row.middleInit), Opt(row.subDir)};
}

db::TableDef UsersTable() {
  return {"Users",
          {db::TextField("User_Id", 20), db::TextField("Last_Name", 30), db::TextField("First_Name", 30),
           db::TextField("Middle_Init", 1), db::TextField("Sub_Dir", 12)},
          {{"Sub_Dir_Ix", "Sub_Dir", false, false}}};
}

db::TableDef MembersTable() {
  return {"Members",
          {db::TextField("Last_Name", 30), db::TextField("Middle_Init", 1), db::TextField("First_Name", 30),
           db::TextField("Sub_Dir", 12), db::TextField("User_Id", 20)},
          {{"Last_Name_Ix", "Last_Name", false, false}, {"User_Id_Ix", "User_Id", true, true}}};
}

std::vector<UpgradeStep> BuildUpgrade() {
  std::vector<UpgradeStep> steps;
  const auto step = [&steps](std::string table, UpgradeStep::Kind kind) -> UpgradeStep& {
    UpgradeStep& s = steps.emplace_back();
    s.table = std::move(table);
    s.kind = kind;
    return s;
  };
  for (const char* id : {"Location_Id", "Department_Id", "Position_Id"}) {
    step("Users", UpgradeStep::Kind::kAddField).field = db::LongField(id);
  }
  for (const auto& [name, size] : {std::pair{"LastRunDate", 20}, {"SystemVer", 10}, {"NetLoggingOff", 1}}) {
    step("Users", UpgradeStep::Kind::kAddField).field = db::TextField(name, size);
  }
  static constexpr const char* kLists[] = {"Location", "Position", "Department"};
  for (const char* list : kLists) {
    const std::string table = std::string(list) + "sList";
    db::TableDef& def = step(table, UpgradeStep::Kind::kCreateTable).created;
    def.name = table;
    def.fields = {db::LongField(std::string(list) + "_Id"), db::TextField(std::string(list) + "_Name", 255)};
  }
  for (const char* list : kLists) {
    const std::string id = std::string(list) + "_Id";
    step(std::string(list) + "sList", UpgradeStep::Kind::kCreateIndex).index = db::IndexDef{id + "_Ix", id, false, true};
  }
  return steps;
}

}  // namespace

const std::vector<UpgradeStep>& RosterUpgrade() {
  static const std::vector<UpgradeStep> steps = BuildUpgrade();
  return steps;
}

struct Roster::Impl {
  explicit Impl(std::unique_ptr<db::SqliteFile> d)
      : db(std::move(d)),
        users(*db, "Users", kUserColumns),
        defs(*db, "Users", {"Location_Id", "Position_Id", "Department_Id"}) {
    lists.push_back(std::make_unique<db::SqliteListTable>(*db, "LocationsList", "Location_Id", "Location_Name"));
    lists.push_back(std::make_unique<db::SqliteListTable>(*db, "PositionsList", "Position_Id", "Position_Name"));
    lists.push_back(
        std::make_unique<db::SqliteListTable>(*db, "DepartmentsList", "Department_Id", "Department_Name"));
  }
  std::string UsersTable() { return db->Table("Users")->quoted; }

  std::unique_ptr<db::SqliteFile> db;
  db::TableWriter users, defs;
  std::vector<std::unique_ptr<db::SqliteListTable>> lists;
};

Roster::Roster(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Roster::~Roster() = default;

std::unique_ptr<Roster> Roster::Open(const std::filesystem::path& file, db::Access access) {
  auto db = db::SqliteFile::Open(file, db::OpenOptions{access, db::Journal::Rollback});
  return std::unique_ptr<Roster>(new Roster(std::make_unique<Impl>(std::move(db))));
}

std::unique_ptr<Roster> Roster::Create(const std::filesystem::path& file) {
  auto db = db::SqliteFile::Create(file);
  db->AppendTable(UsersTable());
  return std::unique_ptr<Roster>(new Roster(std::make_unique<Impl>(std::move(db))));
}

void Roster::Apply(const UpgradeStep& step) {
  switch (step.kind) {
    case UpgradeStep::Kind::kAddField: impl_->db->AddField(step.table, step.field); break;
    case UpgradeStep::Kind::kCreateTable: impl_->db->AppendTable(step.created); break;
    case UpgradeStep::Kind::kCreateIndex: impl_->db->AddIndex(step.table, step.index); break;
  }
}

std::vector<std::optional<std::string>> Roster::SubDirs() {
  std::vector<std::optional<std::string>> dirs;
  db::ForEachRow(*impl_->db, impl_->db->Prepare("SELECT Sub_Dir FROM " + impl_->UsersTable() + " ORDER BY rowid"),
                 [&](sqlite3_stmt* st) { dirs.push_back(ReadText(st, 0)); });
  return dirs;
}

std::vector<RosterRow> Roster::UsersBySubDir() {
  std::vector<RosterRow> rows;
  const std::string sqlText = "SELECT Last_Name, First_Name, Middle_Init, Sub_Dir, User_Id FROM " +
                              impl_->UsersTable() + " ORDER BY " + db::kFoldFunction + "(Sub_Dir), rowid";
  db::ForEachRow(*impl_->db, impl_->db->Prepare(sqlText), [&](sqlite3_stmt* st) {
    rows.push_back(RosterRow{ReadText(st, 0), ReadText(st, 1), ReadText(st, 2), ReadText(st, 3), ReadText(st, 4)});
  });
  return rows;
}

std::optional<RowId> Roster::FindUser(std::string_view userId) {
  sqlite3_stmt* st = impl_->db->Prepare("SELECT rowid FROM " + impl_->UsersTable() + " WHERE " +
                                         db::kFoldFunction + "(User_Id) = ?1 ORDER BY rowid LIMIT 1");
  const std::string folded = text::FoldCase1252(userId);
  sqlite3_bind_text(st, 1, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
  std::optional<RowId> found;
  db::ForEachRow(*impl_->db, st, [&](sqlite3_stmt* r) { found = sqlite3_column_int64(r, 0); });
  return found;
}

void Roster::SetUserDefs(RowId user, int64_t location, int64_t position, int64_t department) {
  impl_->defs.Check({{0, Value(location)}, {1, Value(position)}, {2, Value(department)}});
  sqlite3_stmt* st = impl_->db->Prepare("UPDATE " + impl_->UsersTable() +
                                         " SET Location_Id = ?1, Position_Id = ?2, Department_Id = ?3 WHERE rowid = ?4");
  sqlite3_bind_int64(st, 1, location);
  sqlite3_bind_int64(st, 2, position);
  sqlite3_bind_int64(st, 3, department);
  sqlite3_bind_int64(st, 4, user);
  db::TableWriter::RunWrite(*impl_->db, st);
}

void Roster::RemoveNumberedUsers() {
  sqlite3_stmt* st =
      impl_->db->Prepare("DELETE FROM " + impl_->UsersTable() + " WHERE Sub_Dir > ?1 COLLATE NOCASE");
  sqlite3_bind_text(st, 1, "PX000000.DIR", -1, SQLITE_STATIC);
  db::TableWriter::RunWrite(*impl_->db, st);
}

void Roster::AppendUser(const RosterRow& row) { impl_->users.Append(UserValues(row)); }

ListTable& Roster::List(RosterList list) { return *impl_->lists.at(static_cast<size_t>(list)); }

void Roster::Commit() { impl_->db->Commit(); }
void Roster::Rollback() { impl_->db->Rollback(); }
void Roster::Close() { impl_->db->Close(); }

GroupFile::GroupFile(std::unique_ptr<db::SqliteFile> db) : db_(std::move(db)) {}
GroupFile::~GroupFile() = default;

void GroupFile::Create(const std::filesystem::path& file) {
  auto db = db::SqliteFile::Create(file);
  db->AppendTable(MembersTable());
  db->Close();
}

std::unique_ptr<GroupFile> GroupFile::Open(const std::filesystem::path& file) {
  return std::unique_ptr<GroupFile>(new GroupFile(db::SqliteFile::Open(file)));
}

void GroupFile::AppendMember(const RosterRow& row) {
  db::TableWriter members(*db_, "Members", {"Last_Name", "Middle_Init", "First_Name", "Sub_Dir", "User_Id"});
  const std::vector<Value> values{Opt(row.lastName), Opt(row.middleInit), Opt(row.firstName), Opt(row.subDir),
                                  Opt(row.userId)};
  std::vector<std::pair<size_t, Value>> all;
  for (size_t i = 0; i < values.size(); ++i) all.emplace_back(i, values[i]);
  members.Check(all);
  if (row.userId) {
    // The file's unique index ignores the case of A-Z only; every letter with a case partner counts here.
    db::SqliteFile& file = *db_;
    sqlite3_stmt* st = file.Prepare("SELECT 1 FROM " + file.Table("Members")->quoted + " WHERE " +
                                    db::kFoldFunction + "(User_Id) = ?1 LIMIT 1");
    const std::string folded = text::FoldCase1252(*row.userId);
    sqlite3_bind_text(st, 1, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
    bool found = false;
    db::ForEachRow(file, st, [&](sqlite3_stmt*) { found = true; });
    if (found) db::FailDuplicate(file, "User_Id_Ix");
  }
  members.Append(values);
}

void GroupFile::Close() { db_->Close(); }

}  // namespace prax::store

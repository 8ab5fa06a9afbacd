#include "roster.h"

#include <cstdio>

#include "store/engine.h"

namespace praxtest {

void MakeRoster(const std::filesystem::path& path, const std::vector<RosterRow>& rows) {
  using prax::db::FieldType;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  auto db = prax::db::Database::Create(path);
  prax::db::TableDef users;
  users.name = "Users";
  users.fields = {{"User_Id", FieldType::Text, 20},    {"Last_Name", FieldType::Text, 30},
                  {"First_Name", FieldType::Text, 30}, {"Middle_Init", FieldType::Text, 1},
                  {"Sub_Dir", FieldType::Text, 12}};
  users.indexes = {{"Sub_Dir_Ix", "Sub_Dir", false, false}};
  db->AppendTable(users);
  auto rs = db->OpenRecordset("SELECT * FROM Users");
  for (const RosterRow& r : rows) {
    rs->AddNew();
    const std::string* values[] = {&r.userId, &r.lastName, &r.firstName, &r.middleInit, &r.subDir};
    for (std::size_t i = 0; i < users.fields.size(); ++i)
      if (!values[i]->empty()) rs->Set(users.fields[i].name, prax::db::Value(*values[i]));
    rs->Update();
  }
  rs->Close();
  db->Close();
}

std::string SlotDir(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "PX%06d.DIR", n);
  return buf;
}

}  // namespace praxtest

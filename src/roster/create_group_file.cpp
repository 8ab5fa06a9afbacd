#include <string>

#include "platform/run_context.h"
#include "store/engine.h"
#include "roster/master_database.h"
#include "roster/merge_paths.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace prax {

void CreateGroupFile(RunContext& ctx, std::string_view fileName) {
  const std::string file = ctx.NetworkDir + std::string(fileName);
  if (!merge::IsPlainName(fileName))
    throw Error(err::kPathFileAccess, "Group file '" + fs::ForDisplay(file) +
                                          "': a group file name must be a plain file name inside the network "
                                          "directory; correct the group name in Networks.Lst");
  if (fs::Exists(file, true)) fs::DeleteFile(file);

  using db::FieldType;
  auto group = db::Database::Create(fs::RealPath(file));
  db::TableDef members;
  members.name = "Members";
  members.fields = {{"Last_Name", FieldType::Text, 30},
                    {"Middle_Init", FieldType::Text, 1},
                    {"First_Name", FieldType::Text, 30},
                    {"Sub_Dir", FieldType::Text, 12},
                    {"User_Id", FieldType::Text, 20}};
  members.indexes = {{"Last_Name_Ix", "Last_Name", false, false}, {"User_Id_Ix", "User_Id", true, true}};
  group->AppendTable(members);
  group->Close();
}

}  // namespace prax

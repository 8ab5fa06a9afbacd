#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/run_context.h"
#include "platform/status.h"
#include "store/engine.h"
#include "logs/user_dir.h"
#include "roster/master_database.h"
#include "roster/merge_paths.h"
#include "roster/user_slot_count.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

namespace {

namespace stdfs = std::filesystem;

bool IsUnassigned(const db::Value& lastName) {
  return lastName.IsText() && text::EqualsIgnoreCase(text::Trim(lastName.AsText()), kUnassignedLastName);
}

std::string Shown(std::string_view pathText) { return fs::ForDisplay(pathText); }

Error Refusal(const RunContext& ctx, const std::string& why) {
  return Error(err::kInvalidCall, "refused for the network directory '" + Shown(ctx.NetworkDir) + "': " + why +
                                      ". Correct Networks.Lst and run again; nothing was deleted.");
}

// The checks made before the network directory is emptied. Directories are
// compared by identity, so a listed path that reaches the network directory
// through a link, a bind mount or another share is caught like its own name.
void CheckBeforeClearing(const RunContext& ctx, std::size_t count) {
  if (count == 0) throw Refusal(ctx, "Networks.Lst lists no network");
  const std::string& first = ctx.NetworkPaths[0];
  if (merge::HasParentComponent(first))
    throw Refusal(ctx, "the first network's path '" + Shown(first) + "' contains a '..' component");
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& path = ctx.NetworkPaths[i];
    if (merge::HasParentComponent(path)) continue;  // skipped during the merge
    const std::string named = "the network path '" + Shown(path) + "' ";
    switch (fs::PlaceDirectory(path, ctx.NetworkDir)) {
      case fs::Placement::kSame:
        throw Refusal(ctx, named + "is the network directory itself");
      case fs::Placement::kInside:
        throw Refusal(ctx, named + "lies inside the network directory, which the merge empties");
      case fs::Placement::kContains:
        throw Refusal(ctx, named + "contains the network directory");
      case fs::Placement::kApart:
        break;
    }
  }
  const std::string master = first + "MASTER.MDB";
  if (!fs::Exists(master, true) || fs::IsDirectory(master))
    throw Refusal(ctx, "the first network has no Master database '" + Shown(master) + "'");
  // It is copied only after the clearing: a link or FIFO in its place must stop the merge now.
  if (!TryStep([&] { fs::RequirePlainFile(master); }))
    throw Refusal(ctx, "the first network's Master database '" + Shown(master) +
                           "' is a symbolic link or not a plain file; put the file itself in its place");
}

// One open group file and its Members record set.
struct GroupFile {
  std::unique_ptr<db::Database> db;
  std::unique_ptr<db::Recordset> rs;

  void Open(const std::string& file) {
    db = db::Database::Open(fs::RealPath(file));
    rs = db->OpenRecordset("SELECT * FROM Members");
  }
  void Close() {
    if (rs) TryStep([&] { rs->Close(); });
    if (db) TryStep([&] { db->Close(); });
    rs.reset();
    db.reset();
  }
};

struct MemberRow {
  db::Value lastName, firstName, middleInit;
  std::string subDir, userId;
};

void AddMember(GroupFile& group, const MemberRow& row) {
  if (!group.rs) return;
  if (!TryStep([&] {
        group.rs->AddNew();
        group.rs->Set("Last_Name", row.lastName);
        group.rs->Set("First_Name", row.firstName);
        group.rs->Set("Middle_Init", row.middleInit);
        group.rs->Set("Sub_Dir", row.subDir);
        group.rs->Set("User_Id", row.userId);
        group.rs->Update();
      }))
    TryStep([&] { group.rs->CancelUpdate(); });
}

// Copies the regular files of one user directory (links and folders are not
// followed), each keeping its modification time.
void CopyUserFiles(Status* status, const std::string& fromDir, const std::string& toDir) {
  for (const fs::DirEntry& e : fs::List(fromDir)) {
    if (e.isDirectory) continue;
    const std::string from = fromDir + "\\" + e.name;
    std::error_code ec;
    if (!stdfs::is_regular_file(stdfs::symlink_status(fs::RealPath(from), ec))) {
      merge::Say(status, "Merging: '" + Shown(from) + "' not copied: it is a symbolic link or not a plain file; put the "
                                               "file itself in its place and merge again");
      continue;
    }
    TryStep([&] { fs::CopyFile(from, toDir + "\\" + e.name); });
  }
}

// The merge state that runs on across networks.
struct Merge {
  RunContext& ctx;
  Status* status;
  db::Recordset& roster;  // the merged roster
  GroupFile& everyone;
  int32_t n = 0;  // sequence number of the last merged user

  void MergeNetwork(std::size_t i, std::size_t count);
  void MergeUser(const std::string& path, const std::string& prefix, db::Recordset& netRoster, GroupFile& group);
};

void Merge::MergeNetwork(std::size_t i, std::size_t count) {
  const std::string& path = ctx.NetworkPaths[i];
  const std::string prefix = i < ctx.NetworkPrefixes.size() ? ctx.NetworkPrefixes[i] : std::string();
  const std::string name = i < ctx.NetworkNames.size() ? ctx.NetworkNames[i] : std::string();

  merge::Say(status, "Merging: " + Shown(path));
  if (status) status->SetUserPercent(num::ProgressPercent(static_cast<double>(i), static_cast<double>(count)));
  merge::Yield(status);
  if (merge::HasParentComponent(path)) {
    merge::Say(status, "Merging: network '" + Shown(path) + "' skipped: its path has a '..' component");
    return;
  }
  // A damaged roster is named when the network's Master database is opened
  // below; a locked one (a failure of the machine) ends the merge.
  int32_t slots = 0;
  TryStep([&] { slots = UserSlotCount(path); });

  const std::string groupName = name + ".Grp";
  bool groupOk = merge::IsPlainName(name) && !text::EqualsIgnoreCase(groupName, "Everyone.grp");
  if (!groupOk)
    merge::Say(status, "Merging: network '" + Shown(path) + "' has no usable group name ('" + name +
                           "'); its group file is not written");
  else
    groupOk = TryStep([&] { CreateGroupFile(ctx, groupName); });

  std::unique_ptr<db::Database> netDb;
  std::unique_ptr<db::Recordset> netRoster;
  try {
    netDb = db::Database::Open(fs::RealPath(path + "MASTER.MDB"), {db::Access::ReadOnly});
    // Every row in Sub_Dir order; rows of unassigned slots are passed by in
    // the loop (a <> condition would also drop rows whose Last_Name is Null).
    netRoster = netDb->OpenRecordset("SELECT * FROM Users ORDER BY Sub_Dir");
  } catch (const Error& e) {
    merge::Say(status, "Merging: network '" + Shown(path) + "' left out, its roster cannot be read: " + e.what());
    netRoster.reset();
    if (netDb) TryStep([&] { netDb->Close(); });
    return;
  }
  merge::Yield(status);

  GroupFile group;
  if (groupOk && !TryStep([&] { group.Open(ctx.NetworkDir + groupName); })) group.Close();

  int32_t visited = 0;
  if (TryStep([&] { netRoster->MoveFirst(); })) {
    while (!netRoster->Eof()) {
      TryStep([&] { MergeUser(path, prefix, *netRoster, group); });
      if (!TryStep([&] { netRoster->MoveNext(); })) break;
      ++visited;
      if (status) status->SetFilePercent(num::ProgressPercent(visited, slots));
      merge::Yield(status);
    }
  }

  TryStep([&] { netRoster->Close(); });
  TryStep([&] { netDb->Close(); });
  group.Close();
}

void Merge::MergeUser(const std::string& path, const std::string& prefix, db::Recordset& netRoster,
                      GroupFile& group) {
  MemberRow row;
  row.lastName = netRoster.Get("Last_Name");
  if (IsUnassigned(row.lastName)) return;
  row.firstName = netRoster.Get("First_Name");
  row.middleInit = netRoster.Get("Middle_Init");

  const db::Value subDir = netRoster.Get("Sub_Dir");
  const std::string subText = subDir.IsText() ? subDir.AsText() : std::string();
  const std::string oldName(text::FirstChars(subText, 8));
  if (!merge::IsPlainName(subText) || !merge::IsPlainName(oldName) || merge::HasParentComponent(subText)) {
    merge::Say(status, "Merging: network '" + Shown(path) + "': user with Sub_Dir " + subDir.Describe() +
                           " skipped: not a user directory name");
    return;
  }

  ++n;
  const std::string newName = "PX" + num::ZeroPadded(n, "000000");
  const std::string bucket = ThousandFolderName(n);
  if (!bucket.empty()) TryStep([&] { fs::MakeDirectory(ctx.NetworkDir + bucket); });
  row.subDir = newName + ".DIR";
  row.userId = prefix + std::string(text::SliceAt(oldName, 3));

  if (!TryStep([&] {
        roster.AddNew();
        merge::Yield(status);
        roster.Set("Last_Name", row.lastName);
        roster.Set("First_Name", row.firstName);
        roster.Set("Middle_Init", row.middleInit);
        roster.Set("Sub_Dir", row.subDir);
        roster.Set("User_Id", row.userId);
        roster.Update();
      }))
    TryStep([&] { roster.CancelUpdate(); });

  AddMember(everyone, row);
  AddMember(group, row);

  const std::string newDir = UserDirPath(ctx.NetworkDir, n);
  TryStep([&] { fs::MakeDirectory(newDir); });
  const std::string oldDir = path + oldName + ".DIR";
  if (merge::IsSymlink(oldDir))
    merge::Say(status, "Merging: user directory '" + Shown(oldDir) + "' not copied: it is a symbolic link, and links are "
                                                              "not followed; put the folder itself in its place and "
                                                              "merge again");
  else
    CopyUserFiles(status, oldDir, newDir);
}

}  // namespace

void MergeNetworks(RunContext& ctx) {
  const std::size_t count = std::min<std::size_t>(
      static_cast<std::size_t>(std::max<int>(ctx.NetworkCount, 0)), ctx.NetworkPaths.size());
  CheckBeforeClearing(ctx, count);

  Status* status = ctx.status;
  const std::string masterFile = ctx.NetworkDir + "MASTER.MDB";
  GroupFile everyone;
  std::unique_ptr<db::Recordset> roster;
  ctx.Db.reset();
  try {
    ClearNetworkDirectory(ctx, ctx.NetworkDir);
    // A consistent copy: rows the console committed into its log are taken too.
    db::Database::Copy(fs::RealPath(ctx.NetworkPaths[0] + "MASTER.MDB"), fs::RealPath(masterFile));
    CreateGroupFile(ctx, "Everyone.grp");
    ctx.Db = db::Database::Open(fs::RealPath(masterFile));
    everyone.db = db::Database::Open(fs::RealPath(ctx.NetworkDir + "Everyone.grp"));
    ctx.SqlText = "DELETE FROM Users WHERE Sub_Dir > 'PX000000.DIR'";
    ctx.Db->Execute(ctx.SqlText);
    ctx.SqlText = "SELECT * FROM Users";
    roster = ctx.Db->OpenRecordset(ctx.SqlText);
    everyone.rs = everyone.db->OpenRecordset("SELECT * FROM Members");
  } catch (const Error& e) {
    roster.reset();
    everyone.Close();
    if (ctx.Db) TryStep([&] { ctx.Db->Close(); });
    ctx.Db.reset();
    throw e.WithContext("network directory '" + Shown(ctx.NetworkDir) + "'");
  }
  merge::Yield(status);

  // From here every failing step is passed over and the merge goes on.
  Merge m{ctx, status, *roster, everyone};
  for (std::size_t i = 0; i < count; ++i) TryStep([&] { m.MergeNetwork(i, count); });

  TryStep([&] { roster->Close(); });
  roster.reset();
  TryStep([&] { ctx.Db->Close(); });
  ctx.Db.reset();
  everyone.Close();
  ctx.UserSlotCount = m.n;
}

}  // namespace prax

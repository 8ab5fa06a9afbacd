#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/journal_guard.h"
#include "store/roster_store.h"
#include "logs/user_dir.h"
#include "roster/roster_operations.h"
#include "roster/merge_paths.h"
#include "roster/user_slot_count.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "platform/numbers.h"

namespace prax {

namespace {

namespace stdfs = std::filesystem;

bool IsUnassigned(const std::optional<std::string>& lastName) {
  return lastName && text::EqualsIgnoreCase(text::Trim(*lastName), store::kUnassignedLastName);
}

std::string Shown(std::string_view pathText) { return fs::ForDisplay(pathText); }

Error Refusal(const RunContext& run, const std::string& why) {
  return Error(err::kInvalidCall, "refused for the network directory '" + Shown(run.NetworkDir) + "': " + why +
                                      ". Correct Networks.Lst and run again; nothing was deleted.", Cause::kData);
}

// The checks made before the network directory is emptied. Directories are
// compared by identity, so a listed path that reaches the network directory
// through a link, a bind mount, another share or a ".." component is caught
// like its own name. A network that contains the network directory, or lies
// in a folder of it that the clearing leaves in place, is merged like any other.
void CheckBeforeClearing(const RunContext& run, std::size_t count) {
  if (count == 0) throw Refusal(run, "Networks.Lst lists no network");
  const std::string& first = run.NetworkPaths[0];
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& path = run.NetworkPaths[i];
    const std::string named = "the network path '" + Shown(path) + "' ";
    switch (fs::PlaceDirectory(path, run.NetworkDir)) {
      case fs::Placement::kSame:
        throw Refusal(run, named + "is the network directory itself");
      case fs::Placement::kInside: {
        // A network in a folder of its own there is left alone by the clearing.
        const std::string entry = fs::EntryHolding(path, run.NetworkDir);
        if (merge::ClearingEmpties(entry))
          throw Refusal(run, named + "lies in '" + Shown(run.NetworkDir + entry) +
                                 "' of the network directory, which the merge empties and fills with merged users");
        break;
      }
      case fs::Placement::kContains:
      case fs::Placement::kApart:
        break;
    }
  }
  const std::string master = first + "MASTER.MDB";
  if (!fs::Exists(master, true) || fs::IsDirectory(master))
    throw Refusal(run, "the first network has no Master database '" + Shown(master) + "'");
  // It is copied only after the clearing: a link or FIFO in its place must stop the merge now.
  if (!TryStep([&] { fs::RequirePlainFile(master); }))
    throw Refusal(run, "the first network's Master database '" + Shown(master) +
                           "' is a symbolic link or not a plain file; put the file itself in its place");
  // So must a journal beside it that no command of ours left there.
  db::CheckFolderJournals(first, {"MASTER.MDB"});
}

// A group file being written; a member it refuses is passed over.
struct Group {
  std::unique_ptr<store::GroupFile> file;

  void Open(const std::string& pathText) { file = store::GroupFile::Open(fs::RealPath(pathText)); }
  void Add(const store::RosterRow& row) {
    if (file) TryStep([&] { file->AppendMember(row); });
  }
  void Close() {
    if (file) TryStep([&] { file->Close(); });
    file.reset();
  }
};

// Copies the regular files of one user directory (links and folders are not
// followed), each keeping its modification time.
void CopyUserFiles(Status* status, const std::string& fromDir, const std::string& toDir) {
  for (const fs::DirEntry& e : fs::List(fromDir)) {
    if (e.isDirectory) continue;
    const std::string from = fromDir + "\\" + e.name;
    if (fs::KindOfEntry(fs::RealPath(from)) != fs::EntryKind::kFile) {
      merge::PassOver(status, "Merging: '" + Shown(from) + "' not copied: it is a symbolic link or not a plain "
                              "file; put the file itself in its place and merge again");
      continue;
    }
    TryStep(status, "log file", [&] { fs::CopyFile(from, toDir + "\\" + e.name); });
  }
}

// Makes a merged user's directory and empties it of anything an earlier
// network left (links are deleted, not followed): false when a file stays.
// A folder inside is never read as the user's logs; it stays, named.
bool EmptyUserDir(Status* status, const std::string& dir) {
  TryStep(status, "user directory", [&] { fs::MakeDirectory(dir); });
  bool empty = true;
  for (const fs::DirEntry& e : fs::List(dir)) {
    const std::string entry = dir + "\\" + e.name;
    if (e.isDirectory && !e.isSymlink) {
      merge::PassOver(status, "Merging: folder '" + Shown(entry) + "' is not a log file; left in place");
      continue;
    }
    try {
      if (e.isSymlink) merge::RemoveLink(entry);
      else fs::DeleteFile(entry);
    } catch (const Error&) {
      empty = false;
    }
  }
  return empty;
}

// The merge state that runs on across networks.
struct Merge {
  const RunContext& run;
  Status* status;
  store::Roster& roster;  // the merged roster
  Group& everyone;
  int32_t n = 0;  // sequence number of the last merged user

  void MergeNetwork(std::size_t i, std::size_t count);
  void MergeUser(const std::string& path, const std::string& prefix, store::RosterRow row, Group& group);
};

void Merge::MergeNetwork(std::size_t i, std::size_t count) {
  const std::string& path = run.NetworkPaths[i];
  const std::string prefix = i < run.NetworkPrefixes.size() ? run.NetworkPrefixes[i] : std::string();
  const std::string name = i < run.NetworkNames.size() ? run.NetworkNames[i] : std::string();

  merge::Say(status, "Merging: " + Shown(path));
  if (status) status->SetUserPercent(num::ProgressPercent(static_cast<double>(i), static_cast<double>(count)));
  merge::Yield(status);
  // The roster is read once, waiting within the busy timeout for a program
  // that holds it; one that still cannot be read (locked, damaged) leaves the
  // network out, named, and the merge goes on with the next.
  std::optional<std::string> unreadable;
  auto leftOut = [&](const Error& e) {
    unreadable = e.Environment() ? std::string("another program holds it locked, or the file or its folder is unreadable")
                                 : std::string(e.what());
  };
  int32_t slots = 0;
  try {
    slots = UserSlotCount(path, status);
  } catch (const Error& e) {
    leftOut(e);
  }

  const std::string groupName = name + ".Grp";
  bool groupOk = merge::IsPlainName(name) && !text::EqualsIgnoreCase(groupName, "Everyone.grp");
  if (!groupOk)
    merge::PassOver(status, "Merging: network '" + Shown(path) + "' has no usable group name ('" + name +
                                "'); its group file is not written");
  else
    groupOk = TryStep(status, "group file", [&] { CreateGroupFile(run, groupName); });

  // Every row in Sub_Dir order; rows of unassigned slots are passed by below.
  std::vector<store::RosterRow> users;
  if (!unreadable) {
    try {
      auto netRoster = store::Roster::Open(fs::RealPath(path + "MASTER.MDB"), db::Access::ReadOnly);
      users = netRoster->UsersBySubDir();
      TryStep(status, "MASTER.MDB", [&] { netRoster->Close(); });
    } catch (const Error& e) {
      leftOut(e);
    }
  }
  if (unreadable) {
    merge::PassOver(status, "Merging: network '" + Shown(path) + "' left out, its Master database '" +
                                Shown(path + "MASTER.MDB") + "' cannot be read (" + *unreadable +
                                "); merge again once it can be read");
    return;
  }
  merge::Yield(status);

  Group group;
  if (groupOk && !TryStep(status, "group file", [&] { group.Open(run.NetworkDir + groupName); })) group.Close();

  int32_t visited = 0;
  for (store::RosterRow& row : users) {
    TryStep(status, "MASTER.MDB", [&] { MergeUser(path, prefix, std::move(row), group); });
    ++visited;
    if (status) status->SetFilePercent(num::ProgressPercent(visited, slots));
    merge::Yield(status);
  }
  group.Close();
}

void Merge::MergeUser(const std::string& path, const std::string& prefix, store::RosterRow row, Group& group) {
  if (IsUnassigned(row.lastName)) return;
  const std::string subText = row.subDir.value_or(std::string());
  const std::string oldName(text::FirstChars(subText, 8));
  if (!merge::IsPlainName(subText) || !merge::IsPlainName(oldName) || merge::HasParentComponent(subText)) {
    merge::PassOver(status, "Merging: network '" + Shown(path) + "': user with Sub_Dir " +
                                (row.subDir ? "\"" + *row.subDir + "\"" : std::string("Null")) +
                                " skipped: not a user directory name");
    return;
  }

  ++n;
  const std::string newName = "PX" + num::ZeroPadded(n, "000000");
  const std::string bucket = ThousandFolderName(n);
  if (!bucket.empty()) TryStep(status, "thousand folder", [&] { fs::MakeDirectory(run.NetworkDir + bucket); });
  const std::string newDir = UserDirPath(run.NetworkDir, n);
  if (!EmptyUserDir(status, newDir)) {
    merge::PassOver(status, "Merging: network '" + Shown(path) + "': user " + subText + " not merged: the user "
                                "directory '" + Shown(newDir) + "' holds files that cannot be deleted; delete them "
                                "and merge again");
    --n;
    return;
  }
  row.subDir = newName + ".DIR";
  row.userId = prefix + std::string(text::SliceAt(oldName, 3));

  merge::Yield(status);
  TryStep(status, "MASTER.MDB", [&] { roster.AppendUser(row); });
  everyone.Add(row);
  group.Add(row);

  const std::string oldDir = path + oldName + ".DIR";
  if (fs::IsSymlink(oldDir))
    merge::PassOver(status, "Merging: user directory '" + Shown(oldDir) + "' not copied: it is a symbolic link, "
                                "and links are not followed; put the folder itself in its place and merge again");
  else
    CopyUserFiles(status, oldDir, newDir);
}

}  // namespace

int32_t MergeNetworks(const RunContext& run, Status* status) {
  const std::size_t count = std::min<std::size_t>(
      static_cast<std::size_t>(std::max<int>(run.NetworkCount, 0)), run.NetworkPaths.size());
  CheckBeforeClearing(run, count);

  const std::string masterFile = run.NetworkDir + "MASTER.MDB";
  Group everyone;
  std::unique_ptr<store::Roster> roster;
  try {
    ClearNetworkDirectory(status, run.NetworkDir);
    // A consistent copy: rows the console committed into its log are taken too.
    db::SqliteFile::Copy(fs::RealPath(run.NetworkPaths[0] + "MASTER.MDB"), fs::RealPath(masterFile));
    CreateGroupFile(run, "Everyone.grp");
    roster = store::Roster::Open(fs::RealPath(masterFile));
    everyone.Open(run.NetworkDir + "Everyone.grp");
    roster->RemoveNumberedUsers();
  } catch (const Error& e) {
    everyone.Close();
    if (roster) TryStep(status, "MASTER.MDB", [&] { roster->Close(); });
    throw e.WithContext("network directory '" + Shown(run.NetworkDir) + "'");
  }
  merge::Yield(status);

  // From here every failing step is passed over and the merge goes on.
  Merge m{run, status, *roster, everyone};
  for (std::size_t i = 0; i < count; ++i) {
    try {
      m.MergeNetwork(i, count);
    } catch (const Error& e) {
      merge::PassOver(status, "Merging: network '" + Shown(run.NetworkPaths[i]) + "' not merged in full: " + e.what());
    }
  }

  TryStep(status, "MASTER.MDB", [&] { roster->Close(); });
  everyone.Close();
  return m.n;
}

}  // namespace prax

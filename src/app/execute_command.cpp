#include "app/execute_command.h"

#include <cstdint>
#include <optional>
#include <string>

#include "app/startup.h"
#include "command/status.h"
#include "store/sqlite_file.h"
#include "load/history_location.h"
#include "roster/roster_operations.h"
#include "roster/user_slot_count.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "platform/listio.h"
#include "platform/numbers.h"
#include "store/journal_guard.h"

namespace prax {

namespace {

// Runs one operation of the command; an Error it raises goes on with the
// operation named in front of its message.
template <class F>
void Step(const char* operation, F&& f) {
  try {
    std::forward<F>(f)();
  } catch (const Error& e) {
    throw e.WithContext(operation);
  }
}

// The same for a step whose database may be missing, damaged or foreign: the
// administrator is also told how this file in particular is put right.
struct FileAdvice {
  std::string_view missing;   // Error 3024
  std::string_view replaced;  // Error 3343
};

template <class F>
void DatabaseStep(const char* operation, const FileAdvice& advice, F&& f) {
  try {
    std::forward<F>(f)();
  } catch (const Error& e) {
    std::string_view more;
    if (e.Kind() == err::kCannotFindFile) more = advice.missing;
    if (e.Kind() == err::kUnrecognizedFormat) more = advice.replaced;
    if (more.empty()) throw e.WithContext(operation);
    throw Error(e.Kind(), std::string(operation) + ": " + e.what() + " " + std::string(more), e.Origin());
  }
}

constexpr FileAdvice kMasterAdvice{
    "Check that NETDIR in PXNET.INI names the network directory and that it can be reached; if MASTER.MDB was "
    "lost, restore it from a backup. Then run the command again.",
    "MASTER.MDB is the roster the console keeps and this program cannot make a new one: restore it from a "
    "backup, then run the command again."};
constexpr FileAdvice kHistoryAdvice{
    "Create the History database first (praxload --fresh, or \"create a fresh database\" in the window), or "
    "check that NETDIR in PXNET.INI names the right network directory.",
    "Or move PRAXDATA.MDB aside and create a fresh History database (praxload --fresh, or \"create a fresh "
    "database\" in the window): every log still in the user directories is then loaded again."};

void ShowAllDone(Status& status) {
  status.SetFilePercent(100);
  status.SetUserPercent(100);
}

}  // namespace

void PrepareCommand(RunContext& ctx, const WindowChoices& choices) {
  ctx.NetworkDir = ReadNetworkDir(ctx);
  if (!choices.onlyCreate) ctx.UserSlotCount = UserSlotCount(ctx.NetworkDir);
}

std::optional<std::string> RangeMessage(const WindowChoices& choices) {
  if (choices.universe != Universe::kRange) return std::nullopt;
  const double start = num::LeadingNumber(choices.startText);
  const double end = num::LeadingNumber(choices.endText);
  if (start < 1) {
    return "You have selected a starting record number of less than 1.  Please change the starting "
           "record number and try again.";
  }
  if (end < 1) {
    return "You have selected an ending record number of less than 1.  Please change the ending "
           "record number and try again.";
  }
  if (end < start) {
    return "You have selected a starting record number greater than the ending record number.  "
           "Please change the either number and try again.";
  }
  // User numbers of a range are 16-bit; CInt rounds halves to even, so
  // 32767.5 still reads 32768.
  if (end >= 32767.5) {
    return "You have selected a record number greater than 32767.  Please change the range and try "
           "again.";
  }
  return std::nullopt;
}

namespace {

// The configuration of one command, built whole at its start: the network
// directory read again, where the History database lives, and the error keys
// worked out anew for a fresh database.
RunContext CommandContext(const RunContext& base, bool fresh) {
  RunContext ctx = base;
  ctx.NetworkDir = ReadNetworkDir(ctx);
  const HistoryConfig history = ReadUsableHistoryConfig(ctx);
  ctx.HistoryServer = history.server;
  ctx.HistoryTimeout = history.timeout;
  ctx.RecomputeErrorKeys = base.RecomputeErrorKeys || fresh;
  ctx.FreshHistory = fresh;
  return ctx;
}

// The same with the user slots the Master database work and the load cover.
RunContext WithUserSlots(const RunContext& ctx, int32_t slots) {
  RunContext run = ctx;
  run.UserSlotCount = slots;
  return run;
}

}  // namespace

ExecuteResult RunExecute(const RunContext& base, Status& status, const WindowChoices& choices) {
  ExecuteResult result;
  const bool fresh = choices.creationRule == CreationRule::kCreateFresh;
  const bool multiple = choices.universe == Universe::kMultipleNetworks;

  status.SetRunning(true);
  status.Summary() = RunSummary{};  // what this command does, not the commands before it
  const RunContext ctx = CommandContext(base, fresh);
  if (!ctx.ProgramDir.empty()) status.KeepRunLog(ctx.ProgramFile("PRAXLOAD.LOG"));
  if (!ctx.ProgramDir.empty()) status.KeepRejects(ctx.ProgramFile("PRAXLOAD.REJECTS"), ctx.KeepRejects);
  const int passedOverBefore = status.PassedOverCount();

  // When, and into which database: the connection string holds no password
  // (one that does is refused when PXNET.INI is read).
  RunSummary& summary = status.Summary();
  summary.started = dt::NowIso();
  summary.engine = ctx.HistoryServer.empty() ? "sqlite" : "postgresql";
  summary.database = ctx.HistoryServer.empty()
                         ? fs::ForDisplay(fs::ToText(fs::RealPath(ctx.NetworkDir + "PRAXDATA.MDB")))
                         : ctx.HistoryServer;
  // The end is stamped however the command ends, a failure too.
  struct StampEnd {
    RunSummary& s;
    ~StampEnd() { s.ended = dt::NowIso(); }
  } stampEnd{summary};
  // A merge numbers its users 1..n: n is the universe of the load, even where
  // a merged user's roster row was refused but the directory was filled.
  std::optional<int32_t> merged;
  if (multiple) {
    if (fresh) {
      status.MarkPhase("Creating from multiple networks, Start");
      Step("Merging the networks of Networks.Lst", [&] { merged = MergeNetworks(ctx, &status); });
    } else {
      status.MarkPhase("Updating from multiple networks, Start");
    }
  }
  if (fresh) {
    status.MarkPhase("Creating, Start");
    Step("Creating the history database", [&] { CreateHistoryDatabase(ctx, status); });
  }

  // Only Create leaves MASTER.MDB alone: not even read.
  if (choices.onlyCreate) {
    ShowAllDone(status);
    status.SetStatus("Database Created.");
    status.SetRunning(false);
    status.EndBusy();
    result.onlyCreated = true;
    return result;
  }

  int32_t slots = 0;
  if (merged) {
    slots = *merged;
    // User numbers are 16-bit: merged users beyond 32767 cannot be loaded.
    if (*merged > INT16_MAX) {
      status.PassedOver("user number beyond 32767", fs::ForDisplay(ctx.NetworkDir), "    Skipped: merged users 32768 to " + std::to_string(*merged) +
                        " of the network directory " + fs::ForDisplay(ctx.NetworkDir) +
                        ": user numbers beyond 32767 cannot be loaded. Merge fewer networks.");
      slots = INT16_MAX;
    }
  } else {
    DatabaseStep("Reading the roster", kMasterAdvice, [&] { slots = UserSlotCount(ctx.NetworkDir, &status); });
  }
  const RunContext run = WithUserSlots(ctx, slots);

  status.SetStatus("Altering Master database.");
  DatabaseStep("Altering Master database", kMasterAdvice, [&] { UpgradeMasterSchema(run, &status); });
  if (choices.masterImport == MasterImport::kTicked) {
    status.SetStatus("Updating Master database.");
    DatabaseStep("Importing UserDefs.Prn", kMasterAdvice, [&] { ImportUserDefs(run, &status); });
  }

  DatabaseStep("Loading", kHistoryAdvice, [&] {
    int16_t first = 1, last = 0;
    if (choices.universe == Universe::kRange) {
      first = num::RoundToInt16(num::LeadingNumber(choices.startText));
      last = num::RoundToInt16(num::LeadingNumber(choices.endText));
    } else {
      last = num::RoundToInt16(run.UserSlotCount);
    }
    result.summary = RunLoadJob(run, status, first, last);
  });

  result.summary.filesSkipped = status.PassedOverCount() - passedOverBefore;
  ShowAllDone(status);
  // A full list is said at the end too: the window shows the last status.
  const std::string full = ListsFullText(result.summary);
  status.SetStatus(full.empty() ? std::string("Database Updated.") : "Database Updated. " + full + ".");
  status.Record("Database Updated." + SkippedText(result.summary.filesSkipped) + (full.empty() ? "" : "; " + full));
  status.SetRunning(false);
  status.EndBusy();

  Step("Writing UPDATED.DAT", [&] { WriteUpdatedDat(run); });
  return result;
}

std::string SkippedText(int files) {
  if (files == 0) return {};
  std::string text = num::SpacedNumberText(files);
  text += files == 1 ? " file skipped" : " files skipped";
  return text;
}

void FailCommand(Status& status, const Error& e) {
  status.Record(DescribeError(e));
  status.SetStatus(DescribeError(e));
  status.SetRunning(false);
  status.EndBusy();
}

std::string DescribeError(const Error& e) { return "Error " + std::to_string(e.Number()) + ": " + e.what(); }

std::string UpdatedDatBytes(std::string_view generalDate) {
  ListWriter out;
  out.Line({"        DB Updated Last: " + std::string(generalDate)});
  return out.Bytes();
}

void WriteUpdatedDat(const RunContext& ctx) {
  fs::WriteFile(ctx.NetworkDir + "UPDATED.DAT", UpdatedDatBytes(dt::NowGeneralDate()));
  fs::WriteFile(ctx.ProgramFile("UPDATED.DAT"), UpdatedDatBytes(dt::NowGeneralDate()));
}

namespace {

std::optional<std::string> MissingNetworkDir(const RunContext& ctx, const std::string& networkDir) {
  if (fs::IsDirectory(networkDir)) return std::nullopt;
  const std::string ini = fs::ForDisplay(ctx.ProfileFile());
  return "The network directory '" + fs::ForDisplay(networkDir) +
         "' does not exist or is not a folder. It is NETDIR in section [MAIN] of '" + ini +
         "' (INIPATH.TXT in the program folder says where that PXNET.INI is): correct it there or make the folder "
         "reachable, then run the command again. Nothing was changed.";
}

}  // namespace

std::optional<std::string> NetworkDirMessage(const RunContext& ctx) {
  if (auto message = MissingNetworkDir(ctx, ctx.NetworkDir)) return message;
  return ReadHistoryConfig(ctx).problem;
}

std::unique_ptr<CommandLock> TakeRunLock(const RunContext& ctx, Status& status) {
  const std::string networkDir = ReadNetworkDir(ctx);
  if (auto message = MissingNetworkDir(ctx, networkDir)) throw Error(err::kPathNotFound, *message, Cause::kData);
  auto lock = std::make_unique<CommandLock>();
  lock->networkDir = std::make_unique<RunLock>(networkDir, ctx.LockStaleSeconds);
  // Journals beside the databases that no command of ours left refuse the
  // command before anything is written.
  std::vector<std::string> databases = {"MASTER.MDB"};
  if (ReadHistoryServer(ctx).empty()) databases.push_back("PRAXDATA.MDB");
  for (const fs::DirEntry& e : fs::List(networkDir, "*.grp"))
    if (!e.isDirectory) databases.push_back(e.name);
  db::CheckFolderJournals(networkDir, databases);
  std::vector<std::string> notices = lock->networkDir->Notices();
  // The folder classed as a share for the journal choice is one whose OS
  // locks other machines may not see.
  if (!db::SqliteFile::WalWhereLocal(fs::RealPath(networkDir + "PRAXDATA.MDB"))) {
    std::string record = networkDir;
    record += kRunRecordFileName;
    std::string notice = "The network directory '";
    notice += fs::ForDisplay(networkDir);
    notice += "' is on a network file system: this machine cannot tell whether other machines see its file locks. "
              "Other PraxServer commands are kept out by the lock record '";
    notice += fs::ForDisplay(record);
    notice += "'; a program on another machine may read PRAXDATA.MDB during a load only where the share passes "
              "byte-range locks (SMB with them, NFS with its lock manager; not sshfs).";
    notices.push_back(std::move(notice));
  }
  if (!ctx.ProgramDir.empty() && !notices.empty()) status.KeepRunLog(ctx.ProgramFile("PRAXLOAD.LOG"));
  for (const std::string& notice : notices) {
    status.SetStatus(notice);
    status.Record(notice);
  }
  if (const HistoryConfig history = ReadUsableHistoryConfig(ctx); !history.server.empty()) {
    lock->server =
        std::make_unique<store::PgLoaderLock>(history.server, "PraxServer " + CommandHolder(), history.timeout);
  }
  return lock;
}

}  // namespace prax

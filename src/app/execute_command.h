#pragma once
// The Execute command without its window: the range checks, the confirmation
// text, and the run itself (merge, creation, master database work, load job
// and UPDATED.DAT) in the order the run modes require.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "command/run_context.h"
#include "app/settings.h"
#include "load/run_load_job.h"
#include "platform/error.h"
#include "platform/run_lock.h"
#include "command/status.h"
#include "store/pg_history_store.h"

namespace prax {

// Title of the program's message boxes.
inline constexpr std::string_view kProgramTitle = "PraxServer";

// The confirmation asked before a fresh History database replaces the
// current one (Yes/No, critical icon).
inline constexpr std::string_view kConfirmText =
    "You have selected to create a new database.  This will erase the current database, if one "
    "exists.\r\rDo you wish to proceeed?";

// Re-reads the network directory and the user-slot count at the start of a
// press: ctx.NetworkDir = ReadNetworkDir, ctx.UserSlotCount from its roster
// (not read for Only Create, which does no roster work).
void PrepareCommand(RunContext& ctx, const WindowChoices& choices);

// The range checks of a press: with the range universe (1) selected, the
// message of the first check that fails (start below 1, end below 1, end
// below start, a number above 32767); nullopt when the range is acceptable
// or another universe is selected. The texts are read by their leading
// number (text without one reads 0).
std::optional<std::string> RangeMessage(const WindowChoices& choices);

struct ExecuteResult {
  bool onlyCreated = false;  // the command stopped after creating ("Only Create")
  LoadSummary summary;       // what the load job did (empty when onlyCreated)
};

// Runs a confirmed command: Running is set, the network directory re-read,
// then, as the universe and creation rule require, the networks merged, the
// History database created, and (unless Only Create, which neither reads nor
// changes MASTER.MDB) the Master database altered, UserDefs.Prn imported when
// the Master import is ticked, the load job run over the users the merge made
// (else the roster's user slots) and UPDATED.DAT written in NetworkDir and in the program folder. At the end
// both percentages are 100, the status reads "Database Created." or
// "Database Updated.", Running is false and the busy state ended. A failure
// propagates as Error with the operation named in front of its message
// ("Creating the history database: ..."); nothing written is undone and
// Running stays set (see FailCommand).
ExecuteResult RunExecute(const RunContext& base, Status& status, const WindowChoices& choices);

// Why a command cannot run on ctx.NetworkDir: it does not exist or is not a
// folder (the message names it and the PXNET.INI it came from), or the
// section HISTORY of that PXNET.INI cannot be used (ReadHistoryConfig);
// nullopt when the command may run. Checked before anything is written.
std::optional<std::string> NetworkDirMessage(const RunContext& ctx);

// What a command holds while it runs: the lock of the network directory,
// and with a History server, the loaders' lock on that server too (two
// network directories may load into one server).
struct CommandLock {
  std::unique_ptr<RunLock> networkDir;
  std::unique_ptr<store::PgLoaderLock> server;
};

// Takes the one-command-at-a-time locks for a command; the merge that
// empties the network directory leaves the lock files in place. Throws Error
// naming the holder when another command holds a lock, and
// NetworkDirMessage when the command cannot run. A lock record taken over,
// and a network directory whose OS locks other machines may not see, are
// said on the status line and in the run log.
std::unique_ptr<CommandLock> TakeRunLock(const RunContext& ctx, Status& status);

// Shows a failure that ended a command: the status line reads "Status: " and
// DescribeError(e); Running is cleared and the busy state ended.
void FailCommand(Status& status, const Error& e);

// " 3 files skipped" for the items a run passed over (" 1 file skipped";
// empty for none).
std::string SkippedText(int files);

// "Error <number>: <message>" as shown in the message box and status line.
std::string DescribeError(const Error& e);

// The one line of UPDATED.DAT for a date text:
// "\"        DB Updated Last: <date>\"\r\n".
std::string UpdatedDatBytes(std::string_view generalDate);

// Writes UPDATED.DAT first as NetworkDir & "UPDATED.DAT", then in the program
// folder, taking the current date and time afresh for each.
void WriteUpdatedDat(const RunContext& ctx);

}  // namespace prax

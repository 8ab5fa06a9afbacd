#pragma once
// The headless runner's choices and summary: the options of one praxload
// run laid over the choices the window would restore, and the closing line.

#include <optional>
#include <string>
#include <vector>

#include "app/execute_command.h"
#include "command/run_context.h"
#include "command/run_summary.h"
#include "app/settings.h"

namespace prax {

// What the command line asked for; unset items keep the restored choice.
struct LoadOptions {
  std::optional<Universe> universe;  // --full, --range, --networks
  std::string rangeFrom, rangeTo;  // --range FROM TO, as typed
  bool fresh = false;              // --fresh: create a fresh History database
  std::optional<bool> master;      // --master / --no-master
  bool onlyCreate = false;         // --only-create
};

// The choices of the run: the window's restore of PXSERVER.SET (without the
// file: full universe, update existing, no import), then the options. The
// window's design selects create fresh; a headless run never does so unless
// told, so the starting creation rule here is update existing.
WindowChoices ResolveChoices(const RunContext& ctx, const LoadOptions& options);

// The last line of a run: users processed, days loaded per pass, rows added
// per table and the elapsed seconds.
std::string SummaryText(const ExecuteResult& result, double seconds);

// What a run did, as praxload prints it at its end and the window shows it
// under its progress bars: when, which database, a table of the passes (logs
// read, days loaded, rows added, lines rejected, seconds) and one of the
// tables (rows added, lines rejected and their reasons), the files passed
// over grouped by reason (kPassedOverShown paths of each, then "and N more"),
// where rejected lines are kept, and every warning. Columns are aligned and
// the lines fit in 100 columns except for long names and paths.
std::vector<std::string> RunSummaryLines(const RunSummary& summary);
inline constexpr std::size_t kPassedOverShown = 20;

// Moves a site onto its History server: copies the network directory's
// PRAXDATA.MDB into the server that section HISTORY of PXNET.INI names
// (store::CopyHistoryToPg) and returns the line that says what was copied.
// Throws Error when the server's tables already hold rows (kTableExists) or
// when the copy fails; the file is never changed.
std::string CopyHistoryToServer(const RunContext& ctx);

}  // namespace prax

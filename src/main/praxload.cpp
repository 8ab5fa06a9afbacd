// praxload: the Execute command of the window, headless, for scheduled and
// unattended runs.
//
//   praxload [--program-dir DIR] [--full | --range FROM TO | --networks] [--fresh] [--yes]
//            [--master | --no-master] [--only-create] [--quiet] [--include-today]
//            [--recompute-error-keys] [--keep-rejects N] [--summary FILE] [--report FILE | --no-report]
//   praxload [--program-dir DIR] --copy-history-to-server
//   praxload [--program-dir DIR] --dry-run [--full | --range FROM TO | --networks] [--include-today]
//
// Lines of files passed over, skipped or unreadable go to standard error
// (with --quiet too) and to PRAXLOAD.LOG in the program folder; the lines
// of logs that failed their step to PRAXLOAD.REJECTS beside it.
//
// Exit status: 0 the command finished; 2 refused before anything changed
// (range message, missing network directory, unconfirmed --fresh, bad
// options, another command holding the network, a journal beside a database
// that no command of this program left, a link or FIFO at the lock file); 1
// a failure ended the command; 3 the program folder does not exist. With
// --dry-run: 0 a run could go ahead, 2 a run would be refused, 1 a check
// failed.
//
// Every run once its options are read writes the JSON summary to the file of
// --summary (a refusal and a failure too, with their exit status), and every
// run of the command (not a refusal) writes the HTML run report PRAXLOAD.html
// in the program folder (--report FILE elsewhere, --no-report none). Neither
// changes the exit status: a file that cannot be written is said on
// standard error.
//
// The program folder is the executable's own, or /var/lib/praxserver when it
// is installed in /usr/bin (app/program_folder.h); --program-dir wins.

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#ifdef _WIN32
#include <io.h>
#define PRAX_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define PRAX_ISATTY(fd) isatty(fd)
#endif

#include "app/dry_run.h"
#include "app/execute_command.h"
#include "app/praxload_console.h"
#include "app/praxload_run.h"
#include "app/program_folder.h"
#include "app/run_report.h"
#include "command/run_context.h"
#include "app/settings.h"
#include "app/startup.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/run_lock.h"
#include "platform/text.h"
#include "program_info.h"

namespace {

constexpr int kFinished = 0;
constexpr int kFailed = 1;
constexpr int kRefused = 2;
constexpr int kNoProgramFolder = 3;

constexpr const char* kFooter = R"(Exit status: 0 finished; 1 a failure ended the command (message on standard error);
2 refused before anything changed; 3 the program folder does not exist.
With --dry-run: 0 a run could go ahead; 2 a run would be refused; 1 a check failed.
--full, --range and --networks exclude each other, as do --master and --no-master.

Examples:
  praxload --full --fresh --yes --master   create PRAXDATA.MDB afresh and load every user
  praxload --quiet                         load the days not loaded yet (the nightly run))";

// One line on the console; the names in it show their control characters
// as escapes, so a line never splits or redraws the terminal.
void PrintLine(std::ostream& out, std::string_view line) {
  out << prax::text::Visible(line) << '\n' << std::flush;
}

// The confirmation as a terminal shows it: the message box's line breaks
// become new lines.
std::string ConfirmPrompt() {
  std::string text;
  for (char c : prax::kConfirmText) text += (c == '\r') ? '\n' : c;
  return text + " [y/N] ";
}

bool AskYes() {
  std::cout << ConfirmPrompt() << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

}  // namespace

int main(int argc, char** argv) {
  const auto t0 = std::chrono::steady_clock::now();
  CLI::App app{"Loads the users' Alert and Activity logs into PRAXDATA.MDB, as the window's Execute button does."};
  app.name("praxload");
  prax::program::SetUp(app, "praxload", kFooter);
  std::string programDir;
  prax::LoadOptions options;
  bool full = false, networks = false, yes = false, master = false, noMaster = false, quiet = false;
  std::vector<std::string> range;
  app.add_option("--program-dir", programDir, "program folder (default: the folder of this executable, or /var/lib/praxserver when installed)")
      ->type_name("DIR");
  auto* fullOpt = app.add_flag("--full", full, "all user slots");
  auto* rangeOpt = app.add_option("--range", range, "user numbers FROM TO")->expected(2)->allow_extra_args(false)->option_text("FROM TO");
  auto* networksOpt = app.add_flag("--networks", networks, "the networks of Networks.Lst");
  fullOpt->excludes(rangeOpt)->excludes(networksOpt);
  rangeOpt->excludes(networksOpt);
  auto* freshOpt = app.add_flag("--fresh", options.fresh, "create a fresh PRAXDATA.MDB (erases the current one)");
  app.add_flag("--yes", yes, "confirm --fresh without asking");
  auto* masterOpt = app.add_flag("--master", master, "update the Master database with UserDefs.Prn");
  auto* noMasterOpt = app.add_flag("--no-master", noMaster, "do not import UserDefs.Prn");
  masterOpt->excludes(noMasterOpt);
  auto* onlyCreateOpt = app.add_flag("--only-create", options.onlyCreate, "stop after creating the database");
  app.add_flag("--quiet", quiet, "print only errors, files passed over and the summary");
  bool includeToday = false;
  app.add_flag("--include-today", includeToday,
               "load today's (and tomorrow's) logs too (for a run after close of business; by default they are left "
               "for a later run)");
  bool recompute = false;
  app.add_flag("--recompute-error-keys", recompute,
               "work out the error keys of every user-day again, not only of the days loaded since the last run "
               "(after other tools edited the History database)");
  int64_t keepRejects = prax::RunContext{}.KeepRejects;
  app.add_option("--keep-rejects", keepRejects,
                 "keep at most N rejected lines of this run in PRAXLOAD.REJECTS (0: none; the rest are only counted)")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber);
  bool copyToServer = false;
  auto* copyOpt = app.add_flag("--copy-history-to-server", copyToServer,
               "copy PRAXDATA.MDB into the History server of section [HISTORY] of PXNET.INI (refused when the "
               "server's tables already hold rows), then stop");
  bool dryRun = false;
  app.add_flag("--dry-run", dryRun,
               "check what a run would meet and list the days it would load per user, writing nothing")
      ->excludes(freshOpt)
      ->excludes(onlyCreateOpt)
      ->excludes(copyOpt);
  std::string summaryFile, reportFile;
  bool noReport = false;
  app.add_option("--summary", summaryFile, "write what the run did as JSON to FILE (at every exit)")->type_name("FILE");
  auto* reportOpt = app.add_option("--report", reportFile, "write the HTML run report to FILE instead of PRAXLOAD.html in the program folder")
                        ->type_name("FILE");
  app.add_flag("--no-report", noReport, "write no HTML run report")->excludes(reportOpt);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? kFinished : kRefused;
  }
  if (full) options.universe = prax::Universe::kFull;
  if (!range.empty()) {
    options.universe = prax::Universe::kRange;
    options.rangeFrom = range[0];
    options.rangeTo = range[1];
  }
  if (networks) options.universe = prax::Universe::kMultipleNetworks;
  if (master) options.master = true;
  if (noMaster) options.master = false;

  const bool terminal = PRAX_ISATTY(0) && PRAX_ISATTY(1);
  prax::ConsoleStatus status(stdout, PRAX_ISATTY(1) != 0, quiet);
  prax::RunContext ctx;
  prax::ReadEnvironmentSettings(ctx);
  ctx.IncludeToday = includeToday;
  ctx.RecomputeErrorKeys = recompute;
  ctx.KeepRejects = keepRejects;
  // Every exit from here on goes through finish: the summary file, and the
  // report once the command ran.
  bool ran = false;
  const auto finish = [&](int rc) {
    status.Summary().exitStatus = rc;
    if (ran && !noReport) prax::ReportRun(ctx, status, reportFile.empty() ? prax::RunReportPath(ctx) : reportFile);
    if (summaryFile.empty()) return rc;
    try {
      prax::fs::ReplaceFile(summaryFile, prax::SummaryJson(status.Summary()));
    } catch (const std::exception& e) {
      PrintLine(std::cerr, "The summary file " + prax::fs::ForDisplay(summaryFile) + " could not be written (" +
                               e.what() + "); the run itself is not affected. Check that its folder can be written.");
    }
    return rc;
  };

  try {
    const prax::ProgramFolders folders = prax::LocateProgramFolders(prax::fs::ExecutableDir(), programDir);
    if (auto problem = prax::ProgramFolderProblem(folders, !programDir.empty())) {
      PrintLine(std::cerr, *problem);
      return finish(kNoProgramFolder);
    }
    ctx.ProgramDir = folders.programDir;
    ctx.ProfileDir = folders.profileDir;
    const prax::StartupInfo info = prax::RunStartup(ctx);
    for (const std::string& warning : info.warnings) status.SetStatus(warning);
    const prax::WindowChoices choices = prax::ResolveChoices(ctx, options);
    if (dryRun) {
      const prax::DryRunResult result =
          prax::DryRun(ctx, choices, status, [](const std::string& line) { PrintLine(std::cout, line); });
      return result.verdict == prax::DryRunVerdict::kCanRun    ? kFinished
             : result.verdict == prax::DryRunVerdict::kRefused ? kRefused
                                                               : kFailed;
    }

    // The checks of a press, in the window's order: the range, then the
    // confirmation of a fresh database.
    prax::TryStep([&] { prax::PrepareCommand(ctx, choices); });
    if (auto message = prax::RangeMessage(choices)) {
      PrintLine(std::cerr, *message);
      return finish(kRefused);
    }
    if (auto message = prax::NetworkDirMessage(ctx)) {
      PrintLine(std::cerr, *message);
      return finish(kRefused);
    }
    if (copyToServer && prax::ReadHistoryServer(ctx).empty()) {
      std::cerr << "--copy-history-to-server needs a History server: write ENGINE=postgresql and "
                   "CONNECT=<connection string> in section [HISTORY] of PXNET.INI, then run the command again. "
                   "Nothing was copied.\n";
      return finish(kRefused);
    }
    if (copyToServer) {
      std::unique_ptr<prax::CommandLock> lock;
      try {
        lock = prax::TakeRunLock(ctx, status);
        PrintLine(std::cout, prax::CopyHistoryToServer(ctx));
        return finish(kFinished);
      } catch (const prax::Error& e) {
        // Refused before anything was copied: another command runs, or the
        // server's tables hold rows.
        PrintLine(std::cerr, prax::DescribeError(e));
        return finish(!e.Environment() && (!lock || e.Kind() == prax::err::kTableExists) ? kRefused : kFailed);
      }
    }
    if (choices.creationRule == prax::CreationRule::kCreateFresh && !yes) {
      if (!terminal) {
        std::cerr << "A fresh database erases the current "
                  << (prax::ReadHistoryServer(ctx).empty() ? "PRAXDATA.MDB" : "History tables on the server")
                  << " and needs confirmation: add --yes (there is no terminal to ask on). Nothing was changed.\n";
        return finish(kRefused);
      }
      if (!AskYes()) {
        std::cerr << "Not confirmed. Nothing was changed.\n";
        return finish(kRefused);
      }
    }

    // One command at a time per network directory, as in the window.
    std::unique_ptr<prax::CommandLock> lock;
    try {
      lock = prax::TakeRunLock(ctx, status);
    } catch (const prax::Error& e) {
      // Another command holding a lock is a refusal; a History server out of
      // reach is a failure of its own.
      PrintLine(std::cerr, prax::DescribeError(e));
      return finish(e.Environment() ? kFailed : kRefused);
    }

    prax::ExecuteResult result;
    ran = true;
    try {
      result = prax::RunExecute(ctx, status, choices);
    } catch (const prax::Error& e) {
      status.ClearProgress();
      status.Mute();
      prax::FailCommand(status, e);
      // What was done before the failure, then the failure.
      if (!quiet)
        for (const std::string& line : prax::RunSummaryLines(status.Summary())) PrintLine(std::cout, line);
      PrintLine(std::cerr, prax::DescribeError(e));
      return finish(kFailed);
    }
    status.ClearProgress();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // What the run did, then the one line scripts read (alone with --quiet).
    if (!quiet)
      for (const std::string& line : prax::RunSummaryLines(status.Summary())) PrintLine(std::cout, line);
    PrintLine(std::cout, prax::SummaryText(result, seconds));
    return finish(kFinished);
  } catch (const prax::Error& e) {
    status.ClearProgress();
    PrintLine(std::cerr, prax::DescribeError(e));
    return finish(kFailed);
  } catch (const std::exception& e) {
    status.ClearProgress();
    PrintLine(std::cerr, std::string("Error: ") + e.what());
    return finish(kFailed);
  }
}

#include "app/praxload_run.h"

#include <cstdio>

#include "app/startup.h"
#include "platform/fs.h"
#include "store/pg_history_store.h"

namespace prax {

WindowChoices ResolveChoices(const RunContext& ctx, const LoadOptions& options) {
  WindowChoices choices;
  choices.creationRule = CreationRule::kUpdateExisting;
  LoadSettings(ctx, choices);
  if (options.universe) {
    choices.universe = *options.universe;
    if (*options.universe == Universe::kRange) {
      choices.startText = options.rangeFrom;
      choices.endText = options.rangeTo;
    }
  }
  // The saved rule is always "update existing"; only --fresh creates.
  if (options.fresh) choices.creationRule = CreationRule::kCreateFresh;
  if (options.master) choices.masterImport = *options.master ? MasterImport::kTicked : MasterImport::kUnticked;
  choices.onlyCreate = options.onlyCreate;
  return choices;
}

std::string SummaryText(const ExecuteResult& result, double seconds) {
  char elapsed[64];
  std::snprintf(elapsed, sizeof elapsed, "%.2f s", seconds);
  if (result.onlyCreated) return std::string("praxload: database created, nothing loaded (Only Create); ") + elapsed;
  const LoadSummary& s = result.summary;
  std::string line = "praxload: " + std::to_string(s.usersProcessed) + " users processed; days loaded: " +
                     std::to_string(s.alertDaysLoaded) + " alert, " + std::to_string(s.activityDaysLoaded) +
                     " activity; rows added:";
  bool any = false;
  for (const auto& [table, rows] : s.rowsAdded) {
    line += (any ? ", " : " ") + table + " " + std::to_string(rows);
    any = true;
  }
  if (!any) line += " none";
  if (s.filesSkipped > 0) {
    line += ';';
    line += SkippedText(s.filesSkipped);
  }
  if (const std::string full = ListsFullText(s); !full.empty()) line += "; " + full;
  line += "; ";
  line += elapsed;
  return line;
}

std::string CopyHistoryToServer(const RunContext& ctx) {
  const HistoryConfig history = ReadUsableHistoryConfig(ctx);
  const std::string& server = history.server;
  const std::string file = ctx.NetworkDir + "PRAXDATA.MDB";
  int64_t total = 0;
  std::string tables;
  for (const auto& [table, rows] : store::CopyHistoryToPg(fs::RealPath(file), server, history.timeout)) {
    total += rows;
    tables += (tables.empty() ? "" : ", ") + table + " " + std::to_string(rows);
  }
  return "Copied " + std::to_string(total) + " rows of " + fs::ForDisplay(file) + " to the History server (" +
         server + "), every table's row count checked: " + tables + ".";
}

}  // namespace prax

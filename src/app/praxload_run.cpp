#include "app/praxload_run.h"

#include <algorithm>
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

namespace {

// Rows of cells as aligned lines, indented by two: the first column and those
// from textFrom on left-aligned, the figures between right-aligned, two
// blanks apart.
std::vector<std::string> Aligned(const std::vector<std::vector<std::string>>& rows, std::size_t textFrom) {
  std::vector<std::size_t> width;
  for (const auto& row : rows) {
    if (width.size() < row.size()) width.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line = " ";
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string pad(width[i] - row[i].size(), ' ');
      line += ' ';
      line += (i == 0 || i >= textFrom) ? row[i] + pad : pad + row[i];
      if (i + 1 < row.size()) line += ' ';
    }
    while (line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string DayText(int32_t key) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", key / 10000, key / 100 % 100, key % 100);
  return text;
}

void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
}

}  // namespace

std::vector<std::string> RunSummaryLines(const RunSummary& s) {
  std::vector<std::string> lines;
  if (!s.started.empty()) lines.push_back("Run started " + s.started + (s.ended.empty() ? "" : ", ended " + s.ended));
  if (!s.database.empty())
    lines.push_back("History database: " +
                    (s.engine == "postgresql" ? "PostgreSQL server (" + s.database + ")" : s.database));
  int64_t added = 0, rejected = 0;
  for (const auto& [name, table] : s.tables) {
    added += table.rowsAdded;
    for (const auto& [reason, count] : table.rejects) rejected += count;
  }
  std::string totals = std::to_string(s.usersProcessed) + " users processed";
  if (s.firstDay && s.lastDay) totals += "; days " + DayText(*s.firstDay) + " to " + DayText(*s.lastDay);
  totals += "; " + std::to_string(added) + " rows added; " + std::to_string(rejected) + " lines rejected";
  lines.push_back(totals);

  if (!s.passes.empty()) {
    std::vector<std::vector<std::string>> rows{
        {"Pass", "Logs read", "Days loaded", "Rows added", "Lines rejected", "Seconds"}};
    for (const PassFigures& p : s.passes) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.2f", p.seconds);
      rows.push_back({p.name, std::to_string(p.logsRead), std::to_string(p.daysLoaded), std::to_string(p.rowsAdded),
                      std::to_string(p.linesRejected), seconds});
    }
    lines.emplace_back();
    Append(lines, Aligned(rows, rows[0].size()));
  }

  if (!s.tables.empty()) {
    std::vector<std::vector<std::string>> rows{{"Table", "Rows added", "Lines rejected", "Rejects by reason"}};
    for (const auto& [name, table] : s.tables) {
      int64_t lost = 0;
      for (const auto& [reason, count] : table.rejects) lost += count;
      std::vector<std::string> row{name, std::to_string(table.rowsAdded), std::to_string(lost)};
      // One reason a line, under each other.
      for (const auto& [reason, count] : table.rejects) {
        row.push_back(reason + ": " + std::to_string(count));
        rows.push_back(row);
        row = {"", "", ""};
      }
      if (row.size() == 3 && !row[0].empty()) rows.push_back(row);
    }
    lines.emplace_back();
    Append(lines, Aligned(rows, 3));
  }

  if (!s.passedOver.empty()) {
    // Grouped by reason, in the order the reasons first came.
    std::vector<std::pair<std::string, std::vector<const PassedOverItem*>>> groups;
    for (const PassedOverItem& item : s.passedOver) {
      auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == item.reason; });
      if (group == groups.end()) group = groups.insert(groups.end(), {item.reason, {}});
      group->second.push_back(&item);
    }
    lines.emplace_back();
    lines.push_back("Passed over: " + std::to_string(s.passedOver.size()));
    for (const auto& [reason, items] : groups) {
      const std::string name = reason.empty() ? std::string("other") : reason;
      lines.push_back("  " + name + " (" + std::to_string(items.size()) + "):");
      for (std::size_t i = 0; i < std::min(items.size(), kPassedOverShown); ++i)
        lines.push_back("    " + (items[i]->path.empty() ? items[i]->line : items[i]->path));
      if (items.size() > kPassedOverShown)
        lines.push_back("    and " + std::to_string(items.size() - kPassedOverShown) + " more");
    }
  }

  if (!s.rejectsFile.empty()) {
    lines.emplace_back();
    lines.push_back("Rejected lines are kept in " + s.rejectsFile + " (" + std::to_string(s.rejectsKept) +
                    (s.rejectsCapped ? " lines; the rest were only counted)." : " lines)."));
  } else if (rejected > 0) {
    lines.emplace_back();
    lines.push_back("Rejected lines are counted only, not kept.");
  }

  if (!s.warnings.empty()) {
    lines.emplace_back();
    lines.push_back("Warnings: " + std::to_string(s.warnings.size()));
    for (const std::string& warning : s.warnings) lines.push_back("  " + warning);
  }
  return lines;
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

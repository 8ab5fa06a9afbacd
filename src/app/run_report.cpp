// The HTML run report PRAXLOAD.html: one page with inline CSS and inline SVG,
// no script and nothing fetched, so it opens the same from a share, a mail
// or an archive. Every text in it is escaped; the databases' names are UTF-8.
#include "app/run_report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "app/execute_command.h"
#include "command/status.h"
#include "store/pg_history_store.h"
#include "logs/user_dir.h"
#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/roster_store.h"

namespace prax {

namespace {

constexpr int kChartDays = 60;    // the chart's dates: today and the 59 before
constexpr int kStaleWorkdays = 3;  // a client is stale past this many working days without a day loaded

std::string Escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

dt::Date DateOf(int32_t key) { return dt::Date{key / 10000, key / 100 % 100, key % 100}; }
int32_t KeyOf(const dt::Date& d) { return d.year * 10000 + d.month * 100 + d.day; }
std::string Shown(int32_t key) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", key % 100, key / 100 % 100, key / 10000);
  return text;
}

// Working days (Monday to Friday) after `from` up to and including `to`.
int WorkdaysBetween(int32_t from, int32_t to) {
  int count = 0;
  for (int64_t d = dt::SerialDay(DateOf(from)) + 1; d <= dt::SerialDay(DateOf(to)); ++d) {
    if (dt::Weekday(dt::FromSerialDay(d)) < 5) ++count;
  }
  return count;
}

struct StaleUser {
  int32_t user = 0;
  int32_t newest = 0;
  int workdays = 0;
  std::string name;
};

// What the report reads from the History database and the roster.
struct HistoryView {
  std::map<int32_t, int64_t> daysPerDate;
  std::vector<StaleUser> stale;  // oldest first
  std::string problem;           // why it could not be read; empty when read
};

// "First Last" of each roster user, by user number (from its folder name).
std::map<int32_t, std::string> RosterNames(const RunContext& ctx) {
  std::map<int32_t, std::string> names;
  const auto roster = store::Roster::Open(fs::RealPath(ctx.NetworkDir + "MASTER.MDB"), db::Access::ReadOnly);
  for (const store::RosterRow& row : roster->UsersBySubDir()) {
    const std::string dir = text::FoldCase1252(row.subDir.value_or(""));
    int user = 0;
    if (dir.size() != 12 || std::sscanf(dir.c_str(), "px%6d.dir", &user) != 1 ||
        dir != text::FoldCase1252(UserDirName(user))) {
      continue;
    }
    std::string name = row.firstName.value_or("");
    if (row.lastName) name += (name.empty() ? "" : " ") + *row.lastName;
    names.emplace(user, name);
  }
  return names;
}

HistoryView ReadHistory(const RunContext& ctx, int32_t today) {
  HistoryView view;
  try {
    // The file is only read; a server gets any of our tables it lacks, as at every open.
    const auto history = ctx.HistoryServer.empty()
                             ? store::OpenSqliteHistoryToRead(fs::RealPath(ctx.NetworkDir + "PRAXDATA.MDB"))
                             : store::OpenPgHistory(ctx.HistoryServer, ctx.HistoryTimeout);
    const int32_t from = KeyOf(dt::FromSerialDay(dt::SerialDay(DateOf(today)) - (kChartDays - 1)));
    view.daysPerDate = history->DaysPerDate(store::DayTable::kAlerts, from, today);
    std::map<int32_t, int32_t> newest = history->NewestDays(store::DayTable::kAlerts);
    for (const auto& [user, date] : history->NewestDays(store::DayTable::kActivity)) {
      newest[user] = std::max(newest[user], date);
    }
    history->Close();
    std::map<int32_t, std::string> names;
    try {
      names = RosterNames(ctx);
    } catch (const Error&) {
      // A roster that cannot be read leaves the names out, not the users.
    }
    for (const auto& [user, date] : newest) {
      const int workdays = date < today ? WorkdaysBetween(date, today) : 0;
      if (workdays <= kStaleWorkdays) continue;
      const auto name = names.find(user);
      view.stale.push_back({user, date, workdays, name == names.end() ? "(not in the roster)" : name->second});
    }
    std::stable_sort(view.stale.begin(), view.stale.end(),
                     [](const StaleUser& a, const StaleUser& b) { return a.newest < b.newest; });
  } catch (const Error& e) {
    view.problem = DescribeError(e);
  }
  return view;
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em}"
    "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:2px 8px;text-align:left}"
    "td.n{text-align:right}.bad{color:#a00}.day-bar{fill:#3a6ea5}.axis{font-size:10px;fill:#555}";

std::string Row(const std::vector<std::string>& cells, const char* tag = "td") {
  std::string row = "<tr>";
  for (const std::string& c : cells) {
    const bool number = !c.empty() && c.find_first_not_of("0123456789.") == std::string::npos;
    row += std::string("<") + tag + (number && std::string_view(tag) == "td" ? " class=\"n\">" : ">") + Escape(c) +
           "</" + tag + ">";
  }
  return row + "</tr>\n";
}

// One bar per date that has days; a date without any is a gap.
std::string DaysChart(const std::map<int32_t, int64_t>& days, int32_t today) {
  constexpr int kSlot = 12, kHeight = 120;
  int64_t most = 1;
  for (const auto& [date, count] : days) most = std::max(most, count);
  const int64_t first = dt::SerialDay(DateOf(today)) - (kChartDays - 1);
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kChartDays * kSlot + 40) +
                    "\" height=\"" + std::to_string(kHeight + 30) + "\" role=\"img\">\n";
  for (const auto& [date, count] : days) {
    const int64_t slot = dt::SerialDay(DateOf(date)) - first;
    const int64_t h = std::max<int64_t>(1, count * kHeight / most);
    svg += "<rect class=\"day-bar\" data-date=\"" + std::to_string(date) + "\" x=\"" +
           std::to_string(30 + slot * kSlot) + "\" y=\"" + std::to_string(kHeight - h) + "\" width=\"" +
           std::to_string(kSlot - 2) + "\" height=\"" + std::to_string(h) + "\"><title>" + Shown(date) + ": " +
           std::to_string(count) + " days</title></rect>\n";
  }
  svg += "<text class=\"axis\" x=\"0\" y=\"10\">" + std::to_string(most) + "</text>";
  svg += "<text class=\"axis\" x=\"30\" y=\"" + std::to_string(kHeight + 14) + "\">" +
         Shown(KeyOf(dt::FromSerialDay(first))) + "</text>";
  svg += "<text class=\"axis\" text-anchor=\"end\" x=\"" + std::to_string(30 + kChartDays * kSlot) + "\" y=\"" +
         std::to_string(kHeight + 14) + "\">" + Shown(today) + "</text>\n</svg>\n";
  return svg;
}

std::string Page(const RunContext& ctx, const RunSummary& s) {
  const int32_t today = ctx.Today();
  const HistoryView view = ReadHistory(ctx, today);
  std::string h = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>praxload run report</title>"
                  "<style>" + std::string(kStyle) + "</style></head><body>\n<h1>praxload run report</h1>\n<table>\n";
  h += Row({"Started", s.started}) + Row({"Ended", s.ended}) + Row({"Exit status", std::to_string(s.exitStatus)});
  h += Row({"History database", s.engine + (s.engine.empty() ? "" : ": ") + s.database});
  h += Row({"Users processed", std::to_string(s.usersProcessed)});
  if (s.firstDay && s.lastDay) h += Row({"Days loaded", Shown(*s.firstDay) + " to " + Shown(*s.lastDay)});
  h += "</table>\n<h2>Passes</h2>\n<table>\n" +
       Row({"Pass", "Logs read", "Days loaded", "Rows added", "Lines rejected", "Seconds"}, "th");
  for (const PassFigures& p : s.passes) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", p.seconds);
    h += Row({p.name, std::to_string(p.logsRead), std::to_string(p.daysLoaded), std::to_string(p.rowsAdded),
              std::to_string(p.linesRejected), seconds});
  }
  h += "</table>\n<h2>Tables</h2>\n<table>\n" + Row({"Table", "Rows added", "Rejected"}, "th");
  std::map<std::string, int64_t> byReason;
  int64_t total = 0;
  for (const auto& [name, t] : s.tables) {
    int64_t rejected = 0;
    for (const auto& [reason, lines] : t.rejects) {
      byReason[reason] += lines;
      rejected += lines;
    }
    total += rejected;
    h += Row({name, std::to_string(t.rowsAdded), std::to_string(rejected)});
  }
  h += "</table>\n<h2>Rejects by reason</h2>\n<table>\n" + Row({"Reason", "Lines"}, "th");
  for (const auto& [reason, lines] : byReason) h += Row({reason, std::to_string(lines)});
  h += "<tr><th>Total</th><td class=\"n\" id=\"rejects-total\">" + std::to_string(total) + "</td></tr>\n</table>\n<p>";
  h += s.rejectsFile.empty() ? "The rejected lines are kept nowhere."
                             : "The rejected lines are kept in " + Escape(s.rejectsFile) + " (" +
                                   std::to_string(s.rejectsKept) + " lines" +
                                   (s.rejectsCapped ? "; the cap was reached, the rest only counted" : "") + ").";
  h += "</p>\n<h2>Days loaded per date, last " + std::to_string(kChartDays) + " days</h2>\n";
  if (!view.problem.empty()) {
    h += "<p class=\"bad\">The History database could not be read: " + Escape(view.problem) + "</p>\n";
  } else {
    h += DaysChart(view.daysPerDate, today);
    h += "<h2>Stale clients</h2>\n<p>Users whose newest loaded day is more than " + std::to_string(kStaleWorkdays) +
         " working days (Monday to Friday) before " + Shown(today) + ", oldest first.</p>\n<table>\n" +
         Row({"User", "Name", "Newest day", "Working days since"}, "th");
    for (const StaleUser& u : view.stale) {
      h += "<tr class=\"stale-user\">" + Row({std::to_string(u.user), u.name, Shown(u.newest), std::to_string(u.workdays)}).substr(4);
    }
    h += "</table>\n";
  }
  h += "<h2>Files passed over</h2>\n<table>\n" + Row({"Reason", "File"}, "th");
  for (const PassedOverItem& item : s.passedOver) h += Row({item.reason, item.path.empty() ? item.line : item.path});
  h += "</table>\n";
  if (!s.warnings.empty()) {
    h += "<h2>Warnings</h2>\n<ul>\n";
    for (const std::string& w : s.warnings) h += "<li>" + Escape(w) + "</li>\n";
    h += "</ul>\n";
  }
  return h + "</body></html>\n";
}

}  // namespace

std::string RunReportPath(const RunContext& ctx) { return ctx.ProgramFile("PRAXLOAD.html"); }

void WriteRunReport(const RunContext& ctx, const RunSummary& summary, const std::string& pathText) {
  fs::ReplaceFile(pathText, Page(ctx, summary));
}

bool ReportRun(const RunContext& ctx, Status& status, const std::string& pathText) {
  try {
    WriteRunReport(ctx, status.Summary(), pathText);
    return true;
  } catch (const std::exception& e) {
    const Error* error = dynamic_cast<const Error*>(&e);
    const std::string line = "The run report " + fs::ForDisplay(pathText) + " could not be written (" +
                             (error ? DescribeError(*error) : std::string(e.what())) +
                             "); the run itself is not affected. Check that the folder can be written.";
    status.Warn(line);
    status.SetStatus(line);
    return false;
  }
}

}  // namespace prax

#include "load/run_load_job.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <vector>
#include <string>

#include "load/day_source.h"
#include "load/error_keys.h"
#include "load/load_activity_logs.h"
#include "load/load_alert_logs.h"
#include "load/load_context.h"
#include "logs/file_list.h"
#include "logs/user_dir.h"
#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/numbers.h"
#include "load/history_location.h"
#include "store/history_store.h"

namespace prax {

namespace {

using store::HistoryList;

// The run log says when a reader kept the History file from returning to the
// rollback journal.
void ReportLeftInUse(LoadContext& load) {
  const std::string& note = load.store.LeftInUse();
  if (note.empty()) return;
  load.status.SetStatus(note);
  load.status.UpdateLog("  " + note);
}

void ShowUserProgress(LoadContext& load, int32_t user) {
  load.status.SetUserPercent(num::ProgressPercent(user, load.run.UserSlotCount));
}

// Passes 1 and 2: every user's alert (activity) logs. The logs are read and
// parsed on a thread of their own ahead of the writing when ParseAhead.
// `said` holds the folders and files named so far in the job: a user
// directory passed over in both passes is named (and counted) once.
void LogPass(LoadContext& load, LoadSummary& summary, LogKind kind, int32_t userStart, int32_t userEnd,
             std::set<std::string>& said, PassFigures& pass) {
  Status& status = load.status;
  const bool alerts = kind == LogKind::kAlert;
  const std::vector<HistoryList> lists = load.OpenPassLists(kind);

  PassSource source(load, kind, userStart, userEnd, load.run.ParseAhead);
  const auto next = [&] { return source.NextDay(); };
  for (int32_t u = userStart; u <= userEnd; ++u) {
    const std::string userText = num::SpacedNumberText(u);
    status.SetLoading(std::string(alerts ? "Pass 1, User" : "Pass 2, User") + userText + ":");
    if (alerts) status.UpdateLog(std::string("  Pass 1, User") + userText + ":");
    try {
      const PreparedUser user = source.NextUser();
      load.user = u;
      if (user.failure) std::rethrow_exception(user.failure);
      for (const std::string& why : user.skipped) {
        if (!said.insert(why).second) continue;
        status.SetStatus(why);
        status.PassedOver("not read", {}, "    Skipped: " + why);
      }
      if (!user.files.empty()) {
        status.Yield();
        const std::size_t days = DaysToLoad(kind, user.files);
        if (days < user.files.size()) {
          const std::string why = TooManyActivityLogsText(user.userDir, user.files.size());
          status.SetStatus(why);
          status.PassedOver("too many activity logs", fs::ForDisplay(user.userDir), "    Skipped: " + why);
        }
        if (alerts) {
          summary.alertDaysLoaded += StoreAlertDays(load, days, next, &source.StoreLock(), &pass);
        } else {
          summary.activityDaysLoaded += StoreActivityDays(load, days, next, &source.StoreLock(), &pass);
        }
      }
      const std::lock_guard<std::mutex> lock(source.StoreLock());
      load.commits.Commit(load.store);
    } catch (const Error& e) {
      throw e.WithContext(std::string(alerts ? "Loading alert logs of user" : "Loading activity logs of user") +
                          userText);
    }
    ShowUserProgress(load, u);
    if (!alerts) status.Yield();
  }
  for (const HistoryList l : lists) load.List(l).Close();
}

// Pass 3, tolerant throughout (as far as the data goes): the user-days the
// loaders marked, or every user-day of the range for a fresh database, on
// request, or once for a file that kept no record of pending work.
void ErrorKeysPass(LoadContext& load, int32_t userStart, int32_t userEnd) {
  const bool everything = load.run.RecomputeErrorKeys || load.store.ErrorKeysUntracked();
  for (int32_t u = userStart; u <= userEnd; ++u) {
    load.status.SetLoading("Pass 3, User" + num::SpacedNumberText(u) + ":");
    load.user = u;
    try {
      WorkOutErrorKeys(load.store, u, everything, &load.status);
      TryStep(&load.status, "AlertSystem", [&] { load.store.Commit(); });
    } catch (const Error& e) {
      throw e.WithContext("Loading error keys of user" + num::SpacedNumberText(u));
    }
    load.status.Yield();
  }
}

int64_t RowsAddedSoFar(const store::HistoryStore& history) {
  int64_t rows = 0;
  for (const auto& [table, added] : history.RowsAdded()) rows += added;
  return rows;
}

// Runs one pass and fills its figures: what it read, loaded, added and
// rejected, and how long it took (a pass cut short keeps what it did).
template <class F>
void TimedPass(Status& status, const store::HistoryStore& history, const char* name, F&& pass) {
  RunSummary& run = status.Summary();
  run.passes.push_back(PassFigures{name});
  const auto start = std::chrono::steady_clock::now();
  const int64_t rowsBefore = RowsAddedSoFar(history), rejectedBefore = run.RejectedTotal();
  const auto figure = [&] {
    PassFigures& p = run.passes.back();
    p.rowsAdded = RowsAddedSoFar(history) - rowsBefore;
    p.linesRejected = run.RejectedTotal() - rejectedBefore;
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  try {
    pass(run.passes.back());
  } catch (...) {
    figure();
    throw;
  }
  figure();
}

}  // namespace

std::string ListsFullText(const LoadSummary& summary) {
  std::string text;
  for (const auto& [table, names] : summary.namesWithoutId) {
    if (!text.empty()) text += "; ";
    text += table + " full: " + std::to_string(names) + (names == 1 ? " name" : " names") + " got no id";
  }
  return text;
}

LoadSummary RunLoadJob(const RunContext& run, Status& status, int16_t userStart, int16_t userEnd) {
  LoadSummary summary;
  status.SetRunning(true);

  const std::unique_ptr<store::HistoryStore> history = OpenHistory(run);
  // The parsers' carry and the current ids live for the whole job: what they
  // carry goes from one user to the next.
  auto load = std::make_unique<LoadContext>(run, status, *history);

  status.MarkPhase("Loading AlertSystems, Start");
  status.UpdateLog(" ");
  status.UpdateLog("Starting Job - " + dt::NowLongDate());

  try {
    std::set<std::string> said;
    TimedPass(status, *history, "alert logs", [&](PassFigures& pass) {
      LogPass(*load, summary, LogKind::kAlert, userStart, userEnd, said, pass);
    });
    status.MarkPhase("Loading PXTs, Start");
    TimedPass(status, *history, "activity logs", [&](PassFigures& pass) {
      LogPass(*load, summary, LogKind::kActivity, userStart, userEnd, said, pass);
    });
    status.MarkPhase("Loading error keys, Start");
    TimedPass(status, *history, "error keys", [&](PassFigures&) { ErrorKeysPass(*load, userStart, userEnd); });
  } catch (const Error& e) {
    // The rejected lines gathered so far are kept.
    status.EndLines();
    if (e.Environment()) {
      // The machine failed (a busy file, an I/O error, a full disk): the day
      // being loaded is undone, so it is not taken for loaded and the next
      // run loads it whole.
      try {
        load->commits.Rollback(*history);
      } catch (const Error&) {
        // The file is out of reach; SQLite undoes the open transaction itself.
      }
    } else {
      // A failure of the data ends the job; the rows written before it stay.
      TryStep(&status, "PRAXDATA.MDB", [&] { load->commits.Commit(*history); });
    }
    // The file is left at rest; the failure passed up is the one to report.
    try {
      history->Close();
      ReportLeftInUse(*load);
    } catch (const Error&) {
    }
    throw;
  }

  // A file replaced or removed under the run, or a last commit that failed,
  // ends the job: it did not store what it loaded.
  history->Close();
  ReportLeftInUse(*load);
  summary.rowsAdded = history->RowsAdded();
  for (const auto& [table, rows] : summary.rowsAdded) status.Summary().tables[table].rowsAdded = rows;
  status.EndLines();
  summary.namesWithoutId = load->Unnumbered();
  for (const auto& [table, names] : summary.namesWithoutId) {
    status.Warn("  " + table + " is full: " + std::to_string(names) + (names == 1 ? " name" : " names") +
                " got no id in this run.");
  }
  summary.usersProcessed = userEnd >= userStart ? int32_t{userEnd} - userStart + 1 : 0;
  status.Summary().usersProcessed = summary.usersProcessed;
  status.MarkPhase("Done.");
  status.SetRunning(false);
  status.EndBusy();
  return summary;
}

}  // namespace prax

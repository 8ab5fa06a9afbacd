#include "load/run_load_job.h"

#include <memory>
#include <string>

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

void Prime(LoadContext& load, HistoryList list, bool strict) {
  if (strict) {
    load.List(list).Prime();
  } else {
    TryStep([&] { load.List(list).Prime(); });
  }
}

void CloseLists(LoadContext& load, std::initializer_list<HistoryList> lists) {
  for (HistoryList list : lists) load.List(list).Close();
}

// Pass 1: every user's alert logs.
void AlertPass(LoadContext& load, LoadSummary& summary, int32_t userStart, int32_t userEnd) {
  Status& status = load.status;
  // Priming: tools and body parts tolerant, discomforts and notes strict.
  Prime(load, HistoryList::kTools, false);
  Prime(load, HistoryList::kBodyParts, false);
  Prime(load, HistoryList::kDiscomforts, true);
  Prime(load, HistoryList::kNotes, true);
  for (HistoryList list : {HistoryList::kTools, HistoryList::kBodyParts, HistoryList::kDiscomforts, HistoryList::kNotes})
    load.List(list).Open();

  for (int32_t u = userStart; u <= userEnd; ++u) {
    const std::string userText = num::SpacedNumberText(u);
    status.SetLoading("Pass 1, User" + userText + ":");
    status.UpdateLog("  Pass 1, User" + userText + ":");
    try {
      const std::string userDir = UserDirPath(load.run.NetworkDir, u);
      load.user = u;
      const FileList fileList = BuildUserFileList(status, load.run.NetworkDir, userDir, "PXL");
      if (fileList.size() > 1) {
        status.Yield();
        summary.alertDaysLoaded += LoadAlertLogs(load, userDir, fileList);
      }
      load.store.Commit();
    } catch (const Error& e) {
      throw e.WithContext("Loading alert logs of user" + userText);
    }
    ShowUserProgress(load, u);
  }
  CloseLists(load, {HistoryList::kTools, HistoryList::kBodyParts, HistoryList::kDiscomforts, HistoryList::kNotes});
}

// Pass 2: every user's activity logs.
void ActivityPass(LoadContext& load, LoadSummary& summary, int32_t userStart, int32_t userEnd) {
  Status& status = load.status;
  // Priming, tolerant throughout.
  const auto lists = {HistoryList::kNotes, HistoryList::kApplications, HistoryList::kWindows, HistoryList::kProjects,
                      HistoryList::kTasks};
  for (HistoryList list : lists) Prime(load, list, false);
  for (HistoryList list : lists) load.List(list).Open();

  for (int32_t u = userStart; u <= userEnd; ++u) {
    const std::string userText = num::SpacedNumberText(u);
    status.SetLoading("Pass 2, User" + userText + ":");
    try {
      const std::string userDir = UserDirPath(load.run.NetworkDir, u);
      load.user = u;
      const FileList fileList = BuildUserFileList(status, load.run.NetworkDir, userDir, "PXT");
      if (fileList.size() > 1) {
        status.Yield();
        summary.activityDaysLoaded += LoadActivityLogs(load, userDir, fileList);
      }
      load.store.Commit();
    } catch (const Error& e) {
      throw e.WithContext("Loading activity logs of user" + userText);
    }
    ShowUserProgress(load, u);
    status.Yield();
  }
  CloseLists(load, lists);
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
      WorkOutErrorKeys(load.store, u, everything);
      TryStep([&] { load.store.Commit(); });
    } catch (const Error& e) {
      throw e.WithContext("Loading error keys of user" + num::SpacedNumberText(u));
    }
    load.status.Yield();
  }
}

}  // namespace

LoadSummary RunLoadJob(const RunContext& run, Status& status, int16_t userStart, int16_t userEnd) {
  LoadSummary summary;
  status.SetRunning(true);

  const std::string file = run.NetworkDir + "PRAXDATA.MDB";
  store::RemoveUnfinishedHistory(file);
  const std::unique_ptr<store::HistoryStore> history = store::OpenSqliteHistory(fs::RealPath(file));
  // The parsers' carry and the current ids live for the whole job: what they
  // carry goes from one user to the next.
  auto load = std::make_unique<LoadContext>(run, status, *history);

  status.MarkPhase("Loading AlertSystems, Start");
  status.UpdateLog(" ");
  status.UpdateLog("Starting Job - " + dt::NowLongDate());

  try {
    AlertPass(*load, summary, userStart, userEnd);
    status.MarkPhase("Loading PXTs, Start");
    ActivityPass(*load, summary, userStart, userEnd);
    status.MarkPhase("Loading error keys, Start");
    ErrorKeysPass(*load, userStart, userEnd);
  } catch (const Error& e) {
    if (e.Environment()) {
      // The machine failed (a busy file, an I/O error, a full disk): the day
      // being loaded is undone, so it is not taken for loaded and the next
      // run loads it whole.
      try {
        history->Rollback();
      } catch (const Error&) {
        // The file is out of reach; SQLite undoes the open transaction itself.
      }
    } else {
      // A failure of the data ends the job; the rows written before it stay.
      TryStep([&] { history->Commit(); });
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
  summary.usersProcessed = userEnd >= userStart ? int32_t{userEnd} - userStart + 1 : 0;
  status.MarkPhase("Done.");
  status.SetRunning(false);
  status.EndBusy();
  return summary;
}

}  // namespace prax

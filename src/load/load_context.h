#pragma once
// What the loaders of one load job share: the configuration, the status
// display, the History store, the lists' ids, and the ids the next rows are
// written with. The job owns it and hands it to each loader explicitly.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "load/commit_group.h"
#include "logs/activity_day.h"
#include "logs/alert_day.h"
#include "logs/file_list.h"
#include "command/run_context.h"
#include "command/status.h"
#include "store/history_store.h"
#include "store/list_ids.h"

namespace prax {

// The ids the next rows are written with. They start at 0 with the job and
// carry over from file to file, user to user and pass to pass: a lookup
// that fails leaves the id of the one before, and the row that follows is
// written with it. An Activity log starts its window, project and task at
// -1; the application and the note carry on.
struct CurrentIds {
  int16_t tool = 0, bodyPart = 0, discomfort = 0, note = 0;
  int16_t app = 0, window = 0, project = 0, task = 0;
};

// The logs a pass loads.
enum class LogKind { kAlert, kActivity };

struct LoadContext {
  LoadContext(const RunContext& run, Status& status, store::HistoryStore& store);

  const RunContext& run;
  Status& status;
  store::HistoryStore& store;
  CurrentIds ids;
  // What the parsers carry from one log to the next for the whole job.
  AlertCarry alertCarry;
  ActivityCarry activityCarry;
  int32_t user = 0;  // the user being loaded
  // When the days written are committed (grouped in a database this command made).
  CommitGroup commits{run.FreshHistory};
  // The activity logs of each user directory as the alert pass listed them,
  // taken by the activity pass (by the reading side of each pass only).
  std::unordered_map<int32_t, ListedLogs> listedActivity;
  // Which of those logs' dates the History holds, probed by the alert pass's
  // reading side as it lists them: the alert pass writes no activity rows, so
  // the answer holds for the activity pass, which takes it.
  std::unordered_map<int32_t, std::vector<int32_t>> loadedActivity;

  // The ids of a History list (open for the pass that uses it).
  store::ListIds& List(store::HistoryList list) { return *lists_[static_cast<std::size_t>(list)]; }
  // Primes and opens the lists a pass of `kind` writes to, and returns them
  // for closing when the pass ends. Priming: for alert logs tools and body
  // parts tolerantly, discomforts and notes strictly (a failure ends the
  // job); for activity logs tolerantly throughout.
  std::vector<store::HistoryList> OpenPassLists(LogKind kind);
  // Get-or-create of a log's name (Windows-1252) in a list; the name goes to
  // the list as UTF-8.
  // A list that passes 90 % of its ids, and a list that is full and so
  // refuses a new name, is said once per job (status line, run log,
  // praxload's standard error) with what the administrator can do.
  int16_t Lookup(store::HistoryList list, std::string_view cp1252Name);
  // The lists that refused names for want of ids in this job, with the
  // number of distinct names that got none.
  std::vector<std::pair<std::string, int64_t>> Unnumbered() const;

 private:
  void SayRoom(store::HistoryList list);

  std::array<std::unique_ptr<store::ListIds>, store::kHistoryListCount> lists_;
  std::array<bool, store::kHistoryListCount> nearlyFullSaid_{}, fullSaid_{};
  // Per list, the name last looked up as the log gives it and its id: a log
  // names the same window line after line, and a repeat then costs neither
  // the conversion to UTF-8 nor the list's own lookup. It holds while the
  // list keeps its generation (see ListIds::Generation).
  struct LastName {
    std::string cp1252;
    int16_t id = 0;
    uint64_t generation = 0;
    bool known = false;
  };
  std::array<LastName, store::kHistoryListCount> last_;
};

// Log text (Windows-1252) as the database holds it (UTF-8).
std::string StoredText(std::string_view cp1252);

}  // namespace prax

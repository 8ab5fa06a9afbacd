#pragma once
// When the days a load writes are committed, and what waits for the commit.
// Each day goes into the open transaction with its error-keys mark. Most
// loads commit after every day, so that other programs may read and write
// between two days. A load into a History database this command made (no
// other program uses it yet) commits a user's days of a pass together, at
// most about half a second of writing: each commit writes again every page
// its days touched (table and index pages shared with the next day), so a
// group writes them once for many days. Either way a day is stored whole or
// not at all, and what a run says of a day as loaded waits for its commit, so
// a run that fails or is killed never reports a day it did not store.

#include <chrono>
#include <functional>
#include <vector>

#include "store/history_store.h"

namespace prax {

class CommitGroup {
 public:
  explicit CommitGroup(bool grouped) : grouped_(grouped) {}

  // A day is written: `committed` runs once it is committed. Commits at once
  // unless the days are grouped and the open group is younger than the limit.
  void DayWritten(store::HistoryStore& store, std::function<void()> committed);
  // Commits the open transaction, then runs what waited for it.
  void Commit(store::HistoryStore& store);
  // Forgets what waited (its days are undone), then rolls back.
  void Rollback(store::HistoryStore& store);

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kLimit{500};

  bool grouped_;
  Clock::time_point opened_{};
  std::vector<std::function<void()>> waiting_;
};

}  // namespace prax

#include "load/commit_group.h"

#include <utility>

namespace prax {

void CommitGroup::DayWritten(store::HistoryStore& store, std::function<void()> committed) {
  if (waiting_.empty()) opened_ = Clock::now();
  waiting_.push_back(std::move(committed));
  if (!grouped_ || Clock::now() - opened_ >= kLimit) Commit(store);
}

void CommitGroup::Commit(store::HistoryStore& store) {
  // A commit that fails leaves the days waiting: the job ends and rolls
  // them back.
  store.Commit();
  std::vector<std::function<void()>> done = std::exchange(waiting_, {});
  for (auto& f : done) f();
}

void CommitGroup::Rollback(store::HistoryStore& store) {
  waiting_.clear();
  store.Rollback();
}

}  // namespace prax

#include "load/error_keys.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "logs/activity_day.h"
#include "platform/error.h"
#include "platform/text.h"

namespace prax {

void WriteUserErrorKeys(store::HistoryStore& store, int32_t user, const std::vector<int32_t>* dates,
                        SkipReporter* skipped) {
  using HourKey = std::pair<int64_t, std::string>;  // Data_Date, Data_Hour (upper case)
  if (dates != nullptr && dates->empty()) return;
  const std::optional<store::DateSpan> span =
      dates == nullptr ? std::nullopt : std::optional<store::DateSpan>({dates->front(), dates->back()});
  const auto wanted = [dates](int64_t date) {
    return dates == nullptr || std::binary_search(dates->begin(), dates->end(), date);
  };

  std::vector<store::StoredKeyCount> counts;
  if (!TryStep(skipped, "ActivitySystem", [&] { counts = store.WholeApplicationKeyCounts(user, span); })) return;
  std::map<HourKey, int64_t> sums;
  for (const store::StoredKeyCount& c : counts) {
    if (!c.keyNum || (*c.keyNum != kBackspaceKey && *c.keyNum != kDeleteKey)) continue;
    if (!c.keyCount || !c.date || !c.hour || !wanted(*c.date)) continue;
    sums[HourKey{*c.date, text::ToUpperAscii(*c.hour)}] += *c.keyCount;
  }
  if (sums.empty()) return;

  std::vector<store::StoredAlertHour> hours;
  if (!TryStep(skipped, "AlertSystem", [&] { hours = store.AlertHours(user, span); })) return;
  for (const store::StoredAlertHour& h : hours) {
    if (sums.empty()) break;
    if (!h.date || !h.hour) continue;
    const auto it = sums.find(HourKey{*h.date, text::ToUpperAscii(*h.hour)});
    if (it == sums.end()) continue;
    const int64_t sum = it->second;
    sums.erase(it);
    if (h.errorKeys == sum) continue;
    TryStep(skipped, "AlertSystem", [&] { store.SetErrorKeys(h.row, sum); });
  }
}

void WorkOutErrorKeys(store::HistoryStore& store, int32_t user, bool everything, SkipReporter* skipped) {
  if (everything) {
    TryStep(skipped, "AlertSystem", [&] { WriteUserErrorKeys(store, user, nullptr, skipped); });
    TryStep(skipped, "ErrorKeysPending", [&] { store.ClearErrorKeysPending(user, std::nullopt); });
    return;
  }
  std::vector<int32_t> dates;
  TryStep(skipped, "ErrorKeysPending", [&] { dates = store.ErrorKeysPending(user); });
  // Dates within about a month of each other are worked out from one read of
  // the rows between them: a fresh load's thirty days of a user cost a
  // statement or two, not two each, and a date far from the rest does not
  // make the read cover the years between.
  constexpr int32_t kSpan = 100;  // yyyymmdd keys
  for (std::size_t first = 0; first < dates.size();) {
    std::size_t end = first + 1;
    while (end < dates.size() && dates[end] - dates[first] < kSpan) ++end;
    const std::vector<int32_t> group(dates.begin() + static_cast<std::ptrdiff_t>(first),
                                     dates.begin() + static_cast<std::ptrdiff_t>(end));
    TryStep(skipped, "AlertSystem", [&] { WriteUserErrorKeys(store, user, &group, skipped); });
    for (const int32_t date : group) {
      TryStep(skipped, "ErrorKeysPending", [&] { store.ClearErrorKeysPending(user, date); });
    }
    first = end;
  }
}

}  // namespace prax

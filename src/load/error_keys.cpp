#include "load/error_keys.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "logs/activity_day.h"
#include "platform/error.h"
#include "platform/text.h"

namespace prax {

void WriteUserErrorKeys(store::HistoryStore& store, int32_t user, std::optional<int32_t> date,
                        SkipReporter* skipped) {
  using HourKey = std::pair<int64_t, std::string>;  // Data_Date, Data_Hour (upper case)

  std::vector<store::StoredKeyCount> counts;
  if (!TryStep(skipped, "ActivitySystem", [&] { counts = store.WholeApplicationKeyCounts(user, date); })) return;
  std::map<HourKey, int64_t> sums;
  for (const store::StoredKeyCount& c : counts) {
    if (!c.keyNum || (*c.keyNum != kBackspaceKey && *c.keyNum != kDeleteKey)) continue;
    if (!c.keyCount || !c.date || !c.hour) continue;
    sums[HourKey{*c.date, text::ToUpperAscii(*c.hour)}] += *c.keyCount;
  }
  if (sums.empty()) return;

  std::vector<store::StoredAlertHour> hours;
  if (!TryStep(skipped, "AlertSystem", [&] { hours = store.AlertHours(user, date); })) return;
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
    TryStep(skipped, "AlertSystem", [&] { WriteUserErrorKeys(store, user, std::nullopt, skipped); });
    TryStep(skipped, "ErrorKeysPending", [&] { store.ClearErrorKeysPending(user, std::nullopt); });
    return;
  }
  std::vector<int32_t> dates;
  TryStep(skipped, "ErrorKeysPending", [&] { dates = store.ErrorKeysPending(user); });
  for (const int32_t date : dates) {
    TryStep(skipped, "AlertSystem", [&] { WriteUserErrorKeys(store, user, date, skipped); });
    TryStep(skipped, "ErrorKeysPending", [&] { store.ClearErrorKeysPending(user, date); });
  }
}

}  // namespace prax

#pragma once
// The run report's reads, alike on every engine: user-days in, the days per date and each user's newest date out.
#include <gtest/gtest.h>
#include "store/history_store.h"
namespace praxtest {
inline void CheckReportReads(prax::store::HistoryStore& store) {
  using prax::store::DayTable;
  EXPECT_TRUE(store.NewestDays(DayTable::kAlerts).empty());
  for (const auto& [user, date] : std::map<int32_t, int32_t>{{3, 20261201}, {7, 20261201}, {9, 20261120}, {40000, 20261203}}) {
    for (const char* hour : {"00", "09", "10"}) store.AppendAlertHour({user, date, hour, {}, 0});  // a day counts once
  }
  store.AppendAlertHour({3, 20261203, "00", {}, 0});
  store.AppendActivity({9, 20261202, "09"});
  store.Commit();
  EXPECT_EQ(store.DaysPerDate(DayTable::kAlerts, 20261201, 20261203), (std::map<int32_t, int64_t>{{20261201, 2}, {20261203, 2}}));
  EXPECT_TRUE(store.DaysPerDate(DayTable::kAlerts, 20261121, 20261130).empty());
  EXPECT_EQ(store.NewestDays(DayTable::kAlerts),
            (std::map<int32_t, int32_t>{{3, 20261203}, {7, 20261201}, {9, 20261120}, {40000, 20261203}}));
  EXPECT_EQ(store.NewestDays(DayTable::kActivity), (std::map<int32_t, int32_t>{{9, 20261202}}));
}
}  // namespace praxtest

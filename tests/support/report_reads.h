#pragma once
// The run report's reads, alike on every engine: user-days in, the days per date and each user's newest date out.
#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "store/history_store.h"

namespace praxtest {

inline void CheckReportReads(prax::store::HistoryStore& store) {
  using prax::store::DayTable;
  EXPECT_TRUE(store.NewestDays(DayTable::kAlerts).empty());
  const std::vector<std::pair<int32_t, int32_t>> days = {
      {3, 20261201}, {3, 20261203}, {7, 20261201}, {9, 20261120}, {40000, 20261203}};
  for (const auto& [user, date] : days) {
    for (const char* hour : {"00", "09", "10"}) store.AppendAlertHour({user, date, hour, {}, 0});  // a day counts once
  }
  store.AppendActivity({9, 20261202, "09"});
  store.Commit();
  using Days = std::map<int32_t, int64_t>;
  EXPECT_EQ(store.DaysPerDate(DayTable::kAlerts, 20261201, 20261203), (Days{{20261201, 2}, {20261203, 2}}));
  EXPECT_EQ(store.DaysPerDate(DayTable::kAlerts, 20261121, 20261130), Days{});
  using Newest = std::map<int32_t, int32_t>;
  EXPECT_EQ(store.NewestDays(DayTable::kAlerts), (Newest{{3, 20261203}, {7, 20261201}, {9, 20261120}, {40000, 20261203}}));
  EXPECT_EQ(store.NewestDays(DayTable::kActivity), (Newest{{9, 20261202}}));
}

}  // namespace praxtest

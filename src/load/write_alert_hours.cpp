#include "load/write_alert_hours.h"

#include <array>
#include <string_view>

#include "platform/run_context.h"
#include "logs/file_list.h"
#include "platform/numbers.h"

namespace prax {

namespace {

using R = AlertCounts::Row;

// The counted columns in column order: row and level of the counters.
struct CountColumn {
  std::string_view name;
  int row, level;
};

constexpr std::array<CountColumn, 37> kCountColumns{{
    {"Key_L1_Given", R::kKeyGiven, 1},         {"Key_L2_Given", R::kKeyGiven, 2},
    {"Key_L3_Given", R::kKeyGiven, 3},         {"Key_L4_Given", R::kKeyGiven, 4},
    {"Key_L5_Given", R::kKeyGiven, 5},         {"Key_L1_Taken", R::kKeyTaken, 1},
    {"Key_L2_Taken", R::kKeyTaken, 2},         {"Key_L3_Taken", R::kKeyTaken, 3},
    {"Key_L4_Taken", R::kKeyTaken, 4},         {"Key_L5_Taken", R::kKeyTaken, 5},
    {"Key_L1_Skipped", R::kKeySkipped, 1},     {"Key_L2_Skipped", R::kKeySkipped, 2},
    {"Key_L3_Skipped", R::kKeySkipped, 3},     {"Key_L4_Skipped", R::kKeySkipped, 4},
    {"Key_L5_Skipped", R::kKeySkipped, 5},     {"Key_Work_Mins", R::kKeyWorkMins, 0},
    {"Keystrokes", R::kKeystrokes, 0},         {"Mouse_L1_Given", R::kMouseGiven, 1},
    {"Mouse_L2_Given", R::kMouseGiven, 2},     {"Mouse_L3_Given", R::kMouseGiven, 3},
    {"Mouse_L4_Given", R::kMouseGiven, 4},     {"Mouse_L5_Given", R::kMouseGiven, 5},
    {"Mouse_L1_Taken", R::kMouseTaken, 1},     {"Mouse_L2_Taken", R::kMouseTaken, 2},
    {"Mouse_L3_Taken", R::kMouseTaken, 3},     {"Mouse_L4_Taken", R::kMouseTaken, 4},
    {"Mouse_L5_Taken", R::kMouseTaken, 5},     {"Mouse_L1_Skipped", R::kMouseSkipped, 1},
    {"Mouse_L2_Skipped", R::kMouseSkipped, 2}, {"Mouse_L3_Skipped", R::kMouseSkipped, 3},
    {"Mouse_L4_Skipped", R::kMouseSkipped, 4}, {"Mouse_L5_Skipped", R::kMouseSkipped, 5},
    {"Mouse_Work_Mins", R::kMouseWorkMins, 0}, {"Mouse_Seconds", R::kMouseSeconds, 0},
    {"StretchTimers_Given", R::kStretch, 0},   {"Restarts", R::kRestarts, 0},
    {"Settings_Cycled", R::kCycled, 0},
}};

}  // namespace

void WriteAlertHours(RunContext& ctx, const AlertCounts& counts, std::string_view entry, db::Recordset& alertRs) {
  const int64_t dateKey = EntryDateKey(entry);
  for (int h = 0; h < AlertCounts::kSlots; ++h) {
    if (!counts.SlotHasCount(h)) continue;
    alertRs.AddNew();
    alertRs.Set("User_Num", db::Value(int64_t{ctx.CurrentUser}));
    alertRs.Set("Data_Date", db::Value(dateKey));
    alertRs.Set("Data_Hour", db::Value(num::ZeroPadded(h, "00")));
    for (const CountColumn& col : kCountColumns) {
      alertRs.Set(col.name, db::Value(int64_t{counts.At(h, col.row, col.level)}));
    }
    alertRs.Set("Error_Keys", db::Value(0));
    alertRs.Update();
  }
}

}  // namespace prax

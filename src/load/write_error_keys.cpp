#include "load/write_error_keys.h"

#include "platform/run_context.h"
#include "platform/error.h"
#include "platform/numbers.h"

namespace prax {

namespace {

constexpr int kErrorKeys[] = {kBackspaceKey, kDeleteKey};

int32_t DayKeyAt(const FileList& fileList, int position) {
  if (position < 1 || static_cast<std::size_t>(position) >= fileList.size()) {
    throw Error(err::kSubscript, "Subscript out of range: no log file at position " + std::to_string(position));
  }
  return EntryDateKey(fileList[static_cast<std::size_t>(position)]);
}

struct KeyRow {
  int32_t user;
  int32_t dayKey;
  int16_t hourSlot;
  int16_t appId, windowId, projId, taskId;
  int keyNum;
  int32_t count;
};

// Data_Hour: the slot formatted "00"; the slots of a day without the
// general formatter, which shows up on a row this frequent.
std::string HourText(int16_t hourSlot) {
  if (hourSlot >= 0 && hourSlot <= 99) {
    return std::string{static_cast<char>('0' + hourSlot / 10), static_cast<char>('0' + hourSlot % 10)};
  }
  return num::ZeroPadded(hourSlot, "00");
}

// One ActivitySystem row. A refused row is discarded before the error goes on,
// so that the record set is ready for the next row.
void AppendKeyRow(db::Recordset& rs, const KeyRow& row) {
  rs.AddNew();
  try {
    rs.Set("User_Num", row.user);
    rs.Set("Data_Date", row.dayKey);
    rs.Set("Data_Hour", HourText(row.hourSlot));
    rs.Set("App_Id", int{row.appId});
    rs.Set("Window_Id", int{row.windowId});
    rs.Set("Proj_Id", int{row.projId});
    rs.Set("Task_Id", int{row.taskId});
    rs.Set("Key_Num", row.keyNum);
    rs.Set("Key_Count", row.count);
    rs.Update();
  } catch (const Error&) {
    TryStep([&] { rs.CancelUpdate(); });
    throw;
  }
}

}  // namespace

void WriteLineErrorKeys(const RunContext& ctx, const ActivityParserState& state, const FileList& fileList,
                        int position, int16_t hourSlot, db::Recordset& activityRs) {
  int32_t dayKey = 0;
  bool dayKnown = false;  // the date is formed at the first row to write
  for (int key : kErrorKeys) {
    const int32_t count = state.LineKeyCounts[static_cast<std::size_t>(key)];
    if (count == 0) continue;
    if (!dayKnown) {
      dayKey = DayKeyAt(fileList, position);
      dayKnown = true;
    }
    AppendKeyRow(activityRs, KeyRow{ctx.CurrentUser, dayKey, hourSlot, ctx.CurAppId, ctx.CurWindowId, ctx.CurProjId,
                                    ctx.CurTaskId, key, count});
  }
}

void WriteDayErrorKeys(const RunContext& ctx, const ActivityParserState& state, const FileList& fileList,
                       int position, db::Recordset& activityRs) {
  int32_t dayKey = 0;
  bool dayKnown = false;  // the date is formed at the first row to write
  for (int h = 0; h < kHourSlots; ++h) {
    for (int key : kErrorKeys) {
      const int32_t count = state.HourKeyCounts[static_cast<std::size_t>(h)][static_cast<std::size_t>(key)];
      if (count == 0) continue;
      if (!dayKnown) {
        dayKey = DayKeyAt(fileList, position);
        dayKnown = true;
      }
      AppendKeyRow(activityRs, KeyRow{ctx.CurrentUser, dayKey, static_cast<int16_t>(h), -1, -1, -1, -1, key, count});
    }
  }
}

}  // namespace prax

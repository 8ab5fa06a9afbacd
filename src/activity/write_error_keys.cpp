#include "activity/write_error_keys.h"

#include "app/run_context.h"
#include "platform/error.h"
#include "platform/vbnum.h"

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

// One ActivitySystem row. A refused row is discarded before the error goes on,
// so that the record set is ready for the next row.
void AppendKeyRow(db::Recordset& rs, const KeyRow& row) {
  rs.AddNew();
  try {
    rs.Set("User_Num", row.user);
    rs.Set("Data_Date", row.dayKey);
    rs.Set("Data_Hour", vb::Format(row.hourSlot, "00"));
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
  for (int key : kErrorKeys) {
    const int32_t count = state.LineKeyCounts[static_cast<std::size_t>(key)];
    if (count == 0) continue;
    AppendKeyRow(activityRs, KeyRow{ctx.CurrentUser, DayKeyAt(fileList, position), hourSlot, ctx.CurAppId,
                                    ctx.CurWindowId, ctx.CurProjId, ctx.CurTaskId, key, count});
  }
}

void WriteDayErrorKeys(const RunContext& ctx, const ActivityParserState& state, const FileList& fileList,
                       int position, db::Recordset& activityRs) {
  for (int h = 0; h < kHourSlots; ++h) {
    for (int key : kErrorKeys) {
      const int32_t count = state.HourKeyCounts[static_cast<std::size_t>(h)][static_cast<std::size_t>(key)];
      if (count == 0) continue;
      AppendKeyRow(activityRs, KeyRow{ctx.CurrentUser, DayKeyAt(fileList, position), static_cast<int16_t>(h), -1, -1,
                                      -1, -1, key, count});
      }
  }
}

}  // namespace prax

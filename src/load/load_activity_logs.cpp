#include "load/load_activity_logs.h"

#include <new>
#include <variant>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/lines.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace prax {

namespace {

using store::HistoryList;

// The log of an entry: a dated entry ("yy-mm-dd" & century & "*") gives
// UserDir\yyyymmdd.PXT, a day-number entry ("yy-mm-dd" & nnn) UserDir\PRAXnnn.PXT.
std::string ActivityLogPath(std::string_view userDir, std::string_view entry) {
  std::string path(userDir);
  if (text::EndsWith(entry, "*")) {
    path += '\\';
    path += text::SliceAt(entry, 9, 2);
    path += text::SliceAt(entry, 1, 2);
    path += text::SliceAt(entry, 4, 2);
    path += text::SliceAt(entry, 7, 2);
  } else {
    path += "\\PRAX";
    path += text::SliceAt(entry, 9, 3);
  }
  path += ".PXT";
  return path;
}

class ActivityDayWriter {
 public:
  ActivityDayWriter(LoadContext& load, int32_t date) : load_(load), date_(date) {}

  void operator()(const LineBooked& e) {
    TryStep([&] { ids().app = load_.Lookup(HistoryList::kApplications, e.app); });
    TryStep([&] { ids().window = load_.Lookup(HistoryList::kWindows, e.window); });
    if (!e.writeKeys) return;
    TryStep([&] {
      KeyRow(e.hourSlot, kBackspaceKey, e.backspaces, ids());
      KeyRow(e.hourSlot, kDeleteKey, e.deletes, ids());
    });
  }

  void operator()(const ProjectDeclared& e) {
    if (!e.project.empty()) TryStep([&] { ids().project = load_.Lookup(HistoryList::kProjects, e.project); });
    if (!e.task.empty()) TryStep([&] { ids().task = load_.Lookup(HistoryList::kTasks, e.task); });
  }

  void operator()(const NoteDeclared& e) {
    TryStep([&] { ids().note = load_.Lookup(HistoryList::kNotes, e.note); });
    std::optional<std::string> minute;
    if (!e.minute.empty()) minute = StoredText(e.minute);  // no data line yet: no minute
    TryStep([&] {
      load_.store.AppendProjectNote(
          {load_.user, date_, StoredText(e.hour), minute, ids().project, ids().task, ids().note});
    });
  }

  // The day's rows: slot 0 (the whole day) first, key 8 before key 46.
  void DayRows(const ActivityDay& day) {
    const CurrentIds none{0, 0, 0, 0, -1, -1, -1, -1};
    TryStep([&] {
      for (int h = 0; h < kHourSlots; ++h) {
        const auto& keys = day.errorKeys[static_cast<std::size_t>(h)];
        KeyRow(static_cast<int16_t>(h), kBackspaceKey, keys[0], none);
        KeyRow(static_cast<int16_t>(h), kDeleteKey, keys[1], none);
      }
    });
  }

 private:
  CurrentIds& ids() { return load_.ids; }

  void KeyRow(int16_t hourSlot, int key, int32_t count, const CurrentIds& with) {
    if (count == 0) return;
    load_.store.AppendActivity(
        {load_.user, date_, ActivityHourText(hourSlot), with.app, with.window, with.project, with.task, key, count});
  }

  LoadContext& load_;
  int32_t date_;
};

}  // namespace

std::string ActivityHourText(int16_t hourSlot) {
  // The slots of a day without the general formatter, which shows up on a row this frequent.
  if (hourSlot >= 0 && hourSlot <= 99) {
    return std::string{static_cast<char>('0' + hourSlot / 10), static_cast<char>('0' + hourSlot % 10)};
  }
  return num::ZeroPadded(hourSlot, "00");
}

void StoreActivityDay(LoadContext& load, int32_t date, const ActivityDay& day) {
  ActivityDayWriter writer(load, date);
  for (const ActivityEvent& event : day.events) std::visit(writer, event);
  writer.DayRows(day);
}

int LoadActivityLogs(LoadContext& load, std::string_view userDir, const FileList& fileList) {
  Status& status = load.status;
  status.SetStatus("Updating history database from Activity System...");

  int16_t n = 0;
  TryStep([&] { n = num::RoundToInt16(static_cast<double>(fileList.empty() ? 0 : fileList.size() - 1)); });

  int parsed = 0;
  for (int i = 1; i <= n; ++i) {
    const std::string& entry = fileList[static_cast<std::size_t>(i)];

    // A day counts as loaded once the user's rows hold its date. A day whose
    // date cannot be formed is left for a later run.
    int32_t date = 0;
    bool due = false;
    TryStep([&] {
      date = EntryDateKey(entry);
      due = !load.store.DayLoaded(store::DayTable::kActivity, load.user, date);
    });
    std::string path;
    if (due) TryStep([&] { path = ActivityLogPath(userDir, entry); });
    if (due && !LeftForLater(load, entry, path)) {
      ++parsed;
      try {
        load.ids.window = load.ids.project = load.ids.task = -1;
        ActivityDay day;
        try {
          const std::string bytes = ReadLogBytes(path);
          day = ParseActivityDay(bytes, {load.run.AppsNoPresent, load.run.KeysMax}, load.activityCarry);
        } catch (const Error& e) {
          RethrowEnvironment(e);
          status.PassedOver("    Activity log not read: " + fs::ForDisplay(path) + " (" + e.what() + ")");
          // A day without an activity log is usual; anything else is shown.
          if (e.Number() != err::kFileNotFound) status.SetStatus("Activity log skipped: " + std::string(e.what()));
        }
        StoreActivityDay(load, date, day);
        load.store.MarkErrorKeysPending(load.user, date);
      } catch (const Error& e) {
        throw e.WithContext("Activity log " + path);
      } catch (const std::bad_alloc&) {
        throw OutOfMemory("Activity log " + path);
      }
      // A day is stored whole or not at all. A commit that fails (a full
      // disk, say) ends the job rather than being passed over.
      load.store.Commit();
    }

    status.SetFilePercent(num::ProgressPercent(i, n));
    status.Yield();
  }

  status.EndBusy();
  return parsed;
}

}  // namespace prax

#include "load/load_activity_logs.h"

#include <new>
#include <variant>

#include "load/day_source.h"

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/lines.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace prax {

namespace {

using store::HistoryList;

class ActivityDayWriter {
 public:
  ActivityDayWriter(LoadContext& load, int32_t date, const ActivityDay& day) : load_(load), date_(date), day_(day) {}

  void operator()(const LineBooked& e) {
    // With APPS.NO a line names nothing: the ids stay as they are (the blank
    // names would only be refused) and the line is not taken for a damaged one.
    if (!load_.run.AppsNoPresent) {
      TryStep(&load_.status, "ApplicationsList", [&] { ids().app = load_.Lookup(HistoryList::kApplications, day_.Text(e.app)); });
      TryStep(&load_.status, "WindowsList", [&] { ids().window = load_.Lookup(HistoryList::kWindows, day_.Text(e.window)); });
    }
    if (!e.writeKeys) return;
    TryStep(&load_.status, "ActivitySystem", [&] {
      KeyRow(e.hourSlot, kBackspaceKey, e.backspaces, ids());
      KeyRow(e.hourSlot, kDeleteKey, e.deletes, ids());
    });
  }

  void operator()(const ProjectDeclared& e) {
    if (e.project.size != 0) TryStep(&load_.status, "ProjectsList", [&] {
      ids().project = load_.Lookup(HistoryList::kProjects, day_.Text(e.project));
    });
    if (e.task.size != 0) TryStep(&load_.status, "ProjectTasksList", [&] {
      ids().task = load_.Lookup(HistoryList::kTasks, day_.Text(e.task));
    });
  }

  void operator()(const NoteDeclared& e) {
    TryStep(&load_.status, "NotesList", [&] { ids().note = load_.Lookup(HistoryList::kNotes, day_.Text(e.note)); });
    std::optional<std::string> minute;
    if (e.minute.size != 0) minute = StoredText(day_.Text(e.minute));  // no data line yet: no minute
    TryStep(&load_.status, "ProjectNotes", [&] {
      load_.store.AppendProjectNote(
          {load_.user, date_, StoredText(day_.Text(e.hour)), minute, ids().project, ids().task, ids().note});
    });
  }

  // The day's rows: slot 0 (the whole day) first, key 8 before key 46.
  void DayRows(const ActivityDay& day) {
    const CurrentIds none{0, 0, 0, 0, -1, -1, -1, -1};
    TryStep(&load_.status, "ActivitySystem", [&] {
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
  const ActivityDay& day_;  // holds the texts of its events
};

}  // namespace

std::string ActivityHourText(int16_t hourSlot) {
  // The slots of a day without the general formatter, which shows up on a row this frequent.
  if (hourSlot >= 0 && hourSlot <= 99) {
    return std::string{static_cast<char>('0' + hourSlot / 10), static_cast<char>('0' + hourSlot % 10)};
  }
  return num::ZeroPadded(hourSlot, "00");
}

void StoreActivityDay(LoadContext& load, int32_t date, const ActivityDay& day, std::string_view bytes) {
  ActivityDayWriter writer(load, date, day);
  StoreEventsByLine(load.status, day, bytes, "ActivitySystem",
                    [&](const ActivityEvent& event) { std::visit(writer, event); });
  writer.DayRows(day);
}

int StoreActivityDays(LoadContext& load, std::size_t days, const std::function<PreparedDay()>& next,
                      std::mutex* storeLock, PassFigures* pass) {
  Status& status = load.status;
  status.SetStatus("Updating history database from Activity System...");

  int parsed = 0;
  for (std::size_t i = 1; i <= days; ++i) {
    PreparedDay d = next();
    i += d.span - 1;  // loaded days in a row come as one
    if (d.kind == PreparedDay::Kind::kLater) {
      status.PassedOver("left for a later run", fs::ForDisplay(d.path), LaterLine(load.run, d));
    } else if (d.kind != PreparedDay::Kind::kLoaded) {
      // Days read count; a log that could not be read is named below.
      if (d.kind == PreparedDay::Kind::kParsed) ++parsed;
      if (pass != nullptr && d.kind == PreparedDay::Kind::kParsed) ++pass->logsRead;
      try {
        if (d.kind == PreparedDay::Kind::kFailed) std::rethrow_exception(d.failure);
        load.ids.window = load.ids.project = load.ids.task = -1;
        if (d.kind == PreparedDay::Kind::kUnreadable) {
          status.PassedOver(d.why == err::kFileNotFound ? "no activity log" : "unreadable", fs::ForDisplay(d.path),
                            UnreadableLine(LogKind::kActivity, d));
          // A day without an activity log is usual; anything else is shown.
          if (d.why != err::kFileNotFound) status.SetStatus("Activity log skipped: " + d.reason);
        }
        status.RejectsFrom(fs::ForDisplay(d.path));
        WriteDay(load, storeLock, d, d.kind == PreparedDay::Kind::kParsed, pass,
                 [&] { StoreActivityDay(load, d.date, std::get<ActivityDay>(d.day), d.bytes); });
        status.EndLines();
      } catch (const Error& e) {
        if (d.path.empty()) throw;
        throw e.WithContext("Activity log " + fs::ForDisplay(d.path));
      } catch (const std::bad_alloc&) {
        throw OutOfMemory("Activity log " + fs::ForDisplay(d.path));
      }
    }
    status.SetFilePercent(num::ProgressPercent(static_cast<long long>(i), static_cast<long long>(days)));
    status.Yield();
  }

  status.EndBusy();
  return parsed;
}

}  // namespace prax

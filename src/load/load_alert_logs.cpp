#include "load/load_alert_logs.h"

#include <new>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "load/day_source.h"

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/lines.h"
#include "platform/numbers.h"

namespace prax {

namespace {

using store::HistoryList;
using R = AlertCounts::Row;

// The counted columns in column order: row and level of the counters.
struct CountCell {
  int row, level;
};
constexpr std::array<CountCell, store::kAlertCountColumns> kCountCells{{
    {R::kKeyGiven, 1},     {R::kKeyGiven, 2},     {R::kKeyGiven, 3},     {R::kKeyGiven, 4},     {R::kKeyGiven, 5},
    {R::kKeyTaken, 1},     {R::kKeyTaken, 2},     {R::kKeyTaken, 3},     {R::kKeyTaken, 4},     {R::kKeyTaken, 5},
    {R::kKeySkipped, 1},   {R::kKeySkipped, 2},   {R::kKeySkipped, 3},   {R::kKeySkipped, 4},   {R::kKeySkipped, 5},
    {R::kKeyWorkMins, 0},  {R::kKeystrokes, 0},   {R::kMouseGiven, 1},   {R::kMouseGiven, 2},   {R::kMouseGiven, 3},
    {R::kMouseGiven, 4},   {R::kMouseGiven, 5},   {R::kMouseTaken, 1},   {R::kMouseTaken, 2},   {R::kMouseTaken, 3},
    {R::kMouseTaken, 4},   {R::kMouseTaken, 5},   {R::kMouseSkipped, 1}, {R::kMouseSkipped, 2}, {R::kMouseSkipped, 3},
    {R::kMouseSkipped, 4}, {R::kMouseSkipped, 5}, {R::kMouseWorkMins, 0}, {R::kMouseSeconds, 0}, {R::kStretch, 0},
    {R::kRestarts, 0},     {R::kCycled, 0},
}};

std::optional<std::string> OptionalText(const std::optional<std::string>& cp1252) {
  if (!cp1252 || cp1252->empty()) return std::nullopt;
  return StoredText(*cp1252);
}

// The events of a day, in line order, with the ids current at each. The
// day's last entry is held until the day's events end, so that the notes
// after it reach it: it is appended whole when the next entry is accepted
// or at the end (Finish), its Note_Id Null when no note came.
class AlertDayWriter {
 public:
  AlertDayWriter(LoadContext& load, int32_t date) : load_(load), date_(date) {}

  void operator()(const ToolUsed& e) {
    TryStep(&load_.status, "EMSToolsList", [&] { ids().tool = load_.Lookup(HistoryList::kTools, e.tool); });
    TryStep(&load_.status, "EMSSystemUsage", [&] {
      load_.store.AppendSystemUsage({load_.user, e.date, OptionalText(e.hour), ids().tool});
    });
  }

  void operator()(const DiscomfortEntered& e) {
    TryStep(&load_.status, "BodyPartsList", [&] { ids().bodyPart = load_.Lookup(HistoryList::kBodyParts, e.bodyPart); });
    TryStep(&load_.status, "DiscomfortsList", [&] { ids().discomfort = load_.Lookup(HistoryList::kDiscomforts, e.discomfort); });
    // A refused entry stores nothing; the notes after it go to the entry
    // before.
    store::UserNoteRow row{load_.user,    date_, OptionalText(e.hour), OptionalText(e.minute),
                           ids().bodyPart, ids().discomfort, std::nullopt};
    const store::TableRow values = store::ToTableRow(row);
    if (!TryStep(&load_.status, "UserNotes", [&] { store::CheckRow(store::RowTable(values.kind), values.values); })) return;
    TryStep(&load_.status, "UserNotes", [&] { Finish(); });
    entry_ = std::move(row);
  }

  void operator()(const EntryNoted& e) {
    TryStep(&load_.status, "NotesList", [&] { ids().note = load_.Lookup(HistoryList::kNotes, e.note); });
    if (entry_) entry_->noteId = ids().note;
  }

  // Appends the entry held.
  void Finish() {
    if (!entry_) return;
    const store::UserNoteRow row = *std::exchange(entry_, std::nullopt);
    load_.store.AppendUserNote(row);
  }

 private:
  CurrentIds& ids() { return load_.ids; }

  LoadContext& load_;
  int32_t date_;
  std::optional<store::UserNoteRow> entry_;  // the day's last entry, not yet appended
};

}  // namespace

void StoreAlertDay(LoadContext& load, int32_t date, const AlertDay& day, std::string_view bytes) {
  AlertDayWriter writer(load, date);
  StoreEventsByLine(load.status, day, bytes, "AlertSystem", [&](const AlertEvent& event) { std::visit(writer, event); });
  TryStep(&load.status, "UserNotes", [&] { writer.Finish(); });

  for (int h = 0; h < AlertCounts::kSlots; ++h) {
    if (!day.counts.SlotHasCount(h)) continue;
    store::AlertHourRow row{load.user, date, num::ZeroPadded(h, "00"), {}, 0};
    for (std::size_t c = 0; c < kCountCells.size(); ++c) row.counts[c] = day.counts.At(h, kCountCells[c].row, kCountCells[c].level);
    load.store.AppendAlertHour(row);
  }
}

int StoreAlertDays(LoadContext& load, std::size_t days, const std::function<PreparedDay()>& next,
                   std::mutex* storeLock, PassFigures* pass) {
  Status& status = load.status;
  status.SetStatus("Updating history database from AlertSystem...");
  bool strict = false;  // from the first write on, a failure ends the loader
  int loaded = 0;

  for (std::size_t i = 1; i <= days; ++i) {
    const PreparedDay d = next();
    i += d.span - 1;  // loaded days in a row come as one
    const auto named = [&](const Error& e) { return e.WithContext("Alert log " + fs::ForDisplay(d.path)); };
    try {
      switch (d.kind) {
        case PreparedDay::Kind::kFailed:
          std::rethrow_exception(d.failure);
        case PreparedDay::Kind::kLoaded:
          break;
        case PreparedDay::Kind::kLater:
          // Still being written, perhaps; a later run loads it whole.
          status.PassedOver("left for a later run", fs::ForDisplay(d.path), LaterLine(load.run, d));
          break;
        case PreparedDay::Kind::kUnreadable:
          // Nothing of the day is written, so the next run tries it again.
          status.UpdateLog(LoadingLine(d));
          status.PassedOver("unreadable", fs::ForDisplay(d.path), UnreadableLine(LogKind::kAlert, d));
          status.SetStatus("Alert log skipped: " + d.reason);
          break;
        case PreparedDay::Kind::kParsed: {
          status.UpdateLog(LoadingLine(d));
          strict = true;
          if (pass != nullptr && d.present) ++pass->logsRead;
          status.RejectsFrom(fs::ForDisplay(d.path));
          WriteDay(load, storeLock, d, d.present, pass,
                   [&] { StoreAlertDay(load, d.date, std::get<AlertDay>(d.day), d.bytes); });
          status.EndLines();
          if (d.present) ++loaded;
          break;
        }
      }
    } catch (const Error& e) {
      // Before the first write a failing search passes the day over; a
      // failure of the machine never does.
      if (strict || e.Environment()) throw named(e);
    } catch (const std::bad_alloc&) {
      throw OutOfMemory("Alert log " + fs::ForDisplay(d.path));
    }
    status.SetFilePercent(num::ProgressPercent(static_cast<long long>(i), static_cast<long long>(days)));
    status.Yield();
  }

  status.EndBusy();
  return loaded;
}

}  // namespace prax

#pragma once
// The History database PRAXDATA.MDB as the load sees it: typed rows in, and
// the few reads the load makes. SQLite (sqlite_history_store) is the engine
// shipped; a server engine implements the same interface.
//
// Every append checks its row against the columns first (schema.h,
// CheckValue): a refused row throws a data Error and stores nothing, and
// never undoes rows stored before it. Failures of the machine (a busy or
// locked file, I/O, a full disk) throw environment Errors.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/sqlite_file.h"
#include "store/list_ids.h"
#include "store/schema.h"

namespace prax::store {

// A stored row, for the few rows the load rewrites.
using RowId = int64_t;

enum class HistoryList : int { kApplications, kWindows, kProjects, kTasks, kNotes, kBodyParts, kDiscomforts, kTools };
inline constexpr int kHistoryListCount = 8;

// The tables a day's load adds to, for "is this day loaded".
enum class DayTable { kAlerts, kActivity };

// The counted columns of an AlertSystem row, in column order: Key_L1_Given
// .. Key_L5_Given, Key_L1_Taken .. Key_L5_Taken, Key_L1_Skipped ..
// Key_L5_Skipped, Key_Work_Mins, Keystrokes, the same thirteen for Mouse
// (Mouse_Seconds for Keystrokes), StretchTimers_Given, Restarts,
// Settings_Cycled.
inline constexpr int kAlertCountColumns = 37;

struct AlertHourRow {
  int32_t user = 0;
  int32_t date = 0;   // yyyymmdd
  std::string hour;   // "00" (the day) to "24"
  std::array<int64_t, kAlertCountColumns> counts{};
  int64_t errorKeys = 0;
};

struct SystemUsageRow {  // EMSSystemUsage
  int32_t user = 0;
  std::optional<int64_t> date;
  std::optional<std::string> hour;
  int64_t toolId = 0;
};

struct UserNoteRow {  // UserNotes
  int32_t user = 0;
  int32_t date = 0;
  std::optional<std::string> hour, minute;
  int64_t bodyPartId = 0, discomfortId = 0;
  std::optional<int64_t> noteId;  // Null when no note followed the entry
};

struct ProjectNoteRow {  // ProjectNotes
  int32_t user = 0;
  int32_t date = 0;
  std::optional<std::string> hour, minute;
  int64_t projectId = 0, taskId = 0, noteId = 0;
};

struct ActivityRow {  // ActivitySystem
  int32_t user = 0;
  int32_t date = 0;
  std::string hour;
  int64_t appId = 0, windowId = 0, projectId = 0, taskId = 0;
  int64_t keyNum = 0, keyCount = 0;
};

// The kinds of row the load appends, each to one History table whose every
// column it fills, in column order.
enum class RowKind { kAlertHour, kSystemUsage, kUserNote, kProjectNote, kActivity };
inline constexpr int kRowKindCount = 5;
struct TableRow {
  RowKind kind;
  std::vector<db::Value> values;  // one a column, in column order
};
TableRow ToTableRow(const AlertHourRow& row);
TableRow ToTableRow(const SystemUsageRow& row);
TableRow ToTableRow(const UserNoteRow& row);
TableRow ToTableRow(const ProjectNoteRow& row);
TableRow ToTableRow(const ActivityRow& row);
// The values of the most frequent row, without a vector of their own.
std::array<db::Value, 9> RowValues(const ActivityRow& row);
// The table of a row kind, of a list, as HistorySchema describes them (a
// list: the id column, then the name column).
const db::TableDef& RowTable(RowKind kind);
const db::TableDef& ListTableDef(HistoryList list);
// Throws the data Error either engine refuses a row of `table` with:
// CheckValue of each value, and 3146 for a text that starts with a NUL
// character (the file's length check counts the characters before the
// first NUL).
void CheckRow(const db::TableDef& table, std::span<const db::Value> values);

// What the load keeps beside the History tables (report tools may ignore
// it): the user-days whose error keys are still to be worked out.
inline constexpr const char* kPendingTable = "ErrorKeysPending";

// A whole-application (App_Id -1) ActivitySystem row of a user, as stored.
struct StoredKeyCount {
  std::optional<int64_t> date;
  std::optional<std::string> hour;
  std::optional<int64_t> keyNum, keyCount;
};

// An AlertSystem row of a user, as stored.
struct StoredAlertHour {
  RowId row = 0;
  std::optional<int64_t> date;
  std::optional<std::string> hour;
  std::optional<int64_t> errorKeys;
};

// The dates first..last (yyyymmdd keys, both included).
struct DateSpan {
  int32_t first = 0, last = 0;
};

class HistoryStore {
 public:
  virtual ~HistoryStore() = default;

  // Whether the table holds any row of the user for the day.
  virtual bool DayLoaded(DayTable table, int32_t user, int32_t date) = 0;
  // The dates from `first` to `last` for which the table holds a row of the
  // user, in ascending order: DayLoaded of a whole list of days at once, read
  // through the day index one step per date found, so that its cost follows
  // the days asked about and not the rows they hold.
  virtual std::vector<int32_t> LoadedDates(DayTable table, int32_t user, int32_t first, int32_t last) = 0;
  virtual ListTable& List(HistoryList list) = 0;

  virtual void Append(TableRow row) = 0;
  // Append of a row given as its values, which the store may move from; a
  // store that keeps rows without a vector each overrides it.
  virtual void AppendValues(RowKind kind, std::span<db::Value> values) {
    Append(TableRow{kind, {std::make_move_iterator(values.begin()), std::make_move_iterator(values.end())}});
  }
  void AppendAlertHour(const AlertHourRow& row) { Append(ToTableRow(row)); }
  void AppendSystemUsage(const SystemUsageRow& row) { Append(ToTableRow(row)); }
  void AppendUserNote(const UserNoteRow& row) { Append(ToTableRow(row)); }
  void AppendProjectNote(const ProjectNoteRow& row) { Append(ToTableRow(row)); }
  void AppendActivity(const ActivityRow& row) {
    auto values = RowValues(row);
    AppendValues(RowKind::kActivity, values);
  }

  // The error-keys step: the user's whole-application activity rows (in no
  // particular order: they are summed), the user's alert rows in stored order
  // (both of the dates first..last, or of every date), and the rewrite of one
  // Error_Keys (refused beyond 16 bits).
  virtual std::vector<StoredKeyCount> WholeApplicationKeyCounts(int32_t user, std::optional<DateSpan> dates) = 0;
  virtual std::vector<StoredAlertHour> AlertHours(int32_t user, std::optional<DateSpan> dates) = 0;
  virtual void SetErrorKeys(RowId row, int64_t errorKeys) = 0;

  // The user-days whose error keys are still to be worked out: a loader marks
  // a day in the transaction that stores its rows, the error-keys step clears
  // it in the transaction that writes its sums, so a run cut short at any
  // moment leaves the work for the next.
  virtual void MarkErrorKeysPending(int32_t user, int32_t date) = 0;
  virtual std::vector<int32_t> ErrorKeysPending(int32_t user) = 0;
  virtual void ClearErrorKeysPending(int32_t user, std::optional<int32_t> date) = 0;
  // True when the file kept no record of pending work before this open (a
  // file an earlier version wrote): every user-day is to be worked out once.
  virtual bool ErrorKeysUntracked() const = 0;

  // What the run report reads, through the day indexes: the user-days per
  // date of from..to (yyyymmdd, both included), and each user's newest date.
  virtual std::map<int32_t, int64_t> DaysPerDate(DayTable table, int32_t from, int32_t to) = 0;
  virtual std::map<int32_t, int32_t> NewestDays(DayTable table) = 0;

  // A day is stored whole or not at all: Commit after each, Rollback when
  // the machine failed under it.
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // Commits and releases the database; see SqliteFile::Close and LeftInUse.
  virtual void Close() = 0;
  virtual const std::string& LeftInUse() const = 0;
  // Rows added by the committed transactions, by table as the schema names
  // it (every History table present, 0 for none).
  virtual std::map<std::string, int64_t> RowsAdded() const = 0;
};

// The History tables in creation order, with their fields in column order
// and their one index each.
const std::vector<db::TableDef>& HistorySchema();
// Rows counted by table as RowsAdded gives them: every History table, 0
// where `counted` has none.
std::map<std::string, int64_t> EveryHistoryTable(const std::map<std::string, int64_t>& counted);

// Opens PRAXDATA.MDB (an SQLite file) for a load: read-write, the
// write-ahead log where the file is local. Tables are found whatever the
// letter case of their stored names; a missing table fails the first
// operation on it (3078).
std::unique_ptr<HistoryStore> OpenSqliteHistory(const std::filesystem::path& file,
                                                db::Journal journal = db::Journal::WalWhereLocal);

// Opens PRAXDATA.MDB only to read what is loaded: nothing is written in or
// beside the file (see db::Access::ReadOnly); a write fails.
std::unique_ptr<HistoryStore> OpenSqliteHistoryToRead(const std::filesystem::path& file);

// Builds a new, empty History file at `file`: the tables are created in
// `file`.building, which then replaces any earlier file in one step, so that
// a run killed meanwhile leaves the earlier file (or none), never a
// part-built one.
// `fileText` is path text (see fs::RealPath).
void CreateSqliteHistory(std::string_view fileText);
// Removes what a creation that was killed left beside `fileText` (the
// .building file and its journals).
void RemoveUnfinishedHistory(std::string_view fileText);

}  // namespace prax::store

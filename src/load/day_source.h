#pragma once
// The reading side of a load pass: for each user the list of logs, and for
// each listed day whether it is due and, when it is, its bytes parsed. It
// touches the store only to ask whether a day is loaded, and the status
// display not at all, so that it may run on a thread of its own ahead of the
// writing side (ParseAhead); the writing side gets the days in list order
// and the parsers' carry goes from day to day as it would on one thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "load/load_context.h"
#include "logs/file_list.h"
#include "platform/error.h"

namespace prax {

// One listed day as the reading side left it.
struct PreparedDay {
  enum class Kind {
    kFailed,      // a failure: `failure` holds it
    kLoaded,      // loaded before (or, for an activity log, its date cannot be formed)
    kLater,       // today's log, left for a later run
    kUnreadable,  // the log exists but cannot be read
    kParsed,      // read and parsed (an alert log that does not exist: an empty day)
  };
  Kind kind = Kind::kLoaded;
  // The list entries this item stands for: loaded days in a row go over as
  // one item, with neither log nor path.
  std::size_t span = 1;
  LogDay log;
  std::string path;
  int32_t date = 0;             // log.date
  bool present = true;          // an alert log exists
  bool future = false;          // dated after tomorrow: loaded, and said so
  ErrorKind why{};              // why a log is unreadable
  std::string reason;
  std::exception_ptr failure;
  std::variant<std::monostate, AlertDay, ActivityDay> day;
  std::string bytes;  // the log as read: the day's events point into it
};

// How many days of a list a loader goes through.
std::size_t DaysToLoad(LogKind kind, const FileList& files);
// Whether a log of this date may still be written by its client (today's,
// or tomorrow's of a client in a time zone ahead): left for a later run
// unless IncludeToday.
bool DueToday(const RunContext& run, int32_t date);
// Whether a log is dated after tomorrow: a client's wrong clock (one reset to
// 1970 names its logs 2070 by the two-digit year rule). Waiting would not
// help, so it is loaded under its date and named.
bool DatedInFuture(const RunContext& run, int32_t date);
// The lines that name a log being loaded, a log left for a later run, and a
// log dated in the future.
std::string LoadingLine(const PreparedDay& day);
std::string LaterLine(const RunContext& run, const PreparedDay& day);
std::string FutureDatedLine(const PreparedDay& day);
// The line that names a log that exists but could not be read.
std::string UnreadableLine(LogKind kind, const PreparedDay& day);
// Why a user directory's activity logs are not loaded: it holds more
// (`logs`) than a run goes through.
std::string TooManyActivityLogsText(const std::string& userDir, std::size_t logs);

// Tells the status the line each of a day's events came from (when the day
// records them) before its steps, and in line order among them the lines the
// parser could not count, as steps of `table` that failed; last the day as a
// whole (line 0).
template <class Day, class F>
void StoreEventsByLine(Status& status, const Day& day, std::string_view bytes, std::string_view table, F&& store) {
  const bool lined = day.lines.size() == day.events.size();
  std::size_t failed = 0;
  const auto failuresBefore = [&](int32_t line) {
    for (; failed < day.failures.size() && day.failures[failed].at.line < line; ++failed) {
      const LineFailure& f = day.failures[failed];
      status.AtLine(f.at.line, LineTextAt(bytes, f.at.offset));
      status.StepSkipped(table, Error(f.kind, "The line's counts are out of range", Cause::kData));
    }
  };
  for (std::size_t i = 0; i < day.events.size(); ++i) {
    if (lined) {
      failuresBefore(day.lines[i].line);
      status.AtLine(day.lines[i].line, LineTextAt(bytes, day.lines[i].offset));
    }
    store(day.events[i]);
  }
  failuresBefore(INT32_MAX);
  status.AtLine(0, {});
}

// A day of `date` written from its log by a pass: counted in the pass's
// figures (when given) and in the run's range of days loaded.
void CountDayLoaded(Status& status, PassFigures* pass, int32_t date);

// Writes one prepared day of load.user on the writing side: `write` stores
// its rows with `storeLock` (may be null) held, then the day is marked for
// the error-keys step in the same transaction, so a day is stored whole or
// not at all and a run cut short leaves no half-written day. Once its
// transaction is committed (load.commits), a day `counted` (one read from a
// log) is counted loaded and, dated in the future, named; a commit that fails
// (a full disk, say) ends the job and says neither.
template <class F>
void WriteDay(LoadContext& load, std::mutex* storeLock, const PreparedDay& day, bool counted, PassFigures* pass,
              F&& write) {
  std::unique_lock<std::mutex> lock;
  if (storeLock != nullptr) lock = std::unique_lock<std::mutex>(*storeLock);
  std::forward<F>(write)();
  load.store.MarkErrorKeysPending(load.user, day.date);
  load.commits.DayWritten(load.store, [&status = load.status, pass, counted, date = day.date,
                                       future = counted && day.future ? FutureDatedLine(day) : std::string()] {
    if (counted) CountDayLoaded(status, pass, date);
    if (!future.empty()) status.Warn(future);
  });
}

// One user of a pass as the reading side listed it.
struct PreparedUser {
  int32_t user = 0;
  std::string userDir;
  FileList files;
  std::vector<std::string> skipped;  // why folders and files were not read
  std::exception_ptr failure;
};

// Prepares the users and days of a pass in order.
class DayReader {
 public:
  DayReader(LoadContext& load, LogKind kind) : load_(load), kind_(kind) {}

  PreparedUser User(int32_t user);
  // The same with the user's directory listed already (on another thread),
  // when the pass has to list it.
  PreparedUser User(int32_t user, std::future<UserLogs> listed);
  // Whether User lists the user's directory: false when the alert pass kept
  // its activity logs.
  bool Lists(int32_t user) const;
  // With `parseLater`, a day due to be read is handed back unread with
  // *parseLater set: the caller reads and parses it.
  PreparedDay Day(const PreparedUser& user, std::size_t index, bool* parseLater = nullptr);
  // Reads a day's log into its bytes; false when it could not (the day then
  // says why). Safe on any thread.
  bool Read(PreparedDay& day) const;
  // Parses a day read with the carry given; false when that failed (the day
  // then says why, its bytes kept). Safe on any thread for a carry of its own.
  bool Parse(PreparedDay& day, AlertCarry& alert, ActivityCarry& activity, CarryUse* use) const;
  LogKind Kind() const { return kind_; }
  // In the alert pass: finds which dates of the activity logs User kept for
  // the activity pass are loaded, for that pass to take instead of probing.
  void ProbeKeptActivity(int32_t user);

  // Called before a day of a date already handed over for the same user is
  // probed: the writing side may not have stored it yet. Set by the pipeline
  // to wait until the writing side caught up.
  std::function<void()> catchUp;
  // Taken around every use of the store.
  std::mutex* storeLock = nullptr;

 private:
  bool Loaded(const PreparedUser& user, std::size_t index);

  LoadContext& load_;
  LogKind kind_;
  // The user whose list was probed, which of its days were found loaded
  // then (by list index), and the dates handed over since.
  std::optional<int32_t> probed_;
  std::vector<bool> loaded_;
  std::set<int32_t> handedOver_;
};

// Hands the writing side the users and days of a pass, either prepared on
// the spot or by a reading thread running ahead (at most 16 days waiting,
// besides the batch the writing side took last). With more
// than one parse thread the reading thread hands the days it finds due to
// that many workers, each parsing with a blank carry of its own, and takes
// them back in list order: a day whose parse read its carry is parsed again
// with the carry the days before it left; any other gives the same day
// whatever its carry, and the fields it set are taken into the job's carry.
class PassSource {
 public:
  PassSource(LoadContext& load, LogKind kind, int32_t userStart, int32_t userEnd, bool parseAhead);
  // How many threads parse with parseAhead: RunContext::ParseThreads, or
  // when that is 0 as many as the machine runs at once (at most 8).
  static int ParseThreads(const RunContext& run);
  ~PassSource();
  PassSource(const PassSource&) = delete;
  PassSource& operator=(const PassSource&) = delete;

  PreparedUser NextUser();
  PreparedDay NextDay();
  // The writing side holds it while it writes, so that the reading side's
  // probes never meet its statements.
  std::mutex& StoreLock() { return storeLock_; }

 private:
  using Item = std::variant<PreparedUser, PreparedDay>;
  // A day read and parsed by a worker, and the items after it in list order.
  struct Job {
    PreparedDay day;
    AlertCarry alertCarry;  // the day's own, blank at first
    ActivityCarry activityCarry;
    CarryUse use;
    bool read = false;    // the log read: parsed, or to be parsed again
    bool redo = false;    // to be parsed again with the job's carry
    bool done = false;
  };
  struct Waiting {
    std::optional<Item> item;  // ready
    std::unique_ptr<Job> job;  // else being parsed
  };
  void Produce();
  void Work();
  // Hands the waiting items over in list order: all of them, or those ready
  // and (`room`) as many more as needed to leave room for another job.
  bool Flush(bool all);
  // Hands over an item from the reading thread (false: the pass stops).
  bool Add(Item item);
  // Hands the reading thread's pending items over (false: the pass stops).
  bool Push();
  Item Pop();

  DayReader reader_;
  int32_t userStart_, userEnd_;
  bool ahead_;
  std::mutex storeLock_;
  // The queue between the threads.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  std::deque<Item> taken_;  // the writing side's: taken from queue_ at once
  bool writerWaiting_ = false;  // the writing side asks for the next item
  bool stop_ = false;
  std::vector<Item> pending_;  // the reading thread's, not yet handed over
  std::thread thread_;
  // With parse workers: the jobs given to them, those taken back in list
  // order, and the workers.
  LoadContext& load_;
  std::size_t workers_ = 0;
  std::mutex jobMutex_;
  std::condition_variable jobChanged_;
  std::deque<Job*> jobs_;
  bool workStop_ = false;
  std::deque<Waiting> waiting_;
  std::size_t parsing_ = 0;  // jobs among waiting_
  std::vector<std::thread> workerThreads_;
  // Without a reading thread: the user whose days are prepared on the spot.
  std::optional<PreparedUser> current_;
  std::size_t nextIndex_ = 0;
  int32_t nextUser_ = 0;
};

}  // namespace prax

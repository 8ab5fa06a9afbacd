#include "load/day_source.h"

#include <algorithm>

#include "logs/file_list.h"
#include "logs/user_dir.h"
#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/lines.h"
#include "platform/numbers.h"

namespace prax {

std::size_t DaysToLoad(LogKind kind, const FileList& files) {
  if (kind == LogKind::kAlert) return files.size();
  // The activity loader counts its days in 16 bits: a longer list loads none.
  int16_t n = 0;
  TryStep([&] { n = num::RoundToInt16(static_cast<double>(files.size())); });
  return static_cast<std::size_t>(n);
}

namespace {

// The day after a date key yyyymmdd.
int32_t NextDayKey(int32_t key) {
  int year = key / 10000, month = key / 100 % 100, day = key % 100 + 1;
  if (!dt::IsValid(year, month, day)) {
    day = 1;
    if (++month > 12) {
      month = 1;
      ++year;
    }
  }
  return year * 10000 + month * 100 + day;
}

}  // namespace

bool DueToday(const RunContext& run, int32_t date) {
  if (run.IncludeToday || !run.Today) return false;
  const int32_t today = run.Today();
  return date >= today && date <= NextDayKey(today);
}

bool DatedInFuture(const RunContext& run, int32_t date) {
  return run.Today && date > NextDayKey(run.Today());
}

void CountDayLoaded(Status& status, PassFigures* pass, int32_t date) {
  RunSummary& run = status.Summary();
  if (pass != nullptr) ++pass->daysLoaded;
  if (!run.firstDay || date < *run.firstDay) run.firstDay = date;
  if (!run.lastDay || date > *run.lastDay) run.lastDay = date;
}

std::string LoadingLine(const PreparedDay& day) {
  return (day.log.naming == LogNaming::kDate ? "    Loading-1: " : "    Loading-2: ") + day.log.Label();
}

std::string LaterLine(const RunContext& run, const PreparedDay& day) {
  return "    " + fs::ForDisplay(day.path) + ": left for a later run: " +
         (run.Today && day.date > run.Today() ? "tomorrow's log" : "today's log");
}

std::string FutureDatedLine(const PreparedDay& day) {
  return "    " + fs::ForDisplay(day.path) + ": dated in the future, " + num::ZeroPadded(day.date % 100, "00") + "/" +
         num::ZeroPadded(day.date / 100 % 100, "00") + "/" + std::to_string(day.date / 10000) +
         ": loaded under that date (the clock of the client that wrote it may be wrong)";
}

std::string UnreadableLine(LogKind kind, const PreparedDay& day) {
  const std::string path = fs::ForDisplay(day.path);
  return kind == LogKind::kAlert ? "    Skipped: " + path + ": " + day.reason
                                 : "    Activity log not read: " + path + " (" + day.reason + ")";
}

std::string TooManyActivityLogsText(const std::string& userDir, std::size_t logs) {
  return "User directory '" + fs::ForDisplay(userDir) + "': " + std::to_string(logs) +
         " activity logs, more than the 32767 a run goes through, so none of them is loaded (its alert logs are). "
         "Move older logs out of the folder, then run again.";
}

bool DayReader::Lists(int32_t user) const {
  return kind_ == LogKind::kAlert || !load_.listedActivity.contains(user);
}

PreparedUser DayReader::User(int32_t user) { return User(user, {}); }

PreparedUser DayReader::User(int32_t user, std::future<UserLogs> listed) {
  PreparedUser u;
  u.user = user;
  try {
    u.userDir = UserDirPath(load_.run.NetworkDir, user);
    // The user directory is listed once a job: the alert pass keeps the
    // activity logs it listed for the activity pass. A log that comes later
    // is loaded by the next run.
    ListedLogs logs;
    const auto kept = load_.listedActivity.find(user);
    if (kind_ == LogKind::kActivity && kept != load_.listedActivity.end()) {
      logs = std::move(kept->second);
      load_.listedActivity.erase(kept);
    } else {
      UserLogs both = listed.valid() ? listed.get() : BuildUserLogs(load_.run.NetworkDir, u.userDir);
      logs = std::move(kind_ == LogKind::kAlert ? both.alert : both.activity);
      if (kind_ == LogKind::kAlert) load_.listedActivity[user] = std::move(both.activity);
    }
    u.files = std::move(logs.files);
    u.skipped = std::move(logs.skipped);
  } catch (...) {
    u.failure = std::current_exception();
  }
  return u;
}

namespace {

// The path a day's log is read by: its folder and the name the listing found
// it under, to which the capitals of d.path resolve (d.path still names it in
// messages).
std::string ListedPath(const PreparedDay& d) {
  if (d.log.listedName.empty() || d.path.size() < d.log.fileName.size()) return d.path;
  return d.path.substr(0, d.path.size() - d.log.fileName.size()) + d.log.listedName;
}

// Which days of a list the store holds, given the dates it holds from the
// list's first date to its last in ascending order: the listed dates are
// walked in ascending order beside them.
std::vector<bool> ListedLoaded(const FileList& files, const std::vector<int32_t>& loaded) {
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return files[a].date < files[b].date; });
  std::vector<bool> flags(files.size());
  auto next = loaded.begin();
  for (const std::size_t i : order) {
    while (next != loaded.end() && *next < files[i].date) ++next;
    flags[i] = next != loaded.end() && *next == files[i].date;
  }
  return flags;
}

// The dates the History holds of `table` for `user` between the first and the
// last date of the list (none for an empty list), with `storeLock` (may be
// null) held.
std::vector<int32_t> LoadedInSpan(store::HistoryStore& store, std::mutex* storeLock, store::DayTable table,
                                  int32_t user, const FileList& files) {
  const auto [first, last] = std::minmax_element(files.begin(), files.end(),
                                                 [](const LogDay& a, const LogDay& b) { return a.date < b.date; });
  if (first == files.end()) return {};
  std::unique_lock<std::mutex> lock;
  if (storeLock != nullptr) lock = std::unique_lock<std::mutex>(*storeLock);
  return store.LoadedDates(table, user, first->date, last->date);
}

}  // namespace

// A History this command made holds no activity day yet, and the activity
// pass finds that out without reading it. Probing early there only lets the
// activity pass's reading side run further ahead of the writing side, which
// measured about 0.2 s slower on a fresh M into a server (5 s), probably as
// its parsing then competes with the server for the cores.
void DayReader::ProbeKeptActivity(int32_t user) {
  const auto kept = load_.listedActivity.find(user);
  if (kind_ != LogKind::kAlert || load_.run.FreshHistory || kept == load_.listedActivity.end() ||
      kept->second.files.empty()) {
    return;
  }
  try {
    load_.loadedActivity[user] = LoadedInSpan(load_.store, storeLock, store::DayTable::kActivity, user, kept->second.files);
  } catch (const Error&) {
    // Nothing is recorded: the activity pass probes again and says why a
    // probe failed.
  }
}

bool DayReader::Loaded(const PreparedUser& user, std::size_t index) {
  const auto table = kind_ == LogKind::kAlert ? store::DayTable::kAlerts : store::DayTable::kActivity;
  if (probed_ != user.user) {
    // The whole list at once, before any of its days is written: one read
    // of the dates loaded in the list's span, unless the alert pass read
    // them. A read that fails is tried again for the next day.
    std::vector<int32_t> dates;
    const auto probed = load_.loadedActivity.find(user.user);
    if (kind_ == LogKind::kActivity && probed != load_.loadedActivity.end()) {
      dates = std::move(probed->second);
      load_.loadedActivity.erase(probed);
    } else {
      dates = LoadedInSpan(load_.store, storeLock, table, user.user, user.files);
    }
    loaded_ = ListedLoaded(user.files, dates);
    handedOver_.clear();
    probed_ = user.user;
  }
  const int32_t date = user.files.at(index).date;
  if (handedOver_.insert(date).second) return loaded_.at(index);
  // A date listed twice: the writing side may not have stored the first yet.
  if (catchUp) catchUp();
  std::unique_lock<std::mutex> lock;
  if (storeLock != nullptr) lock = std::unique_lock<std::mutex>(*storeLock);
  return load_.store.DayLoaded(table, user.user, date);
}

PreparedDay DayReader::Day(const PreparedUser& user, std::size_t index, bool* parseLater) {
  PreparedDay d;
  const LogDay* log = nullptr;
  // A day loaded before goes over without its log's name or path.
  const auto named = [&] {
    if (log == nullptr || !d.path.empty()) return;
    d.log = *log;
    d.path = user.userDir + "\\" + log->fileName;
  };
  try {
    log = &user.files.at(index);
    d.date = log->date;
    if (kind_ == LogKind::kAlert) {
      if (Loaded(user, index)) return d;
    } else {
      // A day whose probe fails is left for a later run.
      bool due = false;
      TryStep([&] { due = !Loaded(user, index); });
      if (!due) return d;
    }
    named();
    if (DueToday(load_.run, d.date)) {
      d.kind = PreparedDay::Kind::kLater;
      return d;
    }
    d.kind = PreparedDay::Kind::kParsed;
    d.future = DatedInFuture(load_.run, d.date);
    if (kind_ == LogKind::kAlert && !(d.present = fs::Exists(ListedPath(d), true))) {
      d.day = AlertDay{};  // no log: nothing counted, no row
      return d;
    }
    if (parseLater != nullptr) {
      *parseLater = true;
      return d;
    }
  } catch (...) {
    named();
    d.kind = PreparedDay::Kind::kFailed;
    d.failure = std::current_exception();
    return d;
  }
  // The text of a line that fails its step stays with the day.
  if (Read(d) && !Parse(d, load_.alertCarry, load_.activityCarry, nullptr)) d.bytes.clear();
  return d;
}

namespace {

// Marks a day whose log could not be read or parsed: unreadable, or failed
// when what went wrong lies outside the log.
void Unread(LogKind kind, PreparedDay& d) {
  try {
    try {
      throw;
    } catch (const Error& e) {
      RethrowEnvironment(e);
      d.kind = PreparedDay::Kind::kUnreadable;
      d.why = e.Kind();
      d.reason = e.what();
      if (kind == LogKind::kActivity) d.day = ActivityDay{};
    }
  } catch (...) {
    d.kind = PreparedDay::Kind::kFailed;
    d.failure = std::current_exception();
  }
}

}  // namespace

bool DayReader::Read(PreparedDay& d) const {
  try {
    d.bytes = ReadLogBytes(ListedPath(d), kMaxLogBytes, d.path);
    return true;
  } catch (...) {
    Unread(kind_, d);
    return false;
  }
}

bool DayReader::Parse(PreparedDay& d, AlertCarry& alert, ActivityCarry& activity, CarryUse* use) const {
  try {
    if (kind_ == LogKind::kAlert) {
      d.day = ParseAlertDay(d.bytes, alert, use);
    } else {
      d.day = ParseActivityDay(d.bytes, {load_.run.AppsNoPresent, load_.run.KeysMax}, activity, use);
    }
    return true;
  } catch (...) {
    Unread(kind_, d);
    return false;
  }
}

int PassSource::ParseThreads(const RunContext& run) {
  if (run.ParseThreads > 0) return std::min(run.ParseThreads, 64);
  // As many as the processors: the writing thread waits on its file as
  // much as it computes, and the reading thread mostly waits on the workers.
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cores, 1, 8);
}

PassSource::PassSource(LoadContext& load, LogKind kind, int32_t userStart, int32_t userEnd, bool parseAhead)
    : reader_(load, kind), userStart_(userStart), userEnd_(userEnd), ahead_(parseAhead), load_(load),
      nextUser_(userStart) {
  if (!ahead_) return;
  reader_.storeLock = &storeLock_;
  reader_.catchUp = [this] {
    // Every day handed over is written once the writing side asks for more
    // and nothing is left.
    if (!Flush(true) || !Push()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || (queue_.empty() && writerWaiting_); });
  };
  const int threads = ParseThreads(load.run);
  if (threads > 1) workers_ = static_cast<std::size_t>(threads);
  for (std::size_t i = 0; i < workers_; ++i) workerThreads_.emplace_back([this] { Work(); });
  thread_ = std::thread([this] { Produce(); });
}

PassSource::~PassSource() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  // The reading thread may have waited for a job until it stopped: the
  // workers go last.
  {
    std::lock_guard<std::mutex> lock(jobMutex_);
    workStop_ = true;
  }
  jobChanged_.notify_all();
  for (std::thread& worker : workerThreads_) worker.join();
}

bool PassSource::Push() {
  constexpr std::size_t kAhead = 16;  // days read ahead at most: memory stays flat
  if (pending_.empty()) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return stop_ || queue_.size() < kAhead; });
  if (stop_) return false;
  for (Item& item : pending_) queue_.push_back(std::move(item));
  pending_.clear();
  changed_.notify_all();
  return true;
}

bool PassSource::Add(Item item) {
  // A user, or a day not parsed (one loaded before, say), carries no log's
  // rows and the writing side passes it at once: these go over together,
  // with the next parsed day, rather than with one wake-up of each thread
  // apiece.
  constexpr std::size_t kLightRun = 64;  // items handed over together at most
  const auto* day = std::get_if<PreparedDay>(&item);
  const bool light = day == nullptr || day->kind != PreparedDay::Kind::kParsed;
  if (day != nullptr && day->kind == PreparedDay::Kind::kLoaded && !pending_.empty()) {
    auto* last = std::get_if<PreparedDay>(&pending_.back());
    if (last != nullptr && last->kind == PreparedDay::Kind::kLoaded) {
      last->span += day->span;
      return true;
    }
  }
  pending_.push_back(std::move(item));
  return (light && pending_.size() < kLightRun) || Push();
}

void PassSource::Work() {
  for (;;) {
    Job* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(jobMutex_);
      jobChanged_.wait(lock, [this] { return workStop_ || !jobs_.empty(); });
      if (workStop_) return;
      job = jobs_.front();
      jobs_.pop_front();
    }
    job->read = reader_.Read(job->day);
    if (job->read) {
      job->redo = !reader_.Parse(job->day, job->alertCarry, job->activityCarry, &job->use) || job->use.read;
    }
    {
      std::lock_guard<std::mutex> lock(jobMutex_);
      job->done = true;
    }
    jobChanged_.notify_all();
  }
}

bool PassSource::Flush(bool all) {
  // Jobs given out at most: enough that no worker waits for the one the
  // reading thread waits for. Items waiting at most, however light.
  const std::size_t jobsOut = 2 * workers_;
  constexpr std::size_t kWaitingMax = 64;
  while (!waiting_.empty()) {
    Waiting& front = waiting_.front();
    if (front.job) {
      Job& job = *front.job;
      {
        std::unique_lock<std::mutex> lock(jobMutex_);
        if (!all && !job.done && parsing_ < jobsOut && waiting_.size() < kWaitingMax) return true;
        jobChanged_.wait(lock, [&job] { return job.done; });
      }
      PreparedDay& d = job.day;
      if (job.read && job.redo) {
        // Parsed again, as it would have been in turn.
        d.kind = PreparedDay::Kind::kParsed;
        d.why = {};
        d.reason.clear();
        d.failure = nullptr;
        d.day = std::monostate{};
        if (!reader_.Parse(d, load_.alertCarry, load_.activityCarry, nullptr)) d.bytes.clear();
      } else if (job.read && reader_.Kind() == LogKind::kAlert) {
        load_.alertCarry.Apply(job.alertCarry, job.use.set);
      } else if (job.read) {
        load_.activityCarry.Apply(job.activityCarry, job.use.set);
      }
      front.item = std::move(d);
      front.job.reset();
      --parsing_;
    }
    Item item = std::move(*front.item);
    waiting_.pop_front();
    if (!Add(std::move(item))) return false;
  }
  return true;
}

void PassSource::Produce() {
  // With workers every item waits its turn behind the days being parsed.
  const auto add = [this](Item item) {
    if (workers_ == 0) return Add(std::move(item));
    waiting_.push_back({std::move(item), nullptr});
    return Flush(false);
  };
  // The next user's directory is listed on a thread of its own while this
  // user's days are probed and parsed: the listing waits on the file system,
  // the probes on the History file.
  const auto listAhead = [this](int32_t u) {
    if (u > userEnd_ || !reader_.Lists(u)) return std::future<UserLogs>{};
    return std::async(std::launch::async, [dir = load_.run.NetworkDir, u] {
      return BuildUserLogs(dir, UserDirPath(dir, u));
    });
  };
  std::future<UserLogs> next = listAhead(userStart_);
  for (int32_t u = userStart_; u <= userEnd_; ++u) {
    PreparedUser user = reader_.User(u, std::move(next));
    next = listAhead(u + 1);
    // While the next user is listed, the alert pass also probes the activity
    // days of this one, so that the activity pass has no probe of its own to
    // wait on.
    reader_.ProbeKeptActivity(u);
    const std::size_t n = user.failure ? 0 : DaysToLoad(reader_.Kind(), user.files);
    const PreparedUser listed = user;
    if (!add(std::move(user))) return;
    for (std::size_t i = 0; i < n; ++i) {
      if (workers_ == 0) {
        if (!add(reader_.Day(listed, i))) return;
        continue;
      }
      bool parseLater = false;
      PreparedDay day = reader_.Day(listed, i, &parseLater);
      if (!parseLater) {
        if (!add(std::move(day))) return;
        continue;
      }
      auto job = std::make_unique<Job>();
      job->day = std::move(day);
      {
        std::lock_guard<std::mutex> lock(jobMutex_);
        jobs_.push_back(job.get());
      }
      jobChanged_.notify_one();
      waiting_.push_back({std::nullopt, std::move(job)});
      ++parsing_;
      if (!Flush(false)) return;
    }
  }
  if (Flush(true)) Push();
}

PassSource::Item PassSource::Pop() {
  // The writing side takes all that was handed over at once: one wake-up
  // of the reading thread per batch rather than per item.
  if (taken_.empty()) {
    std::unique_lock<std::mutex> lock(mutex_);
    writerWaiting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !queue_.empty(); });
    writerWaiting_ = false;
    taken_.swap(queue_);
    changed_.notify_all();
  }
  Item item = std::move(taken_.front());
  taken_.pop_front();
  return item;
}

PreparedUser PassSource::NextUser() {
  if (ahead_) return std::get<PreparedUser>(Pop());
  current_ = reader_.User(nextUser_++);
  nextIndex_ = 0;
  return *current_;
}

PreparedDay PassSource::NextDay() {
  if (ahead_) return std::get<PreparedDay>(Pop());
  return reader_.Day(*current_, nextIndex_++);
}

}  // namespace prax

#include "app/dry_run.h"

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "app/execute_command.h"
#include "app/startup.h"
#include "load/day_source.h"
#include "load/load_context.h"
#include "logs/user_dir.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/numbers.h"
#include "platform/run_lock.h"
#include "roster/user_slot_count.h"
#include "store/history_store.h"
#include "store/journal_guard.h"
#include "store/pg_history_store.h"
#include "store/sqlite_file.h"

namespace prax {

namespace {

// A database left mid-write by a killed command: opening it at all rolls
// that write back, which only a run may do.
bool UnfinishedWrite(const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(fs::RealPath(file).string() + "-journal"), ec);
  return !ec && size > 0;
}

std::string Quoted(const std::string& path) {
  std::string quoted(1, '\'');
  quoted += fs::ForDisplay(path);
  quoted += '\'';
  return quoted;
}

// "1 alert day", "3 activity days".
std::string Days(int64_t n, const char* kind) {
  return std::to_string(n) + " " + kind + (n == 1 ? " day" : " days");
}

class DryRunner {
 public:
  DryRunner(RunContext& ctx, Status& status, const std::function<void(const std::string&)>& say)
      : ctx_(ctx), status_(status), say_(say) {}

  DryRunResult result;

  void Refuse(const std::string& line) {
    say_(line);
    result.verdict = DryRunVerdict::kRefused;
  }
  void Fail(const std::string& line) {
    say_(line);
    if (result.verdict == DryRunVerdict::kCanRun) result.verdict = DryRunVerdict::kFailed;
  }
  bool Refused() const { return result.verdict == DryRunVerdict::kRefused; }
  bool RangeRefused() const { return rangeRefused_; }

  // The configuration: PXNET.INI's network directory and History section,
  // and the range. Returns false when nothing further can be looked at.
  bool CheckConfiguration(const WindowChoices& choices) {
    ctx_.NetworkDir = ReadNetworkDir(ctx_);
    if (auto message = NetworkDirMessage(ctx_)) {
      Refuse("Configuration " + Quoted(ctx_.ProfileFile()) + ": refused. " + *message);
      return false;
    }
    const HistoryConfig history = ReadHistoryConfig(ctx_);
    ctx_.HistoryServer = history.server;
    ctx_.HistoryTimeout = history.timeout;
    say_("Configuration " + Quoted(ctx_.ProfileFile()) + ": network directory " + Quoted(ctx_.NetworkDir) +
         ", History database " + (history.server.empty() ? "PRAXDATA.MDB" : "on a PostgreSQL server") + ": ok");
    if (auto message = RangeMessage(choices)) {
      Refuse("Range: refused. " + *message);
      rangeRefused_ = true;
    }
    return true;
  }

  // The lock, looked at without taking it, and the journals a run refuses.
  void CheckLock() {
    const RunLockLook look = LookAtRunLock(ctx_.NetworkDir, ctx_.LockStaleSeconds);
    if (look.held) {
      Refuse("Lock: refused. " + *look.held);
      return;
    }
    std::vector<std::string> databases = {"MASTER.MDB"};
    if (ctx_.HistoryServer.empty()) databases.push_back("PRAXDATA.MDB");
    for (const fs::DirEntry& e : fs::List(ctx_.NetworkDir, "*.grp"))
      if (!e.isDirectory) databases.push_back(e.name);
    try {
      db::CheckFolderJournals(ctx_.NetworkDir, databases);
    } catch (const Error& e) {
      Refuse("Journals: refused. " + DescribeError(e));
      return;
    }
    say_(look.takeOver ? "Lock: free; " + *look.takeOver : "Lock: free, no other command holds the network directory");
  }

  // The History database, opened only to read; null when it cannot be.
  std::unique_ptr<store::HistoryStore> CheckHistory() {
    if (!ctx_.HistoryServer.empty()) return CheckServer();
    const std::string file = ctx_.NetworkDir + "PRAXDATA.MDB";
    const std::string shown = "History database " + Quoted(file);
    if (!fs::Exists(file)) {
      Fail(shown + ": not found; it would be created by a run with --fresh (a run without it fails). Every log "
                   "of the users would be loaded into it; the days are not listed.");
      return nullptr;
    }
    if (UnfinishedWrite(file)) {
      say_(shown + ": a write a stopped command left unfinished lies beside it; a run rolls it back first. The days "
                   "are not listed.");
      return nullptr;
    }
    try {
      std::string missing;
      {
        const auto read = db::SqliteFile::Open(fs::RealPath(file), db::OpenOptions{db::Access::ReadOnly});
        for (const db::TableDef& t : store::HistorySchema())
          if (!read->FindTable(t.name)) missing += (missing.empty() ? "" : ", ") + t.name;
      }
      if (!missing.empty()) {
        Fail(shown + ": tables missing (" + missing + "); a run fails. Create the History database afresh "
                     "(praxload --fresh).");
        return nullptr;
      }
      auto history = store::OpenSqliteHistoryToRead(fs::RealPath(file));
      say_(shown + ": read-only, its tables found");
      return history;
    } catch (const Error& e) {
      Fail(shown + ": " + DescribeError(e));
      return nullptr;
    }
  }

  // The History server, reached in a session that only reads.
  std::unique_ptr<store::HistoryStore> CheckServer() {
    try {
      const store::PgHistoryLook look = store::LookAtPgHistory(ctx_.HistoryServer, ctx_.HistoryTimeout);
      const std::string shown = "History " + look.server;
      if (look.held) {
        Refuse("Lock: refused. " + *look.held);
        return nullptr;
      }
      if (!look.missing.empty()) {
        std::string missing;
        for (const std::string& t : look.missing) missing += (missing.empty() ? "" : ", ") + t;
        say_(shown + ": reached; tables missing (" + missing + "), which a run creates. Every log of the users "
                     "would be loaded; the days are not listed.");
        return nullptr;
      }
      auto history = store::OpenPgHistoryToRead(ctx_.HistoryServer, ctx_.HistoryTimeout);
      say_(shown + ": reached read-only, its tables found, no other command loading into it");
      return history;
    } catch (const Error& e) {
      Fail("History server: " + DescribeError(e));
      return nullptr;
    }
  }

  // The roster, opened only to read: its user slots (0 when it cannot be read).
  int32_t CheckRoster() {
    const std::string file = ctx_.NetworkDir + "MASTER.MDB";
    const std::string shown = "Roster " + Quoted(file);
    if (!fs::Exists(file)) {
      Fail(shown + ": not found; a run fails. Check NETDIR in PXNET.INI, or restore MASTER.MDB from a backup.");
      return 0;
    }
    if (UnfinishedWrite(file)) {
      say_(shown + ": a write a stopped command left unfinished lies beside it; a run rolls it back first. The "
                   "days are not listed.");
      return 0;
    }
    int32_t slots = 0;
    try {
      slots = UserSlotCount(ctx_.NetworkDir, &status_);
    } catch (const Error& e) {
      Fail(shown + ": " + DescribeError(e));
      return 0;
    }
    int32_t withDirectory = 0;
    for (int32_t u = 1; u <= slots; ++u) withDirectory += fs::IsDirectory(UserDirPath(ctx_.NetworkDir, u)) ? 1 : 0;
    say_(shown + ": read-only, " + std::to_string(slots) + " user slots, " + std::to_string(withDirectory) +
         " users with directories");
    return slots;
  }

  // The days of each user a run would load, by the load's own lists and rule.
  void List(store::HistoryStore& history, int32_t first, int32_t last) {
    LoadContext load(ctx_, status_, history);
    std::map<int32_t, std::pair<int64_t, int64_t>> days;  // alert, activity
    std::set<std::string> said;
    for (const LogKind kind : {LogKind::kAlert, LogKind::kActivity}) {
      DayReader reader(load, kind);
      for (int32_t u = first; u <= last; ++u) {
        load.user = u;
        auto& count = kind == LogKind::kAlert ? days[u].first : days[u].second;
        if (!ListUser(reader, u, count, said)) return;
      }
    }
    for (const auto& [user, count] : days) {
      say_("User" + num::SpacedNumberText(user) + ": " + Days(count.first, "alert") + ", " +
           Days(count.second, "activity"));
      result.alertDays += count.first;
      result.activityDays += count.second;
    }
    result.users = static_cast<int32_t>(days.size());
    say_("Total: " + std::to_string(result.users) + " users; days a run would load: " +
         std::to_string(result.alertDays) + " alert, " + std::to_string(result.activityDays) + " activity");
  }

 private:
  // Returns false when the run would fail on this user.
  bool ListUser(DayReader& reader, int32_t u, int64_t& count, std::set<std::string>& said) {
    const bool alerts = reader.Kind() == LogKind::kAlert;
    const std::string what = std::string(alerts ? "Alert logs of user" : "Activity logs of user") + num::SpacedNumberText(u);
    try {
      const PreparedUser user = reader.User(u);
      if (user.failure) std::rethrow_exception(user.failure);
      for (const std::string& why : user.skipped)
        if (said.insert(why).second) status_.PassedOver("    Skipped: " + why);
      const std::size_t n = DaysToLoad(reader.Kind(), user.files);
      if (n < user.files.size()) {
        status_.PassedOver("    Skipped: " + TooManyActivityLogsText(user.userDir, user.files.size()));
      }
      // A date a run would have stored from an earlier log of the list.
      std::set<int32_t> stored;
      for (std::size_t i = 0; i < n; ++i) {
        if (stored.count(user.files[i].date)) continue;
        const PreparedDay d = reader.Day(user, i);
        using K = PreparedDay::Kind;
        if (d.kind == K::kFailed) std::rethrow_exception(d.failure);
        if (d.kind == K::kLater) status_.PassedOver(LaterLine(ctx_, d));
        if (d.kind == K::kUnreadable) status_.PassedOver(UnreadableLine(reader.Kind(), d));
        // An activity day that cannot be read is stored empty; an alert log
        // that does not exist stores nothing.
        const bool storedEmpty = d.kind == K::kUnreadable && !alerts;
        const bool storedParsed = d.kind == K::kParsed && (!alerts || d.present);
        if (storedParsed) ++count;
        if (storedEmpty || storedParsed) stored.insert(d.date);
      }
    } catch (const Error& e) {
      Fail(what + ": a run fails here: " + DescribeError(e));
      return false;
    }
    return true;
  }

  RunContext& ctx_;
  Status& status_;
  bool rangeRefused_ = false;
  const std::function<void(const std::string&)>& say_;
};

}  // namespace

DryRunResult DryRun(RunContext ctx, const WindowChoices& choices, Status& status,
                    const std::function<void(const std::string&)>& say) {
  DryRunner runner(ctx, status, say);
  if (!runner.CheckConfiguration(choices)) return runner.result;
  runner.CheckLock();
  if (runner.Refused() && !runner.RangeRefused()) return runner.result;  // the databases are not opened
  const std::unique_ptr<store::HistoryStore> history = runner.CheckHistory();
  const int32_t slots = runner.CheckRoster();
  if (runner.Refused() || !history) return runner.result;
  int32_t first = 1, last = slots;
  if (choices.universe == Universe::kRange) {
    first = num::RoundToInt16(num::LeadingNumber(choices.startText));
    last = num::RoundToInt16(num::LeadingNumber(choices.endText));
  }
  runner.List(*history, first, last);
  return runner.result;
}

}  // namespace prax

// praxload killed with SIGKILL while a fresh load creates the History file and
// during its three passes: the file passes SQLite's integrity check and holds
// no half-loaded day, and the resume ("praxload --master", which works out the
// error keys of the days left pending only) gives every table of PRAXDATA.MDB
// and MASTER.MDB as one uninterrupted load does.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <thread>
#include <tuple>

#include "support/programs.h"

namespace {

namespace stdfs = std::filesystem;
using praxtest::Query;
using Clock = std::chrono::steady_clock;

const std::string kAlertLine = "Status: Updating history database from AlertSystem...\n";
const std::string kActivityLine = "Status: Updating history database from Activity System...\n";
const std::string kDoneLine = "Status: Database Updated.\n";
// Tables of rows per user and day, by pass; the first is the pass's main table.
const std::vector<std::vector<std::string>> kDayTables = {{"AlertSystem", "EMSSystemUsage", "UserNotes"},
                                                          {"ActivitySystem", "ProjectNotes"}};

// Every table of a database file, and its schema, as sorted row texts.
using Tables = std::map<std::string, std::vector<std::string>>;
Tables ReadAll(const stdfs::path& file) {
  Tables all{{"(schema)", Query(file, "SELECT name, sql FROM sqlite_master")}};
  for (const std::string& t : Query(file, "SELECT name FROM sqlite_master WHERE type = 'table'"))
    all[t] = Query(file, "SELECT * FROM \"" + t + "\"");
  for (auto& [t, rows] : all) std::sort(rows.begin(), rows.end());
  return all;
}

// "" when both equal, else the tables that differ.
std::string Differences(const Tables& want, const Tables& got) {
  std::string out = want.size() == got.size() ? "" : "tables added or missing\n";
  for (const auto& [t, rows] : want)
    if (!got.count(t) || got.at(t) != rows) out += t + ": " + std::to_string(rows.size()) + " rows expected\n";
  return out;
}

// The rows each pass stored per user and day, keyed "main table|user|date",
// each led by its table and without Error_Keys (the error-keys pass fills it
// in after the day is loaded).
Tables DayRows(const stdfs::path& file) {
  Tables days;
  for (const auto& group : kDayTables)
    for (const std::string& t : group) {
      std::string columns;
      for (const std::string& c :
           Query(file, "SELECT name FROM pragma_table_info('" + t + "') WHERE name <> 'Error_Keys'"))
        columns += ", \"" + c + "\"";
      for (const std::string& row :
           Query(file, "SELECT User_Num || '|' || ifnull(Data_Date, -1)" + columns + " FROM \"" + t + "\"")) {
        const std::size_t bar = row.find('|', row.find('|') + 1);
        days[group[0] + "|" + row.substr(0, bar)].push_back(t + row.substr(bar));
      }
    }
  for (auto& [day, rows] : days) std::sort(rows.begin(), rows.end());
  return days;
}

// When to kill: a delay after the start or after a pass is seen to start.
enum class Trigger { kNone, kStart, kAlertLine, kActivityLine, kActivityComplete };

struct Outcome {
  praxtest::Result run;
  // Seconds from the start until each stage was seen (-1: not seen).
  double alertAt = -1, activityAt = -1, activityCompleteAt = -1, doneAt = -1, killAt = -1;
  bool Printed(const std::string& line) const { return praxtest::Has(run.out, line); }
};

// Runs praxload, watching its output (and, from the activity pass on, the
// History file) every 2 ms. kActivityComplete: the committed ActivitySystem
// rows reach `activityRows`. Without a trigger and with `activityRows` < 0 the
// moment the row count last grew (the error-keys pass starts) is recorded.
Outcome RunPraxload(const praxtest::Network& n, const std::vector<std::string>& options,
                    Trigger trigger = Trigger::kNone, double delay = 0, long long activityRows = -1) {
  const auto t0 = Clock::now();
  const pid_t pid = praxtest::Start(n.PraxloadArgs(options), n.Root());
  auto now = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
  Outcome r;
  const bool recordGrowth = trigger == Trigger::kNone && activityRows < 0;
  double killAt = trigger == Trigger::kStart ? delay : -1;
  long long lastRows = -1;
  std::optional<praxtest::Db> reader;  // gone before any kill
  siginfo_t info{};
  for (bool ended = false; !ended;) {  // a last look at the output once it has ended
    ended = ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
    if (!ended && ((killAt >= 0 && now() >= killAt) || now() > 300)) {
      EXPECT_LT(now(), 300) << "praxload still running";
      reader.reset();
      ::kill(pid, SIGKILL);
      r.killAt = now();
      break;
    }
    const std::string out = praxtest::Slurp(n.Root() / "stdout.txt");
    for (auto [line, at, when] : {std::tuple{&kAlertLine, &r.alertAt, Trigger::kAlertLine},
                                  {&kActivityLine, &r.activityAt, Trigger::kActivityLine},
                                  {&kDoneLine, &r.doneAt, Trigger::kNone}})
      if (*at < 0 && praxtest::Has(out, *line)) {
        *at = now();
        if (trigger == when && when != Trigger::kNone) killAt = *at + delay;
      }
    if (!ended && r.activityAt >= 0 && r.doneAt < 0 && (recordGrowth || (trigger == Trigger::kActivityComplete && killAt < 0))) {
      if (!reader) reader.emplace(n.History());
      const long long rows = std::stoll(reader->Query("SELECT ifnull(max(rowid), 0) FROM ActivitySystem")[0]);
      if (rows != lastRows) r.activityCompleteAt = now();
      lastRows = rows;
      if (trigger == Trigger::kActivityComplete && rows == activityRows) killAt = now() + delay;
    }
    const double wait = killAt >= 0 ? std::clamp(killAt - now(), 0.0, 0.002) : 0.002;
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
  }
  reader.reset();
  r.run = praxtest::Wait(pid, n.Root());
  return r;
}

TEST(Crash, KilledFreshLoadsResumeToTheUninterruptedResult) {
  // About a second of loading in an optimised build; every day stores rows.
  const praxtest::Network n({"--users", "20", "--days", "10", "--seed", "29"});
  const stdfs::path pristine = n.Root() / "pristine", history = n.History(), master = n.Net() / "MASTER.MDB";
  stdfs::copy(n.Net(), pristine, stdfs::copy_options::recursive);
  const std::vector<std::string> fresh{"--fresh", "--yes", "--master"}, resume{"--master"};

  // The uninterrupted load, and where its passes start and end.
  const Outcome ref = RunPraxload(n, fresh);
  ASSERT_EQ(ref.run.exitCode, 0) << ref.run.out << ref.run.err;
  const double passTime[4] = {0, ref.activityAt - ref.alertAt, ref.activityCompleteAt - ref.activityAt,
                              ref.doneAt - ref.activityCompleteAt};
  ASSERT_TRUE(ref.alertAt > 0 && passTime[1] > 0 && passTime[2] > 0 && passTime[3] > 0)
      << ref.alertAt << " " << ref.activityAt << " " << ref.activityCompleteAt << " " << ref.doneAt;
  const Tables refHistory = ReadAll(history), refMaster = ReadAll(master), refDays = DayRows(history);
  const long long refActivityRows = std::stoll(Query(history, "SELECT max(rowid) FROM ActivitySystem")[0]);
  auto compareAll = [&] { return Differences(refHistory, ReadAll(history)) + Differences(refMaster, ReadAll(master)); };
  // No day is loaded twice, so resumed tables compare row for row.
  const Outcome again = RunPraxload(n, resume);
  ASSERT_TRUE(again.run.exitCode == 0 && again.Printed("days loaded: 0 alert, 0 activity;")) << again.run.out;
  ASSERT_EQ(compareAll(), "");

  // Eight kills while the History file is built (whole or absent after; the
  // fresh command resumes when absent), eight aimed at a seeded fraction of
  // each pass, then more at the pass with the fewest until each has 6.
  const Trigger passStart[4] = {Trigger::kStart, Trigger::kAlertLine, Trigger::kActivityLine,
                                Trigger::kActivityComplete};
  std::mt19937 rng(20260105);
  std::uniform_real_distribution<double> fraction(0.03, 0.97);
  int landed[5] = {};  // 0 before pass 1, 1 to 3 the passes, 4 after the job
  int kills = 0, recoveries = 0;
  for (int attempt = -8; attempt < 40; ++attempt) {
    int pass = attempt < 0 ? 0 : attempt % 3 + 1;
    if (attempt >= 24) {
      if (kills >= 32 && std::min({landed[1], landed[2], landed[3]}) >= 6) break;
      for (int p = 3; p >= 1; --p)
        if (landed[p] <= landed[pass]) pass = p;
    }
    const double delay = attempt < 0 ? (attempt + 8.5) / 8 * ref.alertAt : fraction(rng) * passTime[pass];
    stdfs::remove_all(n.Net());
    stdfs::copy(pristine, n.Net(), stdfs::copy_options::recursive);
    const Outcome k = RunPraxload(n, fresh, passStart[pass], delay, refActivityRows);
    if (k.run.signal != SIGKILL) {
      EXPECT_EQ(k.run.exitCode, 0) << k.run.out << k.run.err;
      continue;
    }
    ++kills;
    const bool exists = stdfs::exists(history);
    const std::vector<std::string> integrity =
        exists ? Query(history, "PRAGMA integrity_check", true) : std::vector<std::string>{"ok"};
    const auto count = [&](const char* sql) { return exists ? std::stoll(Query(history, sql)[0]) : 0; };
    // Where the kill landed, from what praxload had printed and committed.
    const int at = !k.Printed(kAlertLine)                                                        ? 0
                   : k.Printed(kDoneLine)                                                        ? 4
                   : !k.Printed(kActivityLine)                                                   ? 1
                   : count("SELECT ifnull(max(rowid), 0) FROM ActivitySystem") < refActivityRows ? 2
                                                                                                 : 3;
    ++landed[at];
    SCOPED_TRACE("kill " + std::to_string(kills) + " aimed at pass " + std::to_string(pass) + " +" + std::to_string(delay) +
                 " s, landed in " + std::to_string(at) + " at " + std::to_string(k.killAt) + " s");
    EXPECT_EQ(integrity, std::vector<std::string>{"ok"});
    // The History tables and the pending error keys.
    EXPECT_TRUE(!exists || count("SELECT count(*) FROM sqlite_master WHERE type = 'table'") ==
                               static_cast<long long>(praxtest::kHistoryTables.size()) + 1);
    for (const auto& [day, rows] : exists ? DayRows(history) : Tables{})
      EXPECT_TRUE(refDays.count(day) && refDays.at(day) == rows) << "day cut in half: " << day;

    // No reader polls the resume: one would keep the log beside the file.
    const Outcome r = RunPraxload(n, exists ? resume : fresh, Trigger::kNone, 0, 0);
    EXPECT_EQ(r.run.exitCode, 0) << r.run.out << r.run.err;
    const std::string diff = compareAll();
    EXPECT_EQ(diff, "");
    for (const auto& e : stdfs::directory_iterator(n.Net()))  // no temporary file outlives it
      EXPECT_TRUE(e.path() == history || !e.path().filename().string().starts_with("PRAXDATA.MDB")) << e.path();
    recoveries += integrity == std::vector<std::string>{"ok"} && r.run.exitCode == 0 && diff.empty();
  }
  std::cout << "crash: " << kills << " kills, by pass " << landed[1] << "/" << landed[2] << "/" << landed[3] << std::endl;
  for (int p = 1; p <= 3; ++p) EXPECT_GE(landed[p], 6) << "kills in pass " << p;
  EXPECT_GE(landed[1] + landed[2] + landed[3], 20);
  EXPECT_EQ(recoveries, kills);
}

}  // namespace

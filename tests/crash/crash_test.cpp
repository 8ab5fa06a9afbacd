// praxload killed with SIGKILL while a fresh load creates the History file, during the three passes of a fresh load
// and of an update run: the file passes SQLite's integrity check and holds no half-loaded day, and the resume
// ("praxload --master", which works out the error keys of the days left pending only) gives every table of
// PRAXDATA.MDB and MASTER.MDB as one uninterrupted run does.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// The rows each pass stored per user and day, keyed "main table|user|date", each led by its table and without
// Error_Keys (the error-keys pass fills it in after the day is loaded).
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

// Runs praxload, watching its output (and, from the activity pass on, the History file) every 2 ms.
// kActivityComplete: the committed ActivitySystem rows reach `activityRows`. Without a trigger and with
// `activityRows` < 0 the moment the row count last grew (the error-keys pass starts) is recorded.
Outcome RunPraxload(const praxtest::Network& n, const std::vector<std::string>& options,
                    Trigger trigger = Trigger::kNone, double delay = 0, long long activityRows = -1) {
  const auto t0 = Clock::now();
  const praxtest::Pid pid = praxtest::Start(n.PraxloadArgs(options), n.Root());
  auto now = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
  Outcome r;
  const bool recordGrowth = trigger == Trigger::kNone && activityRows < 0;
  double killAt = trigger == Trigger::kStart ? delay : -1;
  long long lastRows = -1;
  std::optional<praxtest::Db> reader;  // gone before any kill
  for (bool ended = false; !ended;) {  // a last look at the output once it has ended
    ended = praxtest::Ended(pid);
    if (!ended && ((killAt >= 0 && now() >= killAt) || now() > 300)) {
      EXPECT_LT(now(), 300) << "praxload still running";
      reader.reset();
      praxtest::Kill(pid);
      r.killAt = now();
      break;
    }
    std::string out = praxtest::Slurp(n.Root() / "stdout.txt");
    std::erase(out, '\r');  // as Wait reads it
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

// An uninterrupted run of a command on n.Net(): every table after it, its days, and where its passes start and end.
struct Reference {
  Outcome run;
  std::array<double, 4> passTime{};
  Tables history, master, days;
  long long activityRows = 0;
};
Reference Measure(const praxtest::Network& n, const std::vector<std::string>& command) {
  Reference ref;
  ref.run = RunPraxload(n, command);
  const Outcome& r = ref.run;
  EXPECT_EQ(r.run.exitCode, 0) << r.run.out << r.run.err;
  ref.passTime = {0, r.activityAt - r.alertAt, r.activityCompleteAt - r.activityAt, r.doneAt - r.activityCompleteAt};
  EXPECT_TRUE(r.alertAt > 0 && ref.passTime[1] > 0 && ref.passTime[2] > 0 && ref.passTime[3] > 0)
      << r.alertAt << " " << r.activityAt << " " << r.activityCompleteAt << " " << r.doneAt;
  ref.history = ReadAll(n.History());
  ref.master = ReadAll(n.Net() / "MASTER.MDB");
  ref.days = DayRows(n.History());
  ref.activityRows = std::stoll(Query(n.History(), "SELECT max(rowid) FROM ActivitySystem")[0]);
  return ref;
}

std::string Compare(const praxtest::Network& n, const Reference& ref) {
  return Differences(ref.history, ReadAll(n.History())) + Differences(ref.master, ReadAll(n.Net() / "MASTER.MDB"));
}

// Kills landed: 0 before pass 1, 1 to 3 in the passes, 4 after the job.
struct Campaign { int landed[5] = {}; int kills = 0, recoveries = 0; };

// Runs `command` on a copy of `pristine` again and again, killing it: `early` kills spread over the start (before
// pass 1), `rounds` aimed in turn at a seeded fraction of each pass, then more at the pass with the fewest until each
// has `perPass` (at most `extra` more runs). After each kill the file passes the integrity check and holds no
// half-loaded day, and the resume ("--master"; the fresh command when there is no file) gives the reference's tables
// and leaves no temporary file.
Campaign KillAndResume(const praxtest::Network& n, const stdfs::path& pristine, const std::vector<std::string>& command,
                       const Reference& ref, int early, int rounds, int perPass, int extra) {
  const stdfs::path history = n.History();
  const Trigger passStart[4] = {Trigger::kStart, Trigger::kAlertLine, Trigger::kActivityLine,
                                Trigger::kActivityComplete};
  std::mt19937 rng(20260105);
  std::uniform_real_distribution<double> fraction(0.03, 0.97);
  Campaign c;
  for (int attempt = -early; attempt < rounds + extra; ++attempt) {
    int pass = attempt < 0 ? 0 : attempt % 3 + 1;
    if (attempt >= rounds) {
      if (c.kills >= early + rounds && std::min({c.landed[1], c.landed[2], c.landed[3]}) >= perPass) break;
      for (int p = 3; p >= 1; --p)
        if (c.landed[p] <= c.landed[pass]) pass = p;
    }
    // The later runs aim at the first half of their pass: a busy machine stretches or shrinks a pass against
    // the measured one, and a short pass is otherwise easily missed.
    const double delay = attempt < 0 ? (attempt + early + 0.5) / early * ref.run.alertAt
                                     : fraction(rng) * ref.passTime[pass] * (attempt >= rounds ? 0.5 : 1.0);
    stdfs::remove_all(n.Net());
    stdfs::copy(pristine, n.Net(), stdfs::copy_options::recursive);
    const Outcome k = RunPraxload(n, command, passStart[pass], delay, ref.activityRows);
    if (k.run.signal != praxtest::kKilled) {
      EXPECT_EQ(k.run.exitCode, 0) << k.run.out << k.run.err;
      continue;
    }
    ++c.kills;
    const bool exists = stdfs::exists(history);
    const std::vector<std::string> integrity =
        exists ? Query(history, "PRAGMA integrity_check", true) : std::vector<std::string>{"ok"};
    const auto count = [&](const char* sql) { return exists ? std::stoll(Query(history, sql)[0]) : 0; };
    // Where the kill landed, from what praxload had printed and committed.
    const int at = !k.Printed(kAlertLine)                                                         ? 0
                   : k.Printed(kDoneLine)                                                         ? 4
                   : !k.Printed(kActivityLine)                                                    ? 1
                   : count("SELECT ifnull(max(rowid), 0) FROM ActivitySystem") < ref.activityRows ? 2
                                                                                                  : 3;
    ++c.landed[at];
    SCOPED_TRACE("kill " + std::to_string(c.kills) + " aimed at pass " + std::to_string(pass) + " +" +
                 std::to_string(delay) + " s, landed in " + std::to_string(at) + " at " + std::to_string(k.killAt) + " s");
    EXPECT_EQ(integrity, std::vector<std::string>{"ok"});
    // The History tables and the pending error keys.
    EXPECT_TRUE(!exists || count("SELECT count(*) FROM sqlite_master WHERE type = 'table'") ==
                               static_cast<long long>(praxtest::kHistoryTables.size()) + 1);
    for (const auto& [day, rows] : exists ? DayRows(history) : Tables{})
      EXPECT_TRUE(ref.days.count(day) && ref.days.at(day) == rows) << "day cut in half: " << day;

    // No reader polls the resume: one would keep the log beside the file.
    const Outcome r = RunPraxload(n, exists ? std::vector<std::string>{"--master"} : command, Trigger::kNone, 0, 0);
    EXPECT_EQ(r.run.exitCode, 0) << r.run.out << r.run.err;
    const std::string diff = Compare(n, ref);
    EXPECT_EQ(diff, "");
    for (const auto& e : stdfs::directory_iterator(n.Net()))  // no temporary file outlives it
      EXPECT_TRUE(e.path() == history || !e.path().filename().string().starts_with("PRAXDATA.MDB")) << e.path();
    c.recoveries += integrity == std::vector<std::string>{"ok"} && r.run.exitCode == 0 && diff.empty();
  }
  std::cout << "crash: " << c.kills << " kills, by pass " << c.landed[1] << "/" << c.landed[2] << "/" << c.landed[3]
            << std::endl;
  EXPECT_EQ(c.recoveries, c.kills);
  return c;
}

TEST(Crash, KilledFreshLoadsResumeToTheUninterruptedResult) {
  // About a second of loading in an optimised build; every day stores rows.
  const praxtest::Network n({"--users", "20", "--days", "10", "--seed", "29"});
  const stdfs::path pristine = n.Root() / "pristine";
  stdfs::copy(n.Net(), pristine, stdfs::copy_options::recursive);
  const std::vector<std::string> fresh{"--fresh", "--yes", "--master"};
  const Reference ref = Measure(n, fresh);
  ASSERT_FALSE(HasFailure());
  // No day is loaded twice, so resumed tables compare row for row.
  const Outcome again = RunPraxload(n, {"--master"});
  ASSERT_TRUE(again.run.exitCode == 0 && again.Printed("days loaded: 0 alert, 0 activity;")) << again.run.out;
  ASSERT_EQ(Compare(n, ref), "");

  // Eight kills while the History file is built (whole or absent after),
  // eight aimed at each pass, then more until each has 6.
  const Campaign c = KillAndResume(n, pristine, fresh, ref, 8, 24, 6, 16);
  for (int p = 1; p <= 3; ++p) EXPECT_GE(c.landed[p], 6) << "kills in pass " << p;
  EXPECT_GE(c.landed[1] + c.landed[2] + c.landed[3], 20);
}

// Update runs: a loaded network gets one more day, and with it the activity logs of two loaded days, held back from
// every user until then. A day committed without its error-keys mark would keep stale Error_Keys.
TEST(Crash, KilledUpdateRunsResumeToTheUninterruptedResult) {
  const praxtest::Network n({"--users", "20", "--days", "6", "--seed", "31"});
  std::vector<stdfs::path> late;
  for (const auto& dir : stdfs::directory_iterator(n.Net())) {
    if (!dir.is_directory()) continue;
    std::vector<stdfs::path> logs;
    for (const auto& e : stdfs::directory_iterator(dir.path()))
      if (e.path().extension() == ".PXT" || e.path().extension() == ".pxt") logs.push_back(e.path());
    std::sort(logs.begin(), logs.end());
    for (std::size_t i = std::max<std::size_t>(logs.size(), 2) - 2; i < logs.size(); ++i) {
      late.push_back(logs[i]);
      stdfs::rename(logs[i], logs[i].string() + ".held");
    }
  }
  ASSERT_EQ(late.size(), 40u);
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--master"}).exitCode, 0);
  for (const stdfs::path& log : late) stdfs::rename(log.string() + ".held", log);
  n.AppendDay();
  const stdfs::path pristine = n.Root() / "pristine";
  stdfs::copy(n.Net(), pristine, stdfs::copy_options::recursive);
  const Reference ref = Measure(n, {"--master"});
  ASSERT_FALSE(HasFailure());
  // Two kills aimed at each pass, a few more runs to land one in each.
  const Campaign c = KillAndResume(n, pristine, {"--master"}, ref, 0, 6, 1, 6);
  for (int p = 1; p <= 3; ++p) EXPECT_GE(c.landed[p], 1) << "kills in pass " << p;
}

}  // namespace

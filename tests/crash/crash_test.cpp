// praxload killed with SIGKILL at moments spread over the three passes of a
// fresh load. After each kill the History database must pass SQLite's own
// integrity check and hold no half-loaded day; the command an administrator
// runs to resume ("praxload --master", without --fresh) must finish, and
// every table of PRAXDATA.MDB and MASTER.MDB must then equal what one
// uninterrupted load gives.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The status lines praxload prints (and flushes) as it reaches each stage.
const std::string kAlertLine = "Status: Updating history database from AlertSystem...";
const std::string kActivityLine = "Status: Updating history database from Activity System...";
const std::string kDoneLine = "Status: Database Updated.";

// Tables holding rows per user and day, grouped by the pass that writes them;
// the first of each group is the pass's main table.
const std::vector<std::vector<std::string>> kDayTables = {{"AlertSystem", "EMSSystemUsage", "UserNotes"},
                                                          {"ActivitySystem", "ProjectNotes"}};

class Sqlite {
 public:
  Sqlite(const stdfs::path& file, int flags) {
    if (sqlite3_open_v2(file.c_str(), &h_, flags, nullptr) != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(h_);
      sqlite3_close(h_);
      throw std::runtime_error("cannot open " + file.string() + ": " + message);
    }
    sqlite3_busy_timeout(h_, 5000);
  }
  ~Sqlite() { sqlite3_close(h_); }
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;

  // Every row of a query, each value as text ("<null>" for Null).
  std::vector<std::vector<std::string>> Query(const std::string& sql) const {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(h_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(h_));
    std::vector<std::vector<std::string>> rows;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        row.emplace_back(sqlite3_column_type(st, i) == SQLITE_NULL ? "<null>" : text);
      }
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(h_));
    return rows;
  }
  std::string One(const std::string& sql) const {
    const auto rows = Query(sql);
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
  }
  // Calls f(statement) for each row of a query.
  template <class F>
  void ForEachRow(const std::string& sql, F&& f) const {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(h_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(h_));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) f(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(h_));
  }

 private:
  sqlite3* h_ = nullptr;
};

std::string Join(const std::vector<std::string>& values, std::size_t from = 0) {
  std::string line;
  for (std::size_t i = from; i < values.size(); ++i) line += (i > from ? "|" : "") + values[i];
  return line;
}

std::vector<std::string> TableNames(const Sqlite& db) {
  std::vector<std::string> names;
  for (const auto& r : db.Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"))
    names.push_back(r[0]);
  return names;
}

// Rows compared as multisets without sorting: each row hashes its values in
// column order and a table sums its rows' hashes.
uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

uint64_t RowHash(sqlite3_stmt* st, int from) {
  uint64_t h = 0;
  for (int i = from; i < sqlite3_column_count(st); ++i) {
    uint64_t v = static_cast<uint64_t>(sqlite3_column_type(st, i));
    if (v == SQLITE_INTEGER) {
      v = Mix(v ^ static_cast<uint64_t>(sqlite3_column_int64(st, i)));
    } else if (v != SQLITE_NULL) {
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(st, i));
      for (int b = 0; b < sqlite3_column_bytes(st, i); ++b) v = (v ^ bytes[b]) * 0x100000001b3ULL;
    }
    h = Mix(h ^ Mix(v + static_cast<uint64_t>(i)));
  }
  return h;
}

struct Digest {
  long long rows = 0;
  uint64_t sum = 0;
  void Add(uint64_t hash) {
    ++rows;
    sum += hash;
  }
  bool operator==(const Digest&) const = default;
};

// Every table of a database file, and its schema, as digests.
std::map<std::string, Digest> Digests(const stdfs::path& file) {
  const Sqlite db(file, SQLITE_OPEN_READONLY);
  std::map<std::string, Digest> digests;
  db.ForEachRow("SELECT type, name, tbl_name, sql FROM sqlite_master",
                [&](sqlite3_stmt* st) { digests["(schema)"].Add(RowHash(st, 0)); });
  for (const std::string& table : TableNames(db)) {
    Digest& d = digests[table];
    db.ForEachRow("SELECT * FROM \"" + table + "\"", [&](sqlite3_stmt* st) { d.Add(RowHash(st, 0)); });
  }
  return digests;
}

// Every table of a database file (and its schema) as sorted row texts, to
// show what differs.
using TableDump = std::map<std::string, std::vector<std::string>>;

TableDump DumpAll(const stdfs::path& file) {
  const Sqlite db(file, SQLITE_OPEN_READONLY);
  TableDump dump;
  for (const auto& t : db.Query("SELECT name, sql FROM sqlite_master")) dump["(schema)"].push_back(Join(t));
  for (const std::string& table : TableNames(db))
    for (const auto& r : db.Query("SELECT * FROM \"" + table + "\"")) dump[table].push_back(Join(r));
  for (auto& [table, rows] : dump) std::sort(rows.begin(), rows.end());
  return dump;
}

// The first differences between two dumps, or "" when they are equal.
std::string Differences(const TableDump& want, const TableDump& got) {
  std::ostringstream out;
  std::set<std::string> names;
  for (const auto& [name, rows] : want) names.insert(name);
  for (const auto& [name, rows] : got) names.insert(name);
  for (const std::string& name : names) {
    const auto w = want.find(name), g = got.find(name);
    const std::vector<std::string> none;
    const auto& wr = w == want.end() ? none : w->second;
    const auto& gr = g == got.end() ? none : g->second;
    if (wr == gr) continue;
    std::vector<std::string> missing, extra;
    std::set_difference(wr.begin(), wr.end(), gr.begin(), gr.end(), std::back_inserter(missing));
    std::set_difference(gr.begin(), gr.end(), wr.begin(), wr.end(), std::back_inserter(extra));
    out << name << ": " << wr.size() << " rows expected, " << gr.size() << " found";
    for (std::size_t i = 0; i < std::min<std::size_t>(2, missing.size()); ++i) out << "\n  missing " << missing[i];
    for (std::size_t i = 0; i < std::min<std::size_t>(2, extra.size()); ++i) out << "\n  extra   " << extra[i];
    out << "\n";
  }
  return out.str();
}

// A database file compared with a reference copy: "" when every table and
// the schema are equal, else the first differences.
std::string CompareWith(const stdfs::path& reference, const std::map<std::string, Digest>& referenceDigests,
                        const stdfs::path& file) {
  if (Digests(file) == referenceDigests) return "";
  const std::string diff = Differences(DumpAll(reference), DumpAll(file));
  return file.filename().string() + " differs:\n" + (diff.empty() ? "(rows hash differently)\n" : diff);
}

// The per-day tables' rows by table and (User_Num, Data_Date), without
// Error_Keys (the error-keys pass fills it in after the day is loaded).
using Day = std::pair<int64_t, int64_t>;
using DayDigests = std::map<std::string, std::map<Day, Digest>>;

DayDigests DigestDays(const Sqlite& db) {
  DayDigests digests;
  for (const auto& group : kDayTables) {
    for (const std::string& table : group) {
      std::string columns;
      for (const auto& c : db.Query("PRAGMA table_info(\"" + table + "\")"))
        if (c[1] != "Error_Keys") columns += ", \"" + c[1] + "\"";
      auto& days = digests[table];
      db.ForEachRow("SELECT User_Num, ifnull(Data_Date, -1)" + columns + " FROM \"" + table + "\"",
                    [&](sqlite3_stmt* st) {
                      days[{sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1)}].Add(RowHash(st, 2));
                    });
    }
  }
  return digests;
}

// User-days of which some rows are stored but not exactly the reference's
// rows of that day, in any table its pass writes.
std::vector<std::string> SplitDays(const DayDigests& want, const DayDigests& got) {
  std::vector<std::string> split;
  auto digestOf = [](const DayDigests& d, const std::string& table, const Day& day) {
    const auto t = d.find(table);
    if (t == d.end()) return Digest{};
    const auto r = t->second.find(day);
    return r == t->second.end() ? Digest{} : r->second;
  };
  for (const auto& group : kDayTables) {
    std::set<Day> present;
    for (const std::string& table : group)
      if (got.count(table))
        for (const auto& [day, digest] : got.at(table)) present.insert(day);
    for (const Day& day : present) {
      for (const std::string& table : group) {
        if (!(digestOf(want, table, day) == digestOf(got, table, day))) {
          split.push_back(group[0] + " user " + std::to_string(day.first) + " date " + std::to_string(day.second) +
                          " (" + table + " differs)");
          break;
        }
      }
    }
  }
  return split;
}

// When to kill: a delay after the moment a pass is seen to start.
enum class Trigger { kNone, kStart, kAlertLine, kActivityLine, kActivityComplete };

struct Outcome {
  bool killed = false;
  int exitCode = -1;
  std::string out, err;
  // Seconds from the start to the moment each stage was seen (-1: not seen).
  double alertAt = -1, activityAt = -1, activityCompleteAt = -1, doneAt = -1, killAt = -1;
  bool Printed(const std::string& line) const { return out.find(line + "\n") != std::string::npos; }
};

// Runs praxload with standard input /dev/null and standard output read
// through a pipe, as a scheduler starts it. With a trigger, sends SIGKILL
// `delay` seconds after it. kActivityComplete is the moment the committed
// ActivitySystem rows reach `activityRows` (the last day of the activity
// pass is in), seen by a reader polling the History database. Without a
// trigger and with `activityRows` < 0 the reader records when the row count
// last grew, which is where the error-keys pass starts.
Outcome RunPraxload(const std::vector<std::string>& args, const stdfs::path& history, const stdfs::path& errFile,
                    Trigger trigger = Trigger::kNone, double delay = 0, long long activityRows = -1) {
  const std::string program = PRAX_BINARY_DIR "/praxload";
  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const auto t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in, 0);
    ::dup2(out[1], 1);
    ::dup2(err, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(in);
  ::close(err);

  Outcome r;
  auto seconds = [&](Clock::time_point t) { return std::chrono::duration<double>(t - t0).count(); };
  std::optional<Clock::time_point> killAt;
  const bool recordGrowth = trigger == Trigger::kNone && activityRows < 0;
  std::unique_ptr<Sqlite> reader;
  long long lastRows = -1;
  double lastGrowthAt = -1;
  auto after = [](Clock::time_point t, double s) {
    return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
  };
  if (trigger == Trigger::kStart) killAt = after(t0, delay);
  std::string line;
  bool open = true;
  while (open) {
    Clock::time_point now = Clock::now();
    if (killAt && now >= *killAt) {
      ::kill(pid, SIGKILL);
      r.killAt = seconds(now);
      break;
    }
    if (seconds(now) > 300) {
      ::kill(pid, SIGKILL);
      ADD_FAILURE() << "praxload still running after 300 s";
      break;
    }
    const bool polling =
        r.activityAt >= 0 && r.doneAt < 0 && (recordGrowth || (trigger == Trigger::kActivityComplete && !killAt));
    int timeoutMs = polling ? 2 : 50;
    if (killAt)
      timeoutMs = std::min<int>(
          timeoutMs, static_cast<int>(std::ceil(std::chrono::duration<double, std::milli>(*killAt - now).count())));
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, std::max(timeoutMs, 0)) > 0) {
      char buf[4096];
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) open = false;
      now = Clock::now();
      for (ssize_t i = 0; i < n; ++i) {
        r.out += buf[i];
        if (buf[i] != '\n') {
          line += buf[i];
          continue;
        }
        const double at = seconds(now);
        if (line == kAlertLine && r.alertAt < 0) {
          r.alertAt = at;
          if (trigger == Trigger::kAlertLine) killAt = after(now, delay);
        } else if (line == kActivityLine && r.activityAt < 0) {
          r.activityAt = at;
          if (trigger == Trigger::kActivityLine) killAt = after(now, delay);
        } else if (line == kDoneLine && r.doneAt < 0) {
          r.doneAt = at;
        }
        line.clear();
      }
    }
    if (polling && open) {
      if (!reader) reader = std::make_unique<Sqlite>(history, SQLITE_OPEN_READONLY);
      const long long rows = std::stoll(reader->One("SELECT ifnull(max(rowid), 0) FROM ActivitySystem"));
      now = Clock::now();
      if (rows != lastRows) lastGrowthAt = seconds(now);
      lastRows = rows;
      if (trigger == Trigger::kActivityComplete && rows == activityRows) {
        r.activityCompleteAt = seconds(now);
        reader.reset();  // the reader is gone before the kill
        killAt = after(now, delay);
      }
    }
  }
  reader.reset();
  if (recordGrowth) r.activityCompleteAt = lastGrowthAt;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::FILE* f = std::fopen(errFile.c_str(), "rb");
  if (f) {
    while ((n = static_cast<ssize_t>(std::fread(buf, 1, sizeof buf, f))) > 0)
      r.err.append(buf, static_cast<std::size_t>(n));
    std::fclose(f);
  }
  return r;
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", s);
  return text;
}

TEST(Crash, KilledFreshLoadsResumeToTheUninterruptedResult) {
  const auto started = Clock::now();
  const praxtest::TempDir tmp;
  const stdfs::path net = tmp.Path() / "net", prog = tmp.Path() / "prog", pristine = tmp.Path() / "pristine";
  const stdfs::path history = net / "PRAXDATA.MDB", master = net / "MASTER.MDB", errFile = tmp.Path() / "err.txt";
  // About a second of loading in an optimised build; every generated day
  // stores rows.
  const std::string gen = std::string(PRAX_BINARY_DIR "/praxgen ") + net.string() +
                          " --users 20 --days 10 --seed 29 --program-dir " + prog.string() + " >/dev/null";
  ASSERT_EQ(std::system(gen.c_str()), 0) << gen;
  stdfs::copy(net, pristine, stdfs::copy_options::recursive);
  auto freshNetwork = [&] {
    stdfs::remove_all(net);
    stdfs::copy(pristine, net, stdfs::copy_options::recursive);
  };
  const std::vector<std::string> freshArgs{"--program-dir", prog.string(), "--fresh", "--yes", "--master"};
  const std::vector<std::string> resumeArgs{"--program-dir", prog.string(), "--master"};

  // The uninterrupted load, and where its passes start and end.
  const Outcome ref = RunPraxload(freshArgs, history, errFile);
  ASSERT_EQ(ref.exitCode, 0) << ref.out << ref.err;
  const double passTime[4] = {0, ref.activityAt - ref.alertAt, ref.activityCompleteAt - ref.activityAt,
                              ref.doneAt - ref.activityCompleteAt};
  ASSERT_TRUE(ref.alertAt > 0 && passTime[1] > 0 && passTime[2] > 0 && passTime[3] > 0)
      << ref.alertAt << " " << ref.activityAt << " " << ref.activityCompleteAt << " " << ref.doneAt << "\n"
      << ref.out;
  // The reference: copies of both databases with the journal folded in.
  const stdfs::path refHistory = tmp.Path() / "ref-PRAXDATA.MDB", refMaster = tmp.Path() / "ref-MASTER.MDB";
  DayDigests refDays;
  long long refActivityRows = 0;
  {
    const Sqlite db(history, SQLITE_OPEN_READWRITE);
    db.Query("VACUUM INTO '" + refHistory.string() + "'");
    refDays = DigestDays(db);
    refActivityRows = std::stoll(db.One("SELECT max(rowid) FROM ActivitySystem"));
    const Sqlite m(master, SQLITE_OPEN_READWRITE);
    m.Query("VACUUM INTO '" + refMaster.string() + "'");
  }
  const auto refHistoryDigests = Digests(refHistory), refMasterDigests = Digests(refMaster);
  auto compareAll = [&] {
    return CompareWith(refHistory, refHistoryDigests, history) + CompareWith(refMaster, refMasterDigests, master);
  };
  // The notes of a day carry the day's date, so a day's rows can be told
  // apart in every table of its pass.
  for (const auto& group : kDayTables)
    for (std::size_t t = 1; t < group.size(); ++t)
      for (const auto& [day, digest] : refDays[group[t]])
        ASSERT_TRUE(refDays[group[0]].count(day)) << group[t] << " day " << day.second << " not in " << group[0];
  // Every day of the network stores rows, so no rerun loads a day again:
  // the final tables of a resumed load can be compared row for row.
  const Outcome again = RunPraxload(resumeArgs, history, errFile);
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  ASSERT_NE(again.out.find("days loaded: 0 alert, 0 activity;"), std::string::npos) << again.out;
  ASSERT_EQ(compareAll(), "");

  // Kills while the fresh run starts and builds the History file: it is
  // whole or absent afterwards, never without tables, and no temporary file
  // outlives the resume (the fresh command again when there is no file).
  for (int k = 0; k < 8; ++k) {
    const double delay = (k + 0.5) / 8 * ref.alertAt;
    freshNetwork();
    const Outcome early = RunPraxload(freshArgs, history, errFile, Trigger::kStart, delay);
    const std::string where = "kill at " + Seconds(delay) + " s of the start";
    if (stdfs::exists(history)) {
      const Sqlite db(history, SQLITE_OPEN_READONLY);
      EXPECT_EQ(TableNames(db).size(), 13u) << where;
    }
    // No reader polls this resume: one would keep the log beside the file.
    const Outcome resume =
        RunPraxload(stdfs::exists(history) ? resumeArgs : freshArgs, history, errFile, Trigger::kNone, 0, 0);
    EXPECT_EQ(resume.exitCode, 0) << where << "\n" << resume.out << resume.err;
    EXPECT_EQ(compareAll(), "") << where;
    for (const auto& e : stdfs::directory_iterator(net)) {
      const std::string name = e.path().filename().string();
      EXPECT_TRUE(name.rfind("PRAXDATA.MDB", 0) != 0 || name == "PRAXDATA.MDB") << where << ": " << name;
    }
  }

  // Eight kills aimed at each pass, a seeded fraction of the way through it
  // as the uninterrupted load timed it; then, while timing drift has left
  // fewer than 24 kills or a pass with fewer than 6, more aimed at the pass
  // with the fewest.
  const Trigger passStart[4] = {Trigger::kNone, Trigger::kAlertLine, Trigger::kActivityLine,
                                Trigger::kActivityComplete};
  std::mt19937 rng(20260105);
  std::uniform_real_distribution<double> fraction(0.03, 0.97);
  int landed[5] = {};  // 0 before pass 1, 1 to 3 the passes, 4 after the job
  int kills = 0, finishedFirst = 0, recoveries = 0, splitDays = 0;
  for (int attempt = 0; attempt < 40; ++attempt) {
    int pass = attempt % 3 + 1;
    if (attempt >= 24) {
      if (kills >= 24 && std::min({landed[1], landed[2], landed[3]}) >= 6) break;
      for (int p = 3; p >= 1; --p)
        if (landed[p] <= landed[pass]) pass = p;
    }
    const double delay = fraction(rng) * passTime[pass];
    freshNetwork();
    const Outcome k = RunPraxload(freshArgs, history, errFile, passStart[pass], delay, refActivityRows);
    if (!k.killed) {
      ++finishedFirst;
      EXPECT_EQ(k.exitCode, 0) << k.out << k.err;
      continue;
    }
    ++kills;
    std::string integrity;
    long long activityRows = 0;
    std::vector<std::string> split;
    {
      const Sqlite db(history, SQLITE_OPEN_READWRITE);
      for (const auto& row : db.Query("PRAGMA integrity_check")) integrity += Join(row) + "\n";
      activityRows = std::stoll(db.One("SELECT ifnull(max(rowid), 0) FROM ActivitySystem"));
      split = SplitDays(refDays, DigestDays(db));
    }
    // Which pass the kill landed in, from what praxload had printed and the
    // activity rows it had committed.
    const int at = !k.Printed(kAlertLine)           ? 0
                   : k.Printed(kDoneLine)           ? 4
                   : !k.Printed(kActivityLine)      ? 1
                   : activityRows < refActivityRows ? 2
                                                    : 3;
    ++landed[at];
    const std::string where = "kill " + std::to_string(kills) + " aimed at pass " + std::to_string(pass) + " +" +
                              Seconds(delay) + " s, landed in " + std::to_string(at) + " at " + Seconds(k.killAt) +
                              " s";
    EXPECT_EQ(integrity, "ok\n") << where;
    splitDays += static_cast<int>(split.size());
    for (std::size_t i = 0; i < std::min<std::size_t>(3, split.size()); ++i)
      ADD_FAILURE() << where << ": day cut in half: " << split[i];

    const Outcome resume = RunPraxload(resumeArgs, history, errFile);
    EXPECT_EQ(resume.exitCode, 0) << where << "\n" << resume.out << resume.err;
    const std::string diff = compareAll();
    EXPECT_EQ(diff, "") << where;
    if (integrity == "ok\n" && resume.exitCode == 0 && diff.empty()) ++recoveries;
  }

  const double total = std::chrono::duration<double>(Clock::now() - started).count();
  std::cout << "crash: " << kills << " kills (pass 1: " << landed[1] << ", pass 2: " << landed[2]
            << ", pass 3: " << landed[3] << ", outside the passes: " << landed[0] + landed[4]
            << ", finished before the kill: " << finishedFirst << "); recovered " << recoveries << "/" << kills
            << "; split days " << splitDays << "; uninterrupted load " << Seconds(ref.doneAt) << " s (passes "
            << Seconds(passTime[1]) << "/" << Seconds(passTime[2]) << "/" << Seconds(passTime[3]) << " s); "
            << Seconds(total) << " s in all" << std::endl;
  for (int p = 1; p <= 3; ++p) EXPECT_GE(landed[p], 6) << "kills in pass " << p;
  EXPECT_GE(landed[1] + landed[2] + landed[3], 20);
  EXPECT_EQ(recoveries, kills);
  EXPECT_EQ(splitDays, 0);
}

}  // namespace

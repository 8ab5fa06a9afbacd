// The demo network generator: same seed same bytes, appended days equal generated ones, roster and
// directories, the dating of PRAXnnn files, and logs of the shapes the loaders read.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "gen/day_logs.h"
#include "gen/generate_network.h"
#include "gen/malformed_lines.h"
#include "logs/activity_day.h"
#include "logs/alert_day.h"
#include "logs/file_list.h"
#include "platform/fs.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/roster.h"

namespace {

namespace stdfs = std::filesystem;
using prax::gen::GenOptions;

// Every file below a folder (relative generic path -> bytes), the roster excluded.
std::map<std::string, std::string> Files(const stdfs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : stdfs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().filename() != "MASTER.MDB" && e.path().filename() != "praxgen.ini")
      files[stdfs::relative(e.path(), root).generic_string()] = praxtest::Slurp(e.path());
  return files;
}

GenOptions Options(const stdfs::path& dir, int users, int days, uint64_t seed = 7, int32_t unassigned = -1) {
  return {dir, users, days, seed, {2026, 1, 5}, {}, unassigned, 2, 0};
}

TEST(GenerateNetwork, SameSeedSameBytesAndAppendedDayEqualsGeneratedDay) {
  praxtest::TempDir tmp;
  const auto a = prax::gen::GenerateNetwork(Options(tmp.Path() / "a", 12, 3));
  for (const auto& [dir, days, seed] : {std::tuple{"b", 3, 7}, {"c", 2, 7}, {"d", 3, 8}})
    prax::gen::GenerateNetwork(Options(tmp.Path() / dir, 12, days, seed));
  const auto appended = prax::gen::AppendDay(tmp.Path() / "c");

  EXPECT_TRUE(a.files == 12 * 3 * 2 && appended.files == 12 * 2 && appended.firstDay == 2);
  const auto filesA = Files(tmp.Path() / "a");
  EXPECT_EQ(filesA, Files(tmp.Path() / "b"));
  EXPECT_EQ(filesA, Files(tmp.Path() / "c"));
  EXPECT_NE(filesA, Files(tmp.Path() / "d"));
  EXPECT_EQ(praxtest::Sqlite3(tmp.Path() / "a" / "MASTER.MDB", "SELECT * FROM Users;"),
            praxtest::Sqlite3(tmp.Path() / "b" / "MASTER.MDB", "SELECT * FROM Users;"));
}

// praxgen --nasty: seeded damage at about the rate asked, line ends kept.
TEST(MalformedLines, SeededDamageAtTheRate) {
  const std::string log = prax::gen::GenerateDayLogs(7, 1, 0, {2026, 1, 5}).activity;
  EXPECT_EQ(prax::gen::InjectMalformedLines(log, 0, 1), log);
  const std::string damaged = prax::gen::InjectMalformedLines(log, 0.2, 1);
  EXPECT_EQ(damaged, prax::gen::InjectMalformedLines(log, 0.2, 1));
  EXPECT_NE(damaged, prax::gen::InjectMalformedLines(log, 0.2, 2));
  std::istringstream a(log), b(damaged);
  int lines = 0, changed = 0;
  for (std::string x, y; std::getline(a, x, '\r') && std::getline(b, y, '\r'); ++lines) changed += x != y;
  EXPECT_EQ(std::count(damaged.begin(), damaged.end(), '\r'), std::count(log.begin(), log.end(), '\r'));
  EXPECT_TRUE(changed > lines / 10 && changed < lines * 3 / 10) << changed << " of " << lines;
}

// Free slots 4 and 8 of 12 get no directory; users above a thousand live in thousand folders.
TEST(GenerateNetwork, RosterSlotsAndUserDirectories) {
  praxtest::TempDir tmp;
  const stdfs::path net = tmp.Path() / "net", big = tmp.Path() / "big";
  EXPECT_EQ(prax::gen::GenerateNetwork(Options(net, 10, 1, 7, 2)).slots, 12);
  EXPECT_EQ(praxtest::Sqlite3(net / "MASTER.MDB", "SELECT Sub_Dir FROM Users WHERE Last_Name = 'Unassigned' AND "
                                                  "User_Id IS NULL; SELECT count(*), min(Sub_Dir), max(Sub_Dir) FROM "
                                                  "Users; SELECT User_Id FROM Users WHERE Sub_Dir = 'PX000005.DIR';"),
            "PX000004.DIR\nPX000008.DIR\n12|PX000001.DIR|PX000012.DIR\nU000005\n");
  EXPECT_FALSE(stdfs::exists(net / "PX000004.DIR"));
  EXPECT_EQ(std::distance(stdfs::directory_iterator(net / "PX000005.DIR"), stdfs::directory_iterator()), 2);
  // UserDefs.Prn: one quoted record of four items per user, CR LF, Windows-1252, some ids in small letters.
  const std::string defs = praxtest::Slurp(net / "UserDefs.Prn");
  for (const auto& [c, n] : {std::pair{'\n', 10}, {'"', 80}, {',', 30}}) EXPECT_EQ(std::count(defs.begin(), defs.end(), c), n) << c;
  EXPECT_NE(defs.find("\r\n\"u"), std::string::npos);
  EXPECT_EQ(defs.find("\xC3"), std::string::npos);

  prax::gen::GenerateNetwork(Options(big, 2001, 0, 7, 0));
  for (const char* dir : {"PX001000.DIR", "001000/PX001001.DIR", "001000/PX001999.DIR", "002000/PX002000.DIR"})
    EXPECT_TRUE(stdfs::is_directory(big / dir)) << dir;
  EXPECT_FALSE(stdfs::exists(big / "PX001001.DIR"));
}

// A folder not empty is refused, and one praxgen did not make gets no day appended.
TEST(GenerateNetwork, Refusals) {
  praxtest::TempDir tmp;
  const stdfs::path other = tmp.Write("other/keep.txt", "x").parent_path();
  EXPECT_TRUE(praxtest::Has(praxtest::Raised([&] { prax::gen::GenerateNetwork(Options(other, 2, 1)); }).what(), "not empty"));
  EXPECT_FALSE(stdfs::exists(other / "MASTER.MDB"));
  EXPECT_THROW(prax::gen::AppendDay(other), prax::Error);
}

// A PRAXnnn name carries no year: the file's modification time must give the
// right one, also across a year's end; every file lists as its own day.
TEST(GenerateNetwork, LogFilesListAsTheirDaysAcrossTheYearEnd) {
  praxtest::TempDir tmp;
  GenOptions o = Options(tmp.Path() / "net", 40, 3, 7, 0);
  o.start = {2025, 12, 30};  // Tue 30 Dec, Wed 31 Dec, Thu 1 Jan
  prax::gen::GenerateNetwork(o);
  int dayOfYearUsers = 0, lowerCaseUsers = 0;
  for (int32_t user = 1; user <= 40; ++user) {
    const auto profile = prax::gen::MakeProfile(o.seed, user);
    dayOfYearUsers += profile.nameForm != prax::gen::NameForm::Dated;
    lowerCaseUsers += profile.lowerCaseNames;
    const std::string dir = prax::fs::ToText(tmp.Path() / "net" / praxtest::SlotDir(user));
    for (const char* ext : {"PXL", "PXT"}) {
      const prax::FileList list = prax::BuildFileList(dir, ext);
      ASSERT_EQ(list.size(), 3u) << dir;
      std::set<int32_t> keys;
      for (const prax::LogDay& day : list) keys.insert(day.date);
      EXPECT_EQ(keys, (std::set<int32_t>{20251230, 20251231, 20260101})) << dir << " " << ext;
    }
  }
  EXPECT_TRUE(dayOfYearUsers > 0 && lowerCaseUsers > 0);
}

TEST(Calendar, WeekdaysAndDaysOfTheYear) {
  using prax::dt::Date;
  const std::tuple<Date, int, Date> cases[] = {
      // Monday + 5: the next Monday; a Saturday start moves to Monday; Thursday + 3 weekdays; a leap day.
      {{2026, 1, 5}, 5, {2026, 1, 12}}, {{2026, 1, 10}, 0, {2026, 1, 12}}, {{2026, 1, 8}, 3, {2026, 1, 13}},
      {{2024, 2, 28}, 1, {2024, 2, 29}}};
  for (const auto& [start, n, expected] : cases) {
    const Date d = prax::gen::NthWeekday(start, n);
    EXPECT_EQ(std::tie(d.year, d.month, d.day), std::tie(expected.year, expected.month, expected.day))
        << start.year << "-" << start.month << "-" << start.day << " + " << n;
  }
  EXPECT_EQ(prax::dt::DayOfYear({2024, 12, 31}), 366);
}

// Sixty days of twelve users: CR LF lines, none empty (that would end the reading), Windows-1252; the parsers
// read every kind of line from them, and each activity line's keys are its alert sample's keystrokes.
TEST(DayLogs, ParseWithEveryKindOfLine) {
  using R = prax::AlertCounts;
  static const std::regex data(R"re(\d{3} \d{4} "[^"]*","[^"]+" (\d+) ((\d+,\d+ )+))re");
  prax::AlertCarry alertCarry;
  prax::ActivityCarry activityCarry;
  std::map<std::string, int> seen;
  std::string all;
  for (int32_t user = 1; user <= 12; ++user) {
    for (int day = 0; day < 5; ++day) {
      const prax::dt::Date date = prax::gen::NthWeekday({2026, 1, 5}, day);
      const prax::gen::DayLogs logs = prax::gen::GenerateDayLogs(99, user, day, date);
      SCOPED_TRACE("user " + std::to_string(user) + " day " + std::to_string(day));
      for (const std::string& bytes : {logs.alert, logs.activity}) {
        EXPECT_TRUE(bytes.ends_with("\r\n") && bytes.find("\r\n\r\n") == std::string::npos);
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), std::count(bytes.begin(), bytes.end(), '\r'));
      }
      EXPECT_GE(logs.endHour * 60 + logs.endMinute, 16 * 60);
      all += logs.alert + logs.activity;
      const prax::AlertDay alert = prax::ParseAlertDay(logs.alert, alertCarry);
      EXPECT_EQ(alert.counts.At(0, R::kRestarts, 0), 2);  // morning and after lunch
      for (const auto& e : alert.events) {
        ++seen[std::to_string(e.index())];
        const auto* t = std::get_if<prax::ToolUsed>(&e);
        EXPECT_TRUE(!t || (t->date == date.year * 10000 + date.month * 100 + date.day && t->hour));
      }
      for (const int row : {R::kStretch, R::kCycled, R::kKeyGiven, R::kMouseGiven, R::kKeySkipped})
        seen["row" + std::to_string(row)] += alert.counts.At(0, row, 0);
      const prax::ActivityDay activity = prax::ParseActivityDay(logs.activity, {}, activityCarry);
      for (const auto& e : activity.events) ++seen["a" + std::to_string(e.index())];
      seen["backspace"] += activity.errorKeys[0][0], seen["delete"] += activity.errorKeys[0][1];
      long keys = 0;
      std::istringstream lines(logs.activity);
      std::smatch m;
      for (std::string line; std::getline(lines, line, '\r');)
        if (std::regex_search(line, m, data)) {
          std::istringstream pairs(m[2]);
          long sum = 0;
          for (int key, count; pairs >> key && pairs.ignore() >> count; sum += count) EXPECT_TRUE(key <= 256 && count > 0);
          EXPECT_EQ(std::stol(m[1]), sum) << line;
          keys += sum;
        }
      EXPECT_EQ(keys, alert.counts.At(0, R::kKeystrokes, 0));
    }
  }
  for (const char* kind : {"0", "1", "2", "a0", "a1", "a2", "row10", "row12", "row0", "row5", "row2", "backspace", "delete"})
    EXPECT_GT(seen[kind], 0) << kind;
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](char c) { return c & 0x80; }));
  EXPECT_EQ(all.find('\xC3'), std::string::npos);
}

TEST(DayLogs, FileNamesFollowTheUsersNamingForm) {
  using prax::gen::NameForm;
  const std::tuple<NameForm, bool, int, const char*> cases[] = {
      {NameForm::Dated, false, 0, "20260203.PXL"},    {NameForm::DayOfYear, false, 0, "PRAX034.PXL"},
      {NameForm::DayOfYear, true, 0, "prax034.pxl"},  {NameForm::Mixed, false, 1, "PRAX034.PXL"},  // before the switch
      {NameForm::Mixed, false, 2, "20260203.PXL"}};
  for (const auto& [form, lower, dayIndex, expected] : cases) {
    prax::gen::UserProfile p;
    p.nameForm = form;
    p.lowerCaseNames = lower;
    p.dayOfYearUntil = 2;
    EXPECT_EQ(prax::gen::LogFileName(p, dayIndex, {2026, 2, 3}, "PXL"), expected);
  }
}

}  // namespace

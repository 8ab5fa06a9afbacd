// The demo network generator: same seed same bytes, appended days equal
// generated ones, roster and directory layout, program-folder files, and the
// dating of PRAXnnn files through their modification time.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "app/run_context.h"
#include "app/startup.h"
#include "gen/day_logs.h"
#include "gen/generate_network.h"
#include "gen/malformed_lines.h"
#include "job/file_list.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace {

namespace stdfs = std::filesystem;
using prax::gen::GenOptions;

std::string Slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every file below a folder (relative generic path -> bytes), the roster excluded.
std::map<std::string, std::string> Files(const stdfs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : stdfs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.path().filename() == "MASTER.MDB" || e.path().filename() == "praxgen.ini")
      continue;
    files[stdfs::relative(e.path(), root).generic_string()] = Slurp(e.path());
  }
  return files;
}

GenOptions Options(const stdfs::path& dir, int users, int days, uint64_t seed = 7) {
  GenOptions o;
  o.networkDir = dir;
  o.users = users;
  o.days = days;
  o.seed = seed;
  o.threads = 2;
  return o;
}

TEST(GenerateNetwork, SameSeedSameBytesAndAppendedDayEqualsGeneratedDay) {
  praxtest::TempDir tmp;
  const auto a = prax::gen::GenerateNetwork(Options(tmp.Path() / "a", 12, 3));
  prax::gen::GenerateNetwork(Options(tmp.Path() / "b", 12, 3));
  prax::gen::GenerateNetwork(Options(tmp.Path() / "c", 12, 2));
  prax::gen::GenerateNetwork(Options(tmp.Path() / "d", 12, 3, 8));
  const auto appended = prax::gen::AppendDay(tmp.Path() / "c");

  EXPECT_EQ(a.files, 12 * 3 * 2);
  EXPECT_EQ(appended.files, 12 * 2);
  EXPECT_EQ(appended.firstDay, 2);
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
  EXPECT_GT(changed, lines / 10);
  EXPECT_LT(changed, lines * 3 / 10);
}

TEST(GenerateNetwork, RosterSlotsAndUserDefinitions) {
  praxtest::TempDir tmp;
  GenOptions o = Options(tmp.Path() / "net", 10, 1);
  o.unassigned = 2;  // free slots 4 and 8 of 12
  const auto s = prax::gen::GenerateNetwork(o);
  EXPECT_EQ(s.slots, 12);
  const stdfs::path net = tmp.Path() / "net";
  EXPECT_EQ(praxtest::Sqlite3(net / "MASTER.MDB",
                              "SELECT Sub_Dir FROM Users WHERE Last_Name = 'Unassigned' AND User_Id IS NULL;"),
            "PX000004.DIR\nPX000008.DIR\n");
  EXPECT_EQ(praxtest::Sqlite3(net / "MASTER.MDB", "SELECT COUNT(*), MIN(Sub_Dir), MAX(Sub_Dir) FROM Users;"),
            "12|PX000001.DIR|PX000012.DIR\n");
  EXPECT_EQ(praxtest::Sqlite3(net / "MASTER.MDB", "SELECT User_Id FROM Users WHERE Sub_Dir = 'PX000005.DIR';"),
            "U000005\n");
  // Free slots get no user directory; the others one each.
  EXPECT_FALSE(stdfs::exists(net / "PX000004.DIR"));
  EXPECT_EQ(std::distance(stdfs::directory_iterator(net / "PX000005.DIR"), stdfs::directory_iterator()), 2);

  // UserDefs.Prn: one quoted record of four items per assigned user, CR LF,
  // Windows-1252 text, some ids in small letters.
  const std::string defs = Slurp(net / "UserDefs.Prn");
  std::istringstream lines(defs);
  std::string line;
  int records = 0;
  bool smallId = false;
  while (std::getline(lines, line)) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');
    EXPECT_EQ(std::count(line.begin(), line.end(), '"'), 8) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 3) << line;
    smallId = smallId || line.rfind("\"u", 0) == 0;
    ++records;
  }
  EXPECT_EQ(records, 10);
  EXPECT_TRUE(smallId);
  EXPECT_EQ(defs.find("\xC3"), std::string::npos);  // no UTF-8 sequences
}

TEST(GenerateNetwork, UsersAboveAThousandLiveInThousandFolders) {
  praxtest::TempDir tmp;
  GenOptions o = Options(tmp.Path() / "net", 2001, 0);
  o.unassigned = 0;
  prax::gen::GenerateNetwork(o);
  const stdfs::path net = tmp.Path() / "net";
  EXPECT_TRUE(stdfs::is_directory(net / "PX001000.DIR"));
  EXPECT_TRUE(stdfs::is_directory(net / "001000" / "PX001001.DIR"));
  EXPECT_TRUE(stdfs::is_directory(net / "001000" / "PX001999.DIR"));
  EXPECT_TRUE(stdfs::is_directory(net / "002000" / "PX002000.DIR"));
  EXPECT_FALSE(stdfs::exists(net / "PX001001.DIR"));
}

TEST(GenerateNetwork, ProgramFolderFindsTheNetwork) {
  praxtest::TempDir tmp;
  GenOptions o = Options(tmp.Path() / "net", 2, 1);
  o.programDir = tmp.Path() / "prog";
  prax::gen::GenerateNetwork(o);
  prax::RunContext ctx;
  ctx.ProgramDir = prax::fs::ToText(tmp.Path() / "prog");
  ctx.IniDir = prax::ReadIniDir(ctx);
  EXPECT_EQ(ctx.IniDir, ctx.ProgramDir + "/");
  EXPECT_EQ(prax::ReadNetworkDir(ctx), prax::fs::ToText(tmp.Path() / "net") + "/");
}

TEST(GenerateNetwork, RefusesAFolderThatIsNotEmpty) {
  praxtest::TempDir tmp;
  tmp.Write("net/keep.txt", "x");
  try {
    prax::gen::GenerateNetwork(Options(tmp.Path() / "net", 2, 1));
    FAIL() << "expected a refusal";
  } catch (const prax::Error& e) {
    EXPECT_NE(std::string(e.what()).find("not empty"), std::string::npos);
  }
  EXPECT_FALSE(stdfs::exists(tmp.Path() / "net" / "MASTER.MDB"));
  EXPECT_THROW(prax::gen::AppendDay(tmp.Path() / "net"), prax::Error);  // not made by praxgen
}

// A PRAXnnn name carries no year: the file's modification time must give the
// right one, also across a year's end; every file lists as its own day.
TEST(GenerateNetwork, LogFilesListAsTheirDaysAcrossTheYearEnd) {
  praxtest::TempDir tmp;
  GenOptions o = Options(tmp.Path() / "net", 40, 3);
  o.start = {2025, 12, 30};  // Tue 30 Dec, Wed 31 Dec, Thu 1 Jan
  o.unassigned = 0;
  prax::gen::GenerateNetwork(o);
  int dayOfYearUsers = 0, lowerCaseUsers = 0;
  for (int32_t user = 1; user <= 40; ++user) {
    const auto profile = prax::gen::MakeProfile(o.seed, user);
    dayOfYearUsers += profile.nameForm != prax::gen::NameForm::Dated;
    lowerCaseUsers += profile.lowerCaseNames;
    const std::string dir = prax::fs::ToText(tmp.Path() / "net" / ("PX" + std::string(6 - std::to_string(user).size(), '0') +
                                                                   std::to_string(user) + ".DIR"));
    for (const char* ext : {"PXL", "PXT"}) {
      const prax::FileList list = prax::BuildFileList(dir, ext);
      ASSERT_EQ(list.size(), 4u) << dir;
      std::vector<int32_t> keys;
      for (std::size_t i = 1; i < list.size(); ++i) keys.push_back(prax::EntryDateKey(list[i]));
      std::sort(keys.begin(), keys.end());
      EXPECT_EQ(keys, (std::vector<int32_t>{20251230, 20251231, 20260101})) << dir << " " << ext;
    }
  }
  EXPECT_GT(dayOfYearUsers, 0);
  EXPECT_GT(lowerCaseUsers, 0);
}

TEST(Calendar, WeekdaysAndDaysOfTheYear) {
  using prax::dt::Date;
  struct Case {
    Date start;
    int n;
    Date expected;
  };
  const Case cases[] = {
      {{2026, 1, 5}, 0, {2026, 1, 5}},    // a Monday
      {{2026, 1, 5}, 4, {2026, 1, 9}},    // Friday
      {{2026, 1, 5}, 5, {2026, 1, 12}},   // the next Monday
      {{2026, 1, 10}, 0, {2026, 1, 12}},  // a Saturday start moves to Monday
      {{2026, 1, 8}, 3, {2026, 1, 13}},   // Thursday + 3 weekdays
      {{2024, 2, 28}, 1, {2024, 2, 29}},
  };
  for (const Case& c : cases) {
    const Date d = prax::gen::NthWeekday(c.start, c.n);
    EXPECT_EQ(std::tie(d.year, d.month, d.day), std::tie(c.expected.year, c.expected.month, c.expected.day))
        << c.start.year << "-" << c.start.month << "-" << c.start.day << " + " << c.n;
  }
  EXPECT_EQ(prax::gen::DayOfYear({2024, 12, 31}), 366);
  EXPECT_EQ(prax::gen::DayOfYear({2026, 2, 1}), 32);
  EXPECT_EQ(prax::gen::Weekday({2026, 1, 5}), 0);
}

}  // namespace

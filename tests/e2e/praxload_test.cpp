// The built programs as an administrator's scheduler runs them: praxgen writes
// a network and a program folder, praxload loads it without a terminal.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace stdfs = std::filesystem;

const char* const kTables[] = {"AlertSystem",  "ActivitySystem",  "UserNotes",       "ProjectNotes", "ApplicationsList",
                               "ProjectsList", "BodyPartsList",   "WindowsList",     "DiscomfortsList",
                               "ProjectTasksList", "NotesList",   "EMSToolsList",    "EMSSystemUsage"};
const char* const kLists[] = {"ApplicationsList", "ProjectsList",     "BodyPartsList", "WindowsList",
                              "DiscomfortsList",  "ProjectTasksList", "NotesList",     "EMSToolsList"};

std::string Slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct ProcessResult {
  int exitCode = -1;
  std::string out, err;
};

class E2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessResult g = Exec(std::string(PRAX_BINARY_DIR "/praxgen ") + Net().string() + " --users 5 --days 3 --seed 11 --start 2026-01-05 --program-dir " +
                 Prog().string());
    ASSERT_EQ(g.exitCode, 0) << g.err;
  }

  stdfs::path Net() const { return tmp_.Path() / "net"; }
  stdfs::path Prog() const { return tmp_.Path() / "prog"; }
  stdfs::path History() const { return Net() / "PRAXDATA.MDB"; }

  // Runs a command with no terminal attached: standard input is /dev/null.
  ProcessResult Exec(const std::string& command) const {
    const stdfs::path out = tmp_.Path() / "stdout.txt", err = tmp_.Path() / "stderr.txt";
    const int status = std::system((command + " </dev/null >" + out.string() + " 2>" + err.string()).c_str());
    ProcessResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }
  ProcessResult Praxload(const std::string& options) const {
    return Exec(std::string(PRAX_BINARY_DIR "/praxload --program-dir ") + Prog().string() + " " + options);
  }

  long Count(const std::string& sql) const { return std::stol(praxtest::Sqlite3(History(), sql)); }
  std::string Dump() const {
    std::string all;
    for (const char* t : kTables) all += praxtest::Sqlite3(History(), std::string("SELECT * FROM ") + t + ";");
    return all;
  }

  // Counts over the generated logs: lines starting with `prefix` in files of
  // extension `ext`, and the keystrokes of the alert samples.
  long LogLines(const std::string& ext, const std::string& prefix) const {
    long n = 0;
    ForEachLine(ext, [&](const std::string& line) { n += line.rfind(prefix, 0) == 0; });
    return n;
  }
  long AlertKeystrokes() const {
    long sum = 0;
    ForEachLine("PXL", [&](const std::string& line) {
      if (line.size() < 9 || line[0] < '0' || line[0] > '9' || line.find("RECOV") != std::string::npos) return;
      std::istringstream words(line.substr(9));
      long keys = 0;
      words >> keys;
      sum += keys;
    });
    return sum;
  }
  template <class F>
  void ForEachLine(const std::string& ext, F&& f) const {
    for (const auto& e : stdfs::recursive_directory_iterator(Net())) {
      std::string name = e.path().extension().string();
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (!e.is_regular_file() || name != "." + ext) continue;
      std::istringstream in(Slurp(e.path()));
      std::string line;
      while (std::getline(in, line)) f(line.substr(0, line.size() - 1));  // without the CR
    }
  }

  praxtest::TempDir tmp_;
};

void ExpectUpdatedDat(const stdfs::path& file) {
  ASSERT_TRUE(stdfs::exists(file)) << file;
  const std::string bytes = Slurp(file);
  EXPECT_EQ(bytes.rfind("\"        DB Updated Last: ", 0), 0u) << bytes;
  EXPECT_EQ(bytes.size() - bytes.find("\"\r\n", 1), 3u) << "one line ending with a quote" << bytes;
}

TEST_F(E2e, FreshRunLoadsEveryTableAndASecondRunAddsNothing) {
  const ProcessResult r = Praxload("--fresh --yes --master");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Status: Creating new database.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Status: Database Updated.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("History database: " + History().generic_string() + "\n"), std::string::npos) << r.out;
  const std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
  EXPECT_EQ(last.rfind("praxload: 6 users processed; days loaded: 15 alert, 15 activity; rows added:", 0), 0u)
      << last;

  for (const char* list : kLists) EXPECT_GT(Count(std::string("SELECT COUNT(*) FROM ") + list + ";"), 0) << list;
  // Five users with logs over three days: one day-total AlertSystem row each,
  // whose keystrokes add up to those of the logs.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM AlertSystem WHERE Data_Hour = '00';"), 15);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM (SELECT DISTINCT User_Num, Data_Date FROM AlertSystem);"), 15);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM (SELECT DISTINCT User_Num, Data_Date FROM ActivitySystem);"), 15);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM AlertSystem WHERE Data_Date NOT IN (20260105, 20260106, 20260107);"), 0);
  EXPECT_EQ(Count("SELECT SUM(Keystrokes) FROM AlertSystem WHERE Data_Hour = '00';"), AlertKeystrokes());
  EXPECT_EQ(Count("SELECT SUM(Keystrokes) FROM AlertSystem WHERE Data_Hour <> '00';"), AlertKeystrokes());
  EXPECT_GT(Count("SELECT COUNT(*) FROM AlertSystem WHERE Error_Keys > 0;"), 0);
  EXPECT_GT(Count("SELECT COUNT(*) FROM ActivitySystem WHERE Key_Num = 8;"), 0);
  // One row per recorded action, discomfort entry and activity note.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM EMSSystemUsage;"), LogLines("PXL", "User Action:"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM UserNotes;"), LogLines("PXL", "User Entry:"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ProjectNotes;"), LogLines("PXT", "User Notes:"));
  // UserDefs.Prn went into the roster.
  EXPECT_EQ(praxtest::Sqlite3(Net() / "MASTER.MDB", "SELECT COUNT(*) FROM Users WHERE Location_Id > 0;"), "5\n");

  ExpectUpdatedDat(Net() / "UPDATED.DAT");
  ExpectUpdatedDat(Prog() / "UPDATED.DAT");
  EXPECT_FALSE(stdfs::exists(Prog() / "PXSERVER.SET"));
  EXPECT_FALSE(stdfs::exists(Prog() / "Restore.KTR"));

  // No options: the restored choices, updating the existing database.
  const std::string before = Dump();
  const ProcessResult again = Praxload("");
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("days loaded: 0 alert, 0 activity"), std::string::npos) << again.out;
  EXPECT_EQ(Dump(), before);

  // One more day: only that day is loaded.
  ASSERT_EQ(Exec(std::string(PRAX_BINARY_DIR "/praxgen ") + Net().string() + " --append-day").exitCode, 0);
  const ProcessResult third = Praxload("--quiet");
  ASSERT_EQ(third.exitCode, 0) << third.err;
  EXPECT_EQ(third.out.find("Status:"), std::string::npos) << third.out;
  EXPECT_NE(third.out.find("days loaded: 5 alert, 5 activity"), std::string::npos) << third.out;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM AlertSystem WHERE Data_Hour = '00';"), 20);
}

TEST_F(E2e, FilesPassedOverReachStandardErrorTheSummaryAndTheRunLog) {
  // A log of today (by this machine's clock), still being written, and a
  // file far too large to be a log (sparse: it costs no disk).
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
  { std::ofstream(Net() / "PX000001.DIR" / (std::string(today) + ".PXL")) << "001 0905 10 0 1 x 4 0 1 x x x end\r\n"; }
  { std::ofstream(Net() / "PX000002.DIR" / "20260102.PXT") << "x"; }
  stdfs::resize_file(Net() / "PX000002.DIR" / "20260102.PXT", 65ull << 20);

  const ProcessResult r = Praxload("--fresh --yes --quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string todayLine = std::string(today) + ".PXL: left for a later run: today's log\n";
  EXPECT_NE(r.err.find(todayLine), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Activity log not read: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("20260102.PXT (File too large to be a log"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("; 2 files skipped; "), std::string::npos) << r.out;
  const std::string kept = Slurp(Prog() / "PRAXLOAD.LOG");
  EXPECT_NE(kept.find(std::string(today) + ".PXL: left for a later run: today's log\r\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Database Updated. 2 files skipped\r\n"), std::string::npos) << kept;

  // After close of business the same day is loaded.
  const ProcessResult late = Praxload("--include-today --quiet");
  ASSERT_EQ(late.exitCode, 0) << late.err;
  EXPECT_NE(late.out.find("days loaded: 1 alert,"), std::string::npos) << late.out;
  EXPECT_EQ(late.err.find("today's log"), std::string::npos) << late.err;
}

TEST_F(E2e, NoOptionsRepeatTheSavedChoices) {
  // The window last closed with the range 2 to 2 and the import ticked.
  std::ofstream(Prog() / "PXSERVER.SET", std::ios::binary) << "2\r\n1\r\n\"2\",\"2\"\r\n1\r\n1\r\n";
  ASSERT_EQ(Praxload("--fresh --yes --only-create").exitCode, 0);
  const ProcessResult r = Praxload("");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Status: Updating Master database.\n"), std::string::npos) << r.out;
  EXPECT_EQ(praxtest::Sqlite3(History(), "SELECT DISTINCT User_Num FROM AlertSystem;"), "2\n");
  // Options win over the saved choices.
  ASSERT_EQ(Praxload("--full --no-master").exitCode, 0);
  EXPECT_EQ(praxtest::Sqlite3(History(), "SELECT DISTINCT User_Num FROM AlertSystem ORDER BY 1;"), "1\n2\n4\n5\n6\n");
  EXPECT_EQ(Slurp(Prog() / "PXSERVER.SET"), "2\r\n1\r\n\"2\",\"2\"\r\n1\r\n1\r\n");  // not rewritten
}

TEST_F(E2e, RefusalsChangeNothing) {
  struct Case {
    const char* options;
    const char* stderrText;
  };
  const Case cases[] = {
      {"--range 0 5", "You have selected a starting record number of less than 1.  Please change the starting "
                      "record number and try again."},
      {"--range 5 0", "You have selected an ending record number of less than 1."},
      {"--range 7 5", "You have selected a starting record number greater than the ending record number."},
      {"--range abc 5 --fresh --yes", "You have selected a starting record number of less than 1."},
      {"--fresh", "needs confirmation"},
      {"--fresh --master", "needs confirmation"},
      {"--master --no-master", "excludes"},
      {"--full --networks", "excludes"},
      {"--range 1", "--range"},
      {"--bogus", "bogus"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Praxload(c.options);
    EXPECT_EQ(r.exitCode, 2) << c.options << "\n" << r.out << r.err;
    EXPECT_NE(r.err.find(c.stderrText), std::string::npos) << c.options << "\n" << r.err;
    EXPECT_FALSE(stdfs::exists(History())) << c.options;
    EXPECT_FALSE(stdfs::exists(Net() / "UPDATED.DAT")) << c.options;
    EXPECT_FALSE(stdfs::exists(Prog() / "UPDATED.DAT")) << c.options;
  }
}

TEST_F(E2e, UpdateWithoutHistoryDatabaseFailsNamingIt) {
  const ProcessResult r = Praxload("--full");
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("PRAXDATA.MDB"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.rfind("Error ", 0), 0u) << r.err;
  EXPECT_FALSE(stdfs::exists(Net() / "UPDATED.DAT"));
  EXPECT_FALSE(stdfs::exists(Prog() / "UPDATED.DAT"));
}

TEST_F(E2e, OnlyCreateMakesAnEmptyDatabaseAndNoUpdatedDat) {
  const ProcessResult r = Praxload("--fresh --yes --only-create");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Status: Database Created.\n"), std::string::npos) << r.out;
  for (const char* table : kTables) EXPECT_EQ(Count(std::string("SELECT COUNT(*) FROM ") + table + ";"), 0) << table;
  EXPECT_FALSE(stdfs::exists(Net() / "UPDATED.DAT"));
  EXPECT_FALSE(stdfs::exists(Prog() / "UPDATED.DAT"));
}

}  // namespace

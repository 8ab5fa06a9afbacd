#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <set>

#include "app/status.h"
#include "master/master_database.h"
#include "master/user_slot_count.h"
#include "master_fixture.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace {

namespace stdfs = std::filesystem;
using mastertest::MasterContext;
using mastertest::Rows;
using praxtest::RosterRow;
using praxtest::SlotDir;

std::string ReadAll(const stdfs::path& p) { return prax::fs::ReadFile(p.string()); }

int DateOf(const stdfs::path& p) {
  const auto t = prax::fs::LastModified(p.string());
  return t ? t->year * 10000 + t->month * 100 + t->day : 0;
}

std::set<std::string> Names(const stdfs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : stdfs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

// Three good networks, an unreadable one and one climbing out with "..",
// merged into a folder holding what an earlier merge and the console left.
class MergeTest : public ::testing::Test {
 protected:
  praxtest::TempDir root;
  std::string target = root.Text() + "target/";
  std::string net1 = root.Text() + "net1/";
  std::string net2 = root.Text() + "net2/";
  std::string broken = root.Text() + "broken/";
  std::string climbing = root.Text() + "net1/../net2/";
  std::string net3 = root.Text() + "net3/";
  MasterContext m{target};

  void SetUp() override {
    // North: three users and an unassigned slot, stored out of Sub_Dir order.
    praxtest::MakeRoster(root.Path() / "net1/MASTER.MDB",
                         {{"N3", "Lee", "Kim", "", "PX000004.DIR"},
                          {"", "unassigned", "", "", "PX000002.DIR"},
                          {"N1", "Smith", "Ann", "B", "PX000001.DIR"},
                          {"N2", "Jones", "Bob", "", "PX000003.DIR"}});
    MasterContext up(net1);
    prax::ModifyMasterDatabase(up.ctx);  // the merged roster keeps these lists
    praxtest::SetMTime(root.Write("net1/PX000001.DIR/20240105.PXL", "alert log"), 2024, 1, 5);
    praxtest::SetMTime(root.Write("net1/PX000001.DIR/PRAX001.PXL", "old log"), 2019, 7, 1);
    root.Write("net1/PX000001.DIR/.hidden", "hidden");
    root.Write("net1/PX000001.DIR/inner/x.PXL", "not copied");
    root.Write("outside/secret.PXL", "never copied");
    stdfs::create_symlink(root.Path() / "outside/secret.PXL", root.Path() / "net1/PX000001.DIR/link.PXL");
    root.Write("net1/PX000004.DIR/20240106.PXT", "activity log");

    // South: one user repeating North's first prefix and number, one Sub_Dir leading out.
    praxtest::MakeRoster(root.Path() / "net2/MASTER.MDB",
                         {{"S45", "Park", "Jin", "", "PX000045.DIR"},
                          {"S1", "Kim", "Sun", "", "PX000001.DIR"},
                          {"S9", "Evil", "", "", "..\\PX1.DIR"}});
    root.Write("net2/PX000045.DIR/20240201.PXL", "park");

    root.Write("broken/MASTER.MDB", "not a database");

    // East: 996 users (two with logs, one without a Last_Name) and five free slots up to 1001.
    std::vector<RosterRow> east;
    for (int n = 1; n <= 1001; ++n) {
      const std::string number = std::to_string(n);
      east.push_back(n > 996 ? RosterRow{"", "Unassigned", "", "", SlotDir(n)}
                             : RosterRow{"E" + number, n == 10 ? "" : "User" + number, "", "", SlotDir(n)});
    }
    praxtest::MakeRoster(root.Path() / "net3/MASTER.MDB", east);
    root.Write("net3/PX000995.DIR/20240301.PXL", "thousandth");
    root.Write("net3/PX000996.DIR/20240302.PXL", "one thousand and first");

    for (const auto& [file, bytes] : {std::pair{"Networks.Lst", "list"}, {"NETWORKS.LST", "other spelling"},
                                      {"PRAXDATA.MDB", "old history"}, {"PX000077.DIR/old.PXL", "old"},
                                      {"PX000077.DIR/.hid", "old"}, {"Samples/sample.PXL", "sample"},
                                      {"002000/PX002001.DIR/a.PXL", "earlier merge"}, {"Keep/notes.txt", "admin's"}})
      root.Write(std::string("target/") + file, bytes);

    m.ctx.NetworkPaths = {net1, net2, broken, climbing, net3};
    m.ctx.NetworkPrefixes = {"A", "A", "X", "Y", "C"};
    m.ctx.NetworkNames = {"North", "South", "Broken", "Climb", "East"};
    m.ctx.NetworkCount = 5;
  }
};

TEST_F(MergeTest, MergesRostersGroupsAndUserDirectories) {
  prax::MergeNetworks(m.ctx);
  const stdfs::path t = root.Path() / "target";
  EXPECT_EQ(m.ctx.UserSlotCount, 1001);
  EXPECT_EQ(m.ctx.Db, nullptr);

  // The clearing: kept, removed, left in place.
  EXPECT_EQ(ReadAll(t / "Networks.Lst"), "list");
  EXPECT_FALSE(stdfs::exists(t / "NETWORKS.LST"));
  EXPECT_FALSE(stdfs::exists(t / "PRAXDATA.MDB"));
  EXPECT_FALSE(stdfs::exists(t / "PX000077.DIR/old.PXL"));  // PX000077.DIR itself is merged user 77's
  EXPECT_FALSE(stdfs::exists(t / "PX000077.DIR/.hid"));
  EXPECT_FALSE(stdfs::exists(t / "Samples"));
  EXPECT_FALSE(stdfs::exists(t / "002000"));
  EXPECT_EQ(ReadAll(t / "Keep/notes.txt"), "admin's");
  EXPECT_TRUE(m.status.Said("Keep"));

  // Merged roster: North in Sub_Dir order, then South; the Unassigned slot,
  // the unreadable and the climbing network and the bad Sub_Dir add nobody.
  const auto users = Rows(t / "MASTER.MDB", "SELECT Sub_Dir, User_Id, Last_Name, First_Name, Middle_Init FROM Users");
  ASSERT_EQ(users.size(), 1001u);
  const std::vector<std::string> firstFive = {
      "PX000001.DIR|A000001|Smith|Ann|B", "PX000002.DIR|A000003|Jones|Bob|Null", "PX000003.DIR|A000004|Lee|Kim|Null",
      "PX000004.DIR|A000001|Kim|Sun|Null", "PX000005.DIR|A000045|Park|Jin|Null"};
  EXPECT_EQ(std::vector<std::string>(users.begin(), users.begin() + 5), firstFive);
  for (int n = 6; n <= 1001; ++n) {
    const int old = n - 5;
    const std::string oldDigits = SlotDir(old).substr(2, 6);
    EXPECT_EQ(users[n - 1], SlotDir(n) + "|C" + oldDigits + "|" + (old == 10 ? "Null" : "User" + std::to_string(old)) +
                                "|Null|Null");
  }
  EXPECT_EQ(praxtest::Sqlite3(t / "MASTER.MDB", "SELECT count(*) FROM LocationsList;"), "0\n");

  // Group files: Everyone keeps the first A000001; the unreadable network's file is empty.
  const auto everyone = Rows(t / "Everyone.grp", "SELECT Sub_Dir, User_Id, Last_Name FROM Members");
  ASSERT_EQ(everyone.size(), 1000u);
  EXPECT_EQ(std::vector<std::string>(everyone.begin(), everyone.begin() + 4),
            (std::vector<std::string>{"PX000001.DIR|A000001|Smith", "PX000002.DIR|A000003|Jones",
                                      "PX000003.DIR|A000004|Lee", "PX000005.DIR|A000045|Park"}));
  EXPECT_EQ(everyone.back(), "PX001001.DIR|C000996|User996");
  EXPECT_EQ(Rows(t / "North.Grp", "SELECT Last_Name, Middle_Init, First_Name, Sub_Dir, User_Id FROM Members"),
            (std::vector<std::string>{"Smith|B|Ann|PX000001.DIR|A000001", "Jones|Null|Bob|PX000002.DIR|A000003",
                                      "Lee|Null|Kim|PX000003.DIR|A000004"}));
  EXPECT_EQ(Rows(t / "South.Grp", "SELECT Sub_Dir, User_Id FROM Members"),
            (std::vector<std::string>{"PX000004.DIR|A000001", "PX000005.DIR|A000045"}));
  EXPECT_EQ(praxtest::Sqlite3(t / "East.Grp", "SELECT count(*), min(User_Id), max(User_Id) FROM Members;"),
            "996|C000001|C000996\n");
  EXPECT_TRUE(Rows(t / "Broken.Grp", "SELECT * FROM Members").empty());
  EXPECT_FALSE(stdfs::exists(t / "Climb.Grp"));

  // User directories and copied files, with their modification dates.
  EXPECT_EQ(Names(t / "PX000001.DIR"), (std::set<std::string>{"20240105.PXL", "PRAX001.PXL", ".hidden"}));
  EXPECT_EQ(ReadAll(t / "PX000001.DIR/20240105.PXL"), "alert log");
  EXPECT_EQ(DateOf(t / "PX000001.DIR/20240105.PXL"), 20240105);
  EXPECT_EQ(DateOf(t / "PX000001.DIR/PRAX001.PXL"), 20190701);
  EXPECT_TRUE(Names(t / "PX000002.DIR").empty());
  EXPECT_EQ(Names(t / "PX000003.DIR"), std::set<std::string>{"20240106.PXT"});
  EXPECT_TRUE(Names(t / "PX000004.DIR").empty());
  EXPECT_EQ(ReadAll(t / "PX000005.DIR/20240201.PXL"), "park");
  EXPECT_EQ(ReadAll(t / "PX001000.DIR/20240301.PXL"), "thousandth");
  EXPECT_EQ(ReadAll(t / "001000/PX001001.DIR/20240302.PXL"), "one thousand and first");
  EXPECT_FALSE(stdfs::exists(t / "PX001001.DIR"));
  EXPECT_EQ(Names(t / "001000"), std::set<std::string>{"PX001001.DIR"});
  std::set<std::string> expected = {"Networks.Lst", "MASTER.MDB", "Everyone.grp", "North.Grp", "South.Grp",
                                    "Broken.Grp", "East.Grp", "Keep", "001000"};
  for (int n = 1; n <= 1000; ++n) expected.insert(SlotDir(n));
  EXPECT_EQ(Names(t), expected);

  // The sources are untouched; what was left out is named on the status line.
  EXPECT_EQ(ReadAll(root.Path() / "outside/secret.PXL"), "never copied");
  EXPECT_TRUE(stdfs::exists(root.Path() / "net1/PX000001.DIR/20240105.PXL"));
  EXPECT_TRUE(m.status.Said("Merging: " + net1));
  EXPECT_TRUE(m.status.Said("Merging: " + net3));
  EXPECT_TRUE(m.status.Said("network '" + broken + "' left out"));
  EXPECT_TRUE(m.status.Said("network '" + climbing + "' skipped"));
  EXPECT_TRUE(m.status.Said("..\\PX1.DIR"));
  EXPECT_EQ(m.status.UserBar(), 80);
  EXPECT_EQ(m.status.FileBar(), 100);
}

// Refusals come before anything is deleted.
TEST_F(MergeTest, RefusesAndDeletesNothing) {
  stdfs::create_directory_symlink(root.Path() / "target", root.Path() / "alias");
  stdfs::create_directory(root.Path() / "target/kept");
  stdfs::create_directory(root.Path() / "linked");
  stdfs::create_symlink(root.Path() / "net1/MASTER.MDB", root.Path() / "linked/MASTER.MDB");
  struct Case {
    const char* name;
    std::vector<std::string> paths;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"empty list", {}, "lists no network"},
      {"the network directory itself", {net1, root.Text() + "TARGET"}, "is the network directory itself"},
      {"the network directory, through dots", {net1, root.Text() + "./target/."}, "network directory itself"},
      {"the network directory, through a link", {net1, root.Text() + "alias/"}, "network directory itself"},
      {"inside a folder the merge removes", {net1, target + "Samples/"}, "empties"},
      {"inside, through the link", {net1, root.Text() + "alias/kept/"}, "lies inside the network directory"},
      {"inside, not made yet", {net1, target + "new/"}, "lies inside the network directory"},
      {"a folder holding the network directory", {net1, root.Text()}, "contains the network directory"},
      {"first network without a roster", {broken + "sub/", net1}, "has no Master database"},
      {"first network's roster a link", {root.Text() + "linked/", net1}, "not a plain file"},
      {"first network climbing out", {root.Text() + "x/../net1/"}, "'..'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m.ctx.NetworkPaths = c.paths;
    m.ctx.NetworkPrefixes.assign(c.paths.size(), "A");
    m.ctx.NetworkNames.assign(c.paths.size(), "G");
    m.ctx.NetworkCount = static_cast<int16_t>(c.paths.size());
    try {
      prax::MergeNetworks(m.ctx);
      ADD_FAILURE() << "expected a refusal";
    } catch (const prax::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("nothing was deleted"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadAll(root.Path() / "target/PRAXDATA.MDB"), "old history");
    EXPECT_EQ(ReadAll(root.Path() / "target/PX000077.DIR/old.PXL"), "old");
    EXPECT_TRUE(stdfs::exists(root.Path() / "target/NETWORKS.LST"));
    EXPECT_TRUE(stdfs::exists(root.Path() / "target/Samples/sample.PXL"));
  }
}

TEST(ClearNetworkDirectory, NeverFollowsLinksAndStopsAtWhatItCannotRemove) {
  praxtest::TempDir root;
  root.Write("outside/PX000001.DIR/keep.PXL", "outside");
  root.Write("net/a.txt", "x");
  stdfs::create_directories(root.Path() / "net");
  stdfs::create_directory_symlink(root.Path() / "outside/PX000001.DIR", root.Path() / "net/PX000009.DIR");
  stdfs::create_directory_symlink(root.Path() / "outside", root.Path() / "net/003000");
  root.Write("net/004000/PX004001.DIR/a.PXL", "x");
  root.Write("net/004000/stray.txt", "x");
  MasterContext m(root.Text() + "net/");
  prax::ClearNetworkDirectory(m.ctx, m.ctx.NetworkDir);
  EXPECT_EQ(Names(root.Path() / "net"), std::set<std::string>{"004000"});  // links deleted, not followed
  EXPECT_EQ(ReadAll(root.Path() / "outside/PX000001.DIR/keep.PXL"), "outside");
  EXPECT_TRUE(m.status.Said("004000"));

  // A user directory holding a folder of its own cannot be removed: the
  // clearing ends with an Error naming it.
  root.Write("net/PX000002.DIR/sub/x.PXL", "x");
  try {
    prax::ClearNetworkDirectory(m.ctx, m.ctx.NetworkDir);
    ADD_FAILURE() << "expected an error";
  } catch (const prax::Error& e) {
    EXPECT_NE(std::string(e.what()).find("PX000002.DIR"), std::string::npos) << e.what();
  }
}

// Any file of the name, in any case, gives way to an empty Members table whose User_Id is unique.
TEST(CreateGroupFile, ReplacesAnyFileWithAnEmptyMembersTable) {
  praxtest::TempDir dir;
  dir.Write("west.grp", "whatever was here");
  MasterContext m(dir.Text());
  prax::CreateGroupFile(m.ctx, "West.Grp");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"West.Grp"});
  EXPECT_EQ(praxtest::Sqlite3(dir.Path() / "West.Grp",
                              "INSERT INTO Members (User_Id, Sub_Dir) VALUES ('A', 'B'); SELECT count(*) FROM Members;"),
            "1\n");
  EXPECT_NE(praxtest::Sqlite3(dir.Path() / "West.Grp", "INSERT INTO Members (User_Id) VALUES ('A');").find("UNIQUE"),
            std::string::npos);
  EXPECT_THROW(prax::CreateGroupFile(m.ctx, "..\\West.Grp"), prax::Error);
}

TEST(UserSlotCount, HighestNumberedSubDir) {
  praxtest::TempDir dir;
  EXPECT_EQ(prax::UserSlotCount(dir.Text()), 0);  // no roster
  dir.Write("MASTER.MDB", "garbage");
  EXPECT_THROW(prax::UserSlotCount(dir.Text()), prax::Error);  // unreadable is no empty roster
  stdfs::remove(dir.Path() / "MASTER.MDB");
  praxtest::MakeRoster(dir.Path() / "MASTER.MDB", {{"A", "x", "", "", "PX000005.DIR"},
                                                   {"", "Unassigned", "", "", "px000012.dir"},
                                                   {"B", "y", "", "", "PX99.DIR"},
                                                   {"C", "z", "", "", ""},
                                                   {"D", "w", "", "", "PX00001X.DIR"},
                                                   {"E", "v", "", "", "PX040000.DIR"}});
  struct : prax::Status {
    std::vector<std::string> lines;
    void OnPassedOver(std::string_view line) override { lines.emplace_back(line); }
  } status;
  EXPECT_EQ(prax::UserSlotCount(dir.Text(), &status), 12);  // user 40000 cannot be loaded; the others can
  ASSERT_EQ(status.lines.size(), 1u);
  EXPECT_NE(status.lines[0].find("'PX040000.DIR'"), std::string::npos) << status.lines[0];

  // Locked by another program past the wait: a failure naming the roster.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dir.Path() / "MASTER.MDB").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  try {
    prax::UserSlotCount(dir.Text());
    ADD_FAILURE() << "no error";
  } catch (const prax::Error& e) {
    EXPECT_TRUE(e.Environment());
    EXPECT_NE(std::string(e.what()).find("MASTER.MDB"), std::string::npos) << e.what();
  }
  sqlite3_close(other);
}

}  // namespace

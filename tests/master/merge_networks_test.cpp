#include <gtest/gtest.h>

#include <set>

#include "master_fixture.h"
#include "platform/fs.h"
#include "roster/user_slot_count.h"

namespace {

namespace stdfs = std::filesystem;
using mastertest::MasterContext;
using mastertest::Rows;
using praxtest::Slurp;
using praxtest::SlotDir;
using Names = std::set<std::string>;

Names NamesIn(const stdfs::path& dir) {
  Names out;
  for (const auto& e : stdfs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}
std::string ErrorOf(const std::function<void()>& step) { return praxtest::Raised(step).what(); }

// Three good networks, an unreadable one and one climbing out with "..",
// merged into a folder holding what an earlier merge and the console left.
class MergeTest : public ::testing::Test {
 protected:
  praxtest::TempDir root;
  std::string target = root.Text() + "target/", net1 = root.Text() + "net1/", net2 = root.Text() + "net2/",
              broken = root.Text() + "broken/", climbing = root.Text() + "net1/../net2/", net3 = root.Text() + "net3/";
  MasterContext m{target};

  void SetUp() override {
    // North: three users and an unassigned slot, out of Sub_Dir order.
    praxtest::MakeRoster(root.Path() / "net1/MASTER.MDB",
                         {{"N3", "Lee", "Kim", "", "PX000004.DIR"}, {"", " UNASSIGNED  ", "", "", "PX000002.DIR"},
                          {"N1", "Smith", "Ann", "B", "PX000001.DIR"}, {"N2", "Jones", "Bob", "", "PX000003.DIR"}});
    MasterContext up(net1);
    prax::ModifyMasterDatabase(up.ctx);  // the merged roster keeps these lists
    praxtest::SetMTime(root.Write("net1/PX000001.DIR/20240105.PXL", "alert log"), 2024, 1, 5);
    praxtest::SetMTime(root.Write("net1/PX000001.DIR/PRAX001.PXL", "old log"), 2019, 7, 1);
    stdfs::create_symlink(root.Write("outside/secret.PXL", "never copied"), root.Path() / "net1/PX000001.DIR/link.PXL");
    // South: one user repeating North's first prefix and number, one Sub_Dir leading out.
    praxtest::MakeRoster(root.Path() / "net2/MASTER.MDB", {{"S45", "Park", "Jin", "", "PX000045.DIR"},
                                                           {"S1", "Kim", "Sun", "", "PX000001.DIR"}, {"S9", "Evil", "", "", "..\\PX1.DIR"}});
    // East: 996 users (two with logs, one without a Last_Name) and five free slots up to 1001.
    std::vector<praxtest::RosterRow> east;
    for (int n = 1; n <= 1001; ++n) {
      const std::string number = std::to_string(n);
      east.push_back(n > 996 ? praxtest::RosterRow{"", "Unassigned", "", "", SlotDir(n)}
                             : praxtest::RosterRow{"E" + number, n == 10 ? "" : "User" + number, "", "", SlotDir(n)});
    }
    praxtest::MakeRoster(root.Path() / "net3/MASTER.MDB", east);
    for (const auto& [file, bytes] :
         {std::pair{"net1/PX000001.DIR/.hidden", "hidden"}, {"net1/PX000001.DIR/inner/x.PXL", "not copied"},
          {"net1/PX000004.DIR/20240106.PXT", "activity log"}, {"net2/PX000045.DIR/20240201.PXL", "park"},
          {"broken/MASTER.MDB", "not a database"}, {"net3/PX000995.DIR/20240301.PXL", "thousandth"},
          {"net3/PX000996.DIR/20240302.PXL", "one thousand and first"}, {"target/Networks.Lst", "list"},
          {"target/NETWORKS.LST", "other spelling"}, {"target/PRAXDATA.MDB", "old history"},
          {"target/PX000077.DIR/old.PXL", "old"}, {"target/PX000077.DIR/.hid", "old"},
          {"target/Samples/sample.PXL", "sample"}, {"target/002000/PX002001.DIR/a.PXL", "earlier merge"},
          {"target/Keep/notes.txt", "admin's"}})
      root.Write(file, bytes);
    m.ctx.NetworkPaths = {net1, net2, broken, climbing, net3};
    m.ctx.NetworkPrefixes = {"A", "A", "X", "Y", "C"};
    m.ctx.NetworkNames = {"North", "South", "Broken", "Climb", "East"};
    m.ctx.NetworkCount = 5;
  }
};

TEST_F(MergeTest, MergesRostersGroupsAndUserDirectories) {
  m.ctx.UserSlotCount = prax::MergeNetworks(m.ctx, &m.status);
  const stdfs::path t = root.Path() / "target";
  EXPECT_EQ(m.ctx.UserSlotCount, 1001);

  // The clearing keeps Networks.Lst (that spelling only) and what it cannot
  // place, naming it; PX000077.DIR is merged user 77's own, emptied.
  EXPECT_EQ(Slurp(t / "Networks.Lst") + Slurp(t / "Keep/notes.txt"), "listadmin's");
  EXPECT_TRUE(m.status.Said("Keep"));
  Names expected = {"Networks.Lst", "MASTER.MDB", "Everyone.grp", "North.Grp", "South.Grp", "Broken.Grp",
                    "East.Grp", "Keep", "001000"};
  for (int n = 1; n <= 1000; ++n) expected.insert(SlotDir(n));
  EXPECT_EQ(NamesIn(t), expected);
  EXPECT_TRUE(NamesIn(t / "PX000077.DIR").empty());

  // Merged roster: North in Sub_Dir order, then South, then East; the Unassigned slot,
  // the unreadable and the climbing network and the bad Sub_Dir add nobody.
  const auto users = Rows(t / "MASTER.MDB", "SELECT Sub_Dir, User_Id, Last_Name, First_Name, Middle_Init FROM Users");
  ASSERT_EQ(users.size(), 1001u);
  EXPECT_EQ(std::vector<std::string>(users.begin(), users.begin() + 5),
            (std::vector<std::string>{"PX000001.DIR|A000001|Smith|Ann|B", "PX000002.DIR|A000003|Jones|Bob|Null",
                                      "PX000003.DIR|A000004|Lee|Kim|Null", "PX000004.DIR|A000001|Kim|Sun|Null",
                                      "PX000005.DIR|A000045|Park|Jin|Null"}));
  for (int n = 6, old = 1; n <= 1001; ++n, ++old)
    EXPECT_EQ(users[n - 1], SlotDir(n) + "|C" + SlotDir(old).substr(2, 6) + "|" +
                                (old == 10 ? "Null" : "User" + std::to_string(old)) + "|Null|Null");
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

  // User directories: plain files copied with their dates, no links or folders.
  EXPECT_EQ(NamesIn(t / "PX000001.DIR"), (Names{"20240105.PXL", "PRAX001.PXL", ".hidden"}));
  EXPECT_EQ(Slurp(t / "PX000001.DIR/20240105.PXL"), "alert log");
  for (const auto& [file, date] : {std::pair{"20240105.PXL", 20240105}, {"PRAX001.PXL", 20190701}}) {
    const auto t = prax::fs::LastModified((root.Path() / "target/PX000001.DIR" / file).string());
    EXPECT_EQ(t ? t->year * 10000 + t->month * 100 + t->day : 0, date) << file;
  }
  EXPECT_TRUE(NamesIn(t / "PX000002.DIR").empty() && NamesIn(t / "PX000004.DIR").empty());
  EXPECT_EQ(NamesIn(t / "PX000003.DIR"), Names{"20240106.PXT"});
  EXPECT_EQ(Slurp(t / "PX000005.DIR/20240201.PXL") + Slurp(t / "PX001000.DIR/20240301.PXL"), "parkthousandth");
  EXPECT_EQ(Slurp(t / "001000/PX001001.DIR/20240302.PXL"), "one thousand and first");

  // The sources are untouched; what was left out is named on the status line.
  EXPECT_EQ(Slurp(root.Path() / "outside/secret.PXL") + Slurp(root.Path() / "net1/PX000001.DIR/20240105.PXL"),
            "never copiedalert log");
  for (const std::string& said : {"Merging: " + net1, "Merging: " + net3, "network '" + broken + "' left out",
                                 "network '" + climbing + "' skipped", std::string("..\\PX1.DIR"),
                                 std::string("link.PXL' not copied")})
    EXPECT_TRUE(m.status.Said(said)) << said;
  EXPECT_TRUE(m.status.UserBar() == 80 && m.status.FileBar() == 100);
}

// Refusals come before anything is deleted.
TEST_F(MergeTest, RefusesAndDeletesNothing) {
  stdfs::create_directory_symlink(root.Path() / "target", root.Path() / "alias");
  stdfs::create_directory(root.Path() / "target/kept");
  stdfs::create_directory(root.Path() / "linked");
  stdfs::create_symlink(root.Path() / "net1/MASTER.MDB", root.Path() / "linked/MASTER.MDB");
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "lists no network"},
      {{net1, root.Text() + "TARGET"}, "is the network directory itself"},
      {{net1, root.Text() + "./target/."}, "network directory itself"},
      {{net1, root.Text() + "alias/"}, "network directory itself"},
      {{net1, target + "Samples/"}, "empties"},  // a folder the merge removes
      {{net1, root.Text() + "alias/kept/"}, "lies inside the network directory"},
      {{net1, target + "new/"}, "lies inside the network directory"},  // not made yet
      {{net1, root.Text()}, "contains the network directory"},
      {{broken + "sub/", net1}, "has no Master database"},
      {{root.Text() + "linked/", net1}, "not a plain file"},
      {{root.Text() + "x/../net1/"}, "'..'"},
  };
  for (const auto& [paths, says] : cases) {
    m.ctx.NetworkPaths = paths;
    m.ctx.NetworkPrefixes.assign(paths.size(), "A");
    m.ctx.NetworkNames.assign(paths.size(), "G");
    m.ctx.NetworkCount = static_cast<int16_t>(paths.size());
    const std::string what = ErrorOf([&] { prax::MergeNetworks(m.ctx, &m.status); });
    EXPECT_TRUE(praxtest::Has(what, says) && praxtest::Has(what, "nothing was deleted")) << says << ": " << what;
    EXPECT_EQ(Slurp(root.Path() / "target/PRAXDATA.MDB") + Slurp(root.Path() / "target/PX000077.DIR/old.PXL"),
              "old historyold");
    EXPECT_TRUE(stdfs::exists(root.Path() / "target/NETWORKS.LST") &&
                stdfs::exists(root.Path() / "target/Samples/sample.PXL"));
  }
}

// Links are deleted, not followed; a user directory holding a folder cannot be
// removed and ends the clearing with an Error naming it.
TEST(ClearNetworkDirectory, NeverFollowsLinksAndStopsAtWhatItCannotRemove) {
  praxtest::TempDir root;
  root.Write("outside/PX000001.DIR/keep.PXL", "outside");
  root.Write("net/004000/PX004001.DIR/a.PXL", "x");
  root.Write("net/004000/stray.txt", "x");
  stdfs::create_directory_symlink(root.Path() / "outside/PX000001.DIR", root.Path() / "net/PX000009.DIR");
  stdfs::create_directory_symlink(root.Path() / "outside", root.Path() / "net/003000");
  MasterContext m(root.Text() + "net/");
  prax::ClearNetworkDirectory(&m.status, m.ctx.NetworkDir);
  EXPECT_EQ(NamesIn(root.Path() / "net"), Names{"004000"});
  EXPECT_EQ(Slurp(root.Path() / "outside/PX000001.DIR/keep.PXL"), "outside");
  EXPECT_TRUE(m.status.Said("004000"));
  root.Write("net/PX000002.DIR/sub/x.PXL", "x");
  EXPECT_TRUE(praxtest::Has(ErrorOf([&] { prax::ClearNetworkDirectory(&m.status, m.ctx.NetworkDir); }), "PX000002.DIR"));
}

// Any file of the name, in any case, gives way to an empty Members table whose User_Id is unique.
TEST(CreateGroupFile, ReplacesAnyFileWithAnEmptyMembersTable) {
  praxtest::TempDir dir;
  dir.Write("west.grp", "whatever was here");
  MasterContext m(dir.Text());
  prax::CreateGroupFile(m.ctx, "West.Grp");
  EXPECT_EQ(NamesIn(dir.Path()), Names{"West.Grp"});
  const stdfs::path west = dir.Path() / "West.Grp";
  EXPECT_EQ(praxtest::Sqlite3(west, "INSERT INTO Members (User_Id, Sub_Dir) VALUES ('A', 'B'); SELECT count(*) FROM Members;"),
            "1\n");
  EXPECT_TRUE(praxtest::Has(praxtest::Sqlite3(west, "INSERT INTO Members (User_Id) VALUES ('A');"), "UNIQUE"));
  EXPECT_THROW(prax::CreateGroupFile(m.ctx, "..\\West.Grp"), prax::Error);
}

// The highest numbered Sub_Dir; users past 32767 cannot be loaded and are
// named; an unreadable or locked roster is an error, not an empty one.
TEST(UserSlotCount, HighestNumberedSubDir) {
  praxtest::TempDir dir;
  EXPECT_EQ(prax::UserSlotCount(dir.Text()), 0);  // no roster
  dir.Write("MASTER.MDB", "garbage");
  EXPECT_THROW(prax::UserSlotCount(dir.Text()), prax::Error);
  stdfs::remove(dir.Path() / "MASTER.MDB");
  praxtest::MakeRoster(dir.Path() / "MASTER.MDB",
                       {{"A", "x", "", "", "PX000005.DIR"}, {"", "Unassigned", "", "", "px000012.dir"},
                        {"B", "y", "", "", "PX99.DIR"}, {"C", "z", "", "", ""}, {"D", "w", "", "", "PX00001X.DIR"},
                        {"E", "v", "", "", "PX040000.DIR"}});
  praxtest::RecordingStatus status;
  EXPECT_EQ(prax::UserSlotCount(dir.Text(), &status), 12);
  ASSERT_EQ(status.passedOver.size(), 1u);
  EXPECT_TRUE(praxtest::Has(status.passedOver[0], "'PX040000.DIR'")) << status.passedOver[0];

  praxtest::Db other(dir.Path() / "MASTER.MDB", true);
  other.Query("PRAGMA locking_mode = EXCLUSIVE");
  other.Query("BEGIN EXCLUSIVE");
  const prax::Error e = praxtest::Raised([&] { prax::UserSlotCount(dir.Text()); });
  EXPECT_TRUE(e.Environment() && praxtest::Has(e.what(), "MASTER.MDB")) << e.what();
}

}  // namespace

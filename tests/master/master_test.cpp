// The roster: its upgrade, the UserDefs.Prn import, the merge of several networks, the clearing of
// the network directory, group files and the count of user slots.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "platform/error.h"
#include "platform/fs.h"
#include "command/run_context.h"
#include "roster/roster_operations.h"
#include "roster/user_slot_count.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/recording_status.h"
#include "support/roster.h"

namespace {

namespace stdfs = std::filesystem;
using praxtest::SlotDir;
using praxtest::Slurp;
using Lines = std::vector<std::string>;
using Names = std::set<std::string>;

struct MasterContext {
  praxtest::RecordingStatus status;
  prax::RunContext ctx;
  explicit MasterContext(std::string networkDir) { ctx.NetworkDir = std::move(networkDir); }
};

// Every row of a query, Null as "Null".
Lines Rows(const stdfs::path& file, const std::string& sql) {
  Lines rows = praxtest::Query(file, sql);
  for (std::string& row : rows)
    for (std::size_t at; (at = row.find("<null>")) != std::string::npos;) row.replace(at, 6, "Null");
  return rows;
}

Names NamesIn(const stdfs::path& dir) {
  Names out;
  for (const auto& e : stdfs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

// A fresh roster, or one that already holds LocationsList (with distinct or duplicate ids): the missing columns and
// lists are added, Null and empty; an existing list keeps its rows and gets its unique index unless two rows share an
// id; a second run changes nothing.
TEST(UpgradeMasterSchema, AddsWhatIsMissingOnce) {
  for (const int existing : {0, 1, 2}) {
    SCOPED_TRACE(existing);
    praxtest::TempDir dir;
    const auto master = dir.Path() / "MASTER.MDB";
    praxtest::MakeRoster(master, {{"A1", "Smith", "Ann", "B", "PX000001.DIR"}, {"", "Unassigned", "", "", "PX000002.DIR"}});
    if (existing)
      praxtest::Sqlite3(master, std::string("CREATE TABLE LocationsList (Location_Id INTEGER, Location_Name TEXT (255)); INSERT INTO "
                                "LocationsList VALUES (3, 'Depot'), (") + std::to_string(existing == 2 ? 3 : 4) + ", 'Depot');");
    MasterContext m(dir.Text());
    prax::UpgradeMasterSchema(m.ctx);
    EXPECT_EQ(Rows(master, "SELECT User_Id, Location_Id, Department_Id, Position_Id, LastRunDate, SystemVer, "
                           "NetLoggingOff FROM Users"),
              (Lines{"A1|Null|Null|Null|Null|Null|Null", "Null|Null|Null|Null|Null|Null|Null"}));
    EXPECT_EQ(praxtest::Sqlite3(master, "SELECT (SELECT count(*) FROM LocationsList), (SELECT count(*) FROM "
                                        "PositionsList) + (SELECT count(*) FROM DepartmentsList);"),
              existing ? "2|0\n" : "0|0\n");
    // The lists whose id has a unique index.
    EXPECT_EQ(praxtest::Sqlite3(master, "SELECT m.name FROM sqlite_master m, pragma_index_list(m.name) l, "
                                        "pragma_index_info(l.name) i WHERE l.\"unique\" AND i.name = "
                                        "replace(m.name, 'sList', '_Id') ORDER BY 1;"),
              existing == 2 ? "DepartmentsList\nPositionsList\n" : "DepartmentsList\nLocationsList\nPositionsList\n");
    const std::string before = praxtest::Sqlite3(master, ".dump");
    prax::UpgradeMasterSchema(m.ctx);
    EXPECT_EQ(praxtest::Sqlite3(master, ".dump"), before);
  }
}

TEST(UpgradeMasterSchema, UnopenableDatabaseEndsWithErrorNamingIt) {
  for (const bool present : {false, true}) {
    praxtest::TempDir dir;
    if (present) dir.Write("MASTER.MDB", "Standard Jet DB\nnot a database of ours");
    MasterContext m(dir.Text());
    const prax::Error e = praxtest::Raised([&] { prax::UpgradeMasterSchema(m.ctx); });
    const std::string what = e.what();
    EXPECT_TRUE(praxtest::Has(what, std::string("'") + praxtest::Shown(dir.Path() / "MASTER.MDB") + "'")) << what;
    EXPECT_FALSE(praxtest::Has(what, "Altering")) << what;  // the caller names the operation
    EXPECT_EQ(e.Kind(), present ? prax::err::kUnrecognizedFormat : prax::err::kCannotFindFile);
  }
}

// A network folder with an upgraded roster of A1, A2, B7 and a free slot, and a UserDefs.Prn.
struct ImportCase {
  praxtest::TempDir dir;
  std::filesystem::path master = dir.Path() / "MASTER.MDB";
  MasterContext m{dir.Text()};

  explicit ImportCase(std::string_view defs) {
    praxtest::MakeRoster(master, {{"A1", "Smith", "Ann", "", "PX000001.DIR"}, {"A2", "Jones", "Bob", "C", "PX000002.DIR"},
                                  {"B7", "Lee", "Kim", "", "PX000003.DIR"}, {"", "Unassigned", "", "", "PX000004.DIR"}});
    prax::UpgradeMasterSchema(m.ctx);
    dir.Write("UserDefs.Prn", defs);
  }
  Lines Users() const { return Rows(master, "SELECT User_Id, Location_Id, Department_Id, Position_Id FROM Users"); }
  // Locations, departments and positions as the sqlite3 program reads them, one text per list.
  Lines Lists() const {
    Lines out;
    for (const char* table : {"LocationsList", "DepartmentsList", "PositionsList"})
      out.push_back(praxtest::Sqlite3(master, std::string("SELECT * FROM ") + table + ";"));
    return out;
  }
};

// A failure ends the import with an Error naming the file, the item and the reason; the rows stored before it stay.
TEST(ImportUserDefs, RecordsSetIdsAndGrowTheListsUpToAFailure) {
  // UserDefs.Prn, the users and lists after the import, the rows listed before, and a failure and the item it names.
  const struct { const char* name; std::string defs; Lines users, lists; const char* before = ""; prax::ErrorKind error = prax::err::kNone;
                 const char* item = ""; } cases[] = {
      {"one record into empty lists", "\"A1\",\"Head Office\",\"Accounts\",\"Clerk\"\r\n",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Head Office\n", "1|Accounts\n", "1|Clerk\n"}},
      {"same location same id, a new one the next; records span and share lines",
       "A1,Head Office,Accounts,Clerk,A2\r\n  head office , Sales\r\nManager\r\nB7,\"Depot, North\",Sales,Clerk\r\n",
       {"A1|1|1|1", "A2|1|2|2", "B7|2|2|1", "Null|Null|Null|Null"},
       {"1|Head Office\n2|Depot, North\n", "1|Accounts\n2|Sales\n", "1|Clerk\n2|Manager\n"}},
      {"unknown user: its names are tried as ids and dropped, the next record applies",
       "ZZ9,Paris,Export,Buyer\r\nA2,Rome,Export,Buyer\r\n",
       {"A1|Null|Null|Null", "A2|1|1|1", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Rome\n", "1|Export\n", "1|Buyer\n"}},
      {"a name equal to a listed id takes over the record", "ZZ9,B7,Oslo,Legal,Clerk\r\n",
       {"A1|Null|Null|Null", "A2|Null|Null|Null", "B7|1|1|1", "Null|Null|Null|Null"},
       {"1|Oslo\n", "1|Legal\n", "1|Clerk\n"}},
      {"user ids match without regard to case; the later record of a user wins",
       "a1,Oslo,Legal,Clerk\r\nA1,Bergen,Legal,Clerk\r\n",
       {"A1|2|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Oslo\n2|Bergen\n", "1|Legal\n", "1|Clerk\n"}},
      {"Windows-1252 names, matched ignoring the case of accented letters but not their accents",
       "A1,Z\xFCrich,R\xE9seau,Chef\r\nA2,Z\xDCRICH,R\xC9SEAU,CHEF\r\nB7,Zurich,Reseau,Chef\r\n",
       {"A1|1|1|1", "A2|1|1|1", "B7|2|2|1", "Null|Null|Null|Null"},
       {"1|Z\xC3\xBCrich\n2|Zurich\n", "1|R\xC3\xA9seau\n2|Reseau\n", "1|Chef\n"}},
      {"a new location follows the largest id", "A1,Head Office,Accounts,Clerk\r\nA2,Old Mill,Accounts,Clerk\r\n",
       {"A1|8|1|1", "A2|7|1|1", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"7|Old Mill\n2|Quay\n8|Head Office\n", "1|Accounts\n", "1|Clerk\n"},
       "INSERT INTO LocationsList VALUES (7, 'Old Mill'), (2, 'Quay');"},
      {"a record cut short", "A1,Head Office,Accounts,Clerk\r\nA2\r\n",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Head Office\n", "1|Accounts\n", "1|Clerk\n"}, "", prax::err::kInputPastEnd, "\"A2\""},
      {"a quote in a user id", "A1,Head Office,Accounts,Clerk\r\nO'Hara,Quay,Accounts,Clerk\r\n",
       {"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"},
       {"1|Head Office\n", "1|Accounts\n", "1|Clerk\n"}, "", prax::err::kSyntaxInExpression, "\"O'Hara\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImportCase t(c.defs);
    praxtest::Sqlite3(t.master, c.before);
    const prax::Error e = praxtest::Raised([&] { prax::ImportUserDefs(t.m.ctx, &t.m.status); });
    const std::string what = e.what();
    EXPECT_EQ(e.Kind(), c.error) << what;
    EXPECT_TRUE(c.error == prax::err::kNone || (praxtest::Has(what, praxtest::Shown(t.dir.Path() / "UserDefs.Prn")) && praxtest::Has(what, c.item) &&
                             praxtest::Has(what, "Correct UserDefs.Prn at that item"))) << what;
    EXPECT_EQ(t.Users(), c.users);
    EXPECT_EQ(t.Lists(), c.lists);
  }
}

// No UserDefs.Prn: nothing is opened. A roster never upgraded has no lists: the import fails.
TEST(ImportUserDefs, NoDefinitionsOrNoLists) {
  praxtest::TempDir dir;
  MasterContext m(dir.Text());
  EXPECT_NO_THROW(prax::ImportUserDefs(m.ctx, &m.status));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "MASTER.MDB"));
  praxtest::MakeRoster(dir.Path() / "MASTER.MDB", {{"A1", "Smith", "", "", "PX000001.DIR"}});
  dir.Write("UserDefs.Prn", "A1,Head Office,Accounts,Clerk\r\n");
  EXPECT_THROW(prax::ImportUserDefs(m.ctx, &m.status), prax::Error);
}

// Another program keeping a read open on the roster: what cannot be saved within the busy wait is named, and what
// was saved before stays. The upgrade passes the step over and goes on once the file is free; the import ends.
struct HeldRoster {
  praxtest::Db reader;
  explicit HeldRoster(const stdfs::path& master) : reader(master) { Hold(); }
  void Hold() const { reader.Query("BEGIN"), reader.Query("SELECT count(*) FROM Users"); }
  void Free() const { reader.Query("COMMIT"); }
};

TEST(UpgradeMasterSchema, StepsHeldUpByAReaderArePassedOverAndNamed) {
  praxtest::TempDir dir;
  const auto master = dir.Path() / "MASTER.MDB";
  praxtest::MakeRoster(master, {{"A1", "Smith", "Ann", "B", "PX000001.DIR"}});
  MasterContext m(dir.Text());
  {
    const HeldRoster held(master);  // past the first step's wait, freed before the second's ends
    std::thread free([&] { std::this_thread::sleep_for(std::chrono::seconds(6)), held.Free(); });
    prax::UpgradeMasterSchema(m.ctx, &m.status);
    free.join();
  }
  ASSERT_EQ(m.status.passedOver.size(), 1u);
  EXPECT_TRUE(praxtest::Has(m.status.passedOver[0], praxtest::Shown(dir.Path() / "MASTER.MDB")) &&
              praxtest::Has(m.status.passedOver[0], "Users.Location_Id")) << m.status.passedOver[0];
  EXPECT_TRUE(m.status.Said("Users.Location_Id"));
  EXPECT_ANY_THROW(praxtest::Query(master, "SELECT Location_Id FROM Users"));
  EXPECT_EQ(Rows(master, "SELECT Department_Id, NetLoggingOff, (SELECT count(*) FROM DepartmentsList) FROM Users"),
            Lines{"Null|Null|0"});
  prax::UpgradeMasterSchema(m.ctx, &m.status);
  EXPECT_EQ(Rows(master, "SELECT Location_Id FROM Users"), Lines{"Null"});
}

// A status that runs `hook` at each yield: after every list lookup of the import.
struct HookedStatus : praxtest::RecordingStatus {
  std::function<void(int)> hook;
  int yields = 0;
  void OnYield() override { hook(++yields); }
};

TEST(ImportUserDefs, ARosterHeldByAReaderEndsTheImportKeepingTheRecordsSaved) {
  ImportCase t("A1,Head Office,Accounts,Clerk\r\nA2,Rome,Sales,Clerk\r\n");
  std::optional<HeldRoster> held;
  HookedStatus status;
  status.hook = [&](int yields) {
    if (yields == 4) held.emplace(t.master);  // the second record's first lookup
  };
  const prax::Error e = praxtest::Raised([&] { prax::ImportUserDefs(t.m.ctx, &status); });
  held.reset();
  const std::string what = e.what();
  EXPECT_EQ(e.Kind(), prax::err::kLocked) << what;
  for (const std::string& part : Lines{praxtest::Shown(t.dir.Path() / "MASTER.MDB"), "held by another program", "user \"A2\"",
                                 "the record before it is stored"})
    EXPECT_TRUE(praxtest::Has(what, part)) << part << " in " << what;
  EXPECT_FALSE(praxtest::Has(what, "Correct UserDefs.Prn")) << what;
  EXPECT_EQ(t.Users(), (Lines{"A1|1|1|1", "A2|Null|Null|Null", "B7|Null|Null|Null", "Null|Null|Null|Null"}));
  EXPECT_EQ(t.Lists(), (Lines{"1|Head Office\n", "1|Accounts\n", "1|Clerk\n"}));
}

// Three good networks, an unreadable one and one reached through "..",
// merged into a folder holding what an earlier merge and the console left.
class MergeTest : public ::testing::Test {
 protected:
  praxtest::TempDir root;
  std::string target = root.Text() + "target/", net1 = root.Text() + "net1/", net2 = root.Text() + "net2/",
              broken = root.Text() + "broken/", climbing = root.Text() + "net1/../netB/", net3 = root.Text() + "net3/";
  MasterContext m{target};

  void SetUp() override {
    PRAX_SKIP_ON_WINDOWS("symbolic-link creation (Wine 8) and names differing only in case, met by every merge here");
    // North: three users and an unassigned slot, out of Sub_Dir order.
    praxtest::MakeRoster(root.Path() / "net1/MASTER.MDB",
                         {{"N3", "Lee", "Kim", "", "PX000004.DIR"}, {"", " UNASSIGNED  ", "", "", "PX000002.DIR"},
                          {"N1", "Smith", "Ann", "B", "PX000001.DIR"}, {"N2", "Jones", "Bob", "", "PX000003.DIR"}});
    MasterContext up(net1);
    prax::UpgradeMasterSchema(up.ctx);  // the merged roster keeps these lists
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
    praxtest::MakeRoster(root.Path() / "netB/MASTER.MDB", {{"B7", "Ross", "", "", "PX000007.DIR"}});
    for (const auto& [file, bytes] :
         {std::pair{"net1/PX000001.DIR/.hidden", "hidden"}, {"net1/PX000001.DIR/inner/x.PXL", "not copied"},
          {"net1/PX000004.DIR/20240106.PXT", "activity log"}, {"net2/PX000045.DIR/20240201.PXL", "park"},
          {"broken/MASTER.MDB", "not a database"}, {"net3/PX000995.DIR/20240301.PXL", "thousandth"},
          {"net3/PX000996.DIR/20240302.PXL", "one thousand and first"}, {"target/Networks.Lst", "list"},
          {"target/NETWORKS.LST", "other spelling"}, {"target/PRAXDATA.MDB", "old history"},
          {"target/PX000077.DIR/old.PXL", "old"}, {"target/PX000077.DIR/.hid", "old"},
          {"target/Samples/sample.PXL", "sample"}, {"target/002000/PX002001.DIR/a.PXL", "earlier merge"},
          {"target/001000/PX001001.DIR/stale.PXL", "someone else's"}, {"target/001000/readme.txt", "kept"},
          {"netB/PX000007.DIR/20240401.PXL", "climbed"},
          {"target/Keep/notes.txt", "admin's"}}) root.Write(file, bytes);
    m.ctx.NetworkPaths = {net1, net2, broken, net3, climbing};
    m.ctx.NetworkPrefixes = {"A", "A", "X", "C", "Y"};
    m.ctx.NetworkNames = {"North", "South", "Broken", "East", "Climb"};
    m.ctx.NetworkCount = 5;
  }
};

TEST_F(MergeTest, MergesRostersGroupsAndUserDirectories) {
  // A listed roster is only read: one a console left in WAL mode keeps its bytes.
  praxtest::Sqlite3(root.Path() / "net2/MASTER.MDB", "PRAGMA journal_mode = WAL;");
  const std::string south = Slurp(root.Path() / "net2/MASTER.MDB");
  EXPECT_EQ(prax::MergeNetworks(m.ctx, &m.status), 1002);
  EXPECT_EQ(Slurp(root.Path() / "net2/MASTER.MDB"), south);
  const stdfs::path t = root.Path() / "target";

  // The clearing keeps Networks.Lst (that spelling only) and what it cannot
  // place, naming it; PX000077.DIR is merged user 77's own, emptied.
  EXPECT_EQ(Slurp(t / "Networks.Lst") + Slurp(t / "Keep/notes.txt"), "listadmin's");
  EXPECT_TRUE(m.status.Said("Keep"));
  Names expected = {"Networks.Lst", "MASTER.MDB", "Everyone.grp", "North.Grp", "South.Grp", "Broken.Grp",
                    "East.Grp", "Climb.Grp", "Keep", "001000"};
  for (int n = 1; n <= 1000; ++n) expected.insert(SlotDir(n));
  EXPECT_EQ(NamesIn(t), expected);
  EXPECT_TRUE(NamesIn(t / "PX000077.DIR").empty());

  // Merged roster: North in Sub_Dir order, then South, then East; the Unassigned slot,
  // the unreadable network and the bad Sub_Dir add nobody.
  const auto users = Rows(t / "MASTER.MDB", "SELECT Sub_Dir, User_Id, Last_Name, First_Name, Middle_Init FROM Users");
  ASSERT_EQ(users.size(), 1002u);
  EXPECT_EQ(users.back(), "PX001002.DIR|Y000007|Ross|Null|Null");
  EXPECT_EQ(Lines(users.begin(), users.begin() + 5),
            (Lines{"PX000001.DIR|A000001|Smith|Ann|B", "PX000002.DIR|A000003|Jones|Bob|Null",
                   "PX000003.DIR|A000004|Lee|Kim|Null", "PX000004.DIR|A000001|Kim|Sun|Null",
                   "PX000005.DIR|A000045|Park|Jin|Null"}));
  for (int n = 6, old = 1; n <= 1001; ++n, ++old)
    EXPECT_EQ(users[n - 1], SlotDir(n) + "|C" + SlotDir(old).substr(2, 6) + "|" +
                                (old == 10 ? "Null" : "User" + std::to_string(old)) + "|Null|Null");
  EXPECT_EQ(praxtest::Sqlite3(t / "MASTER.MDB", "SELECT count(*) FROM LocationsList;"), "0\n");

  // Group files: Everyone keeps the first A000001; the unreadable network's file is empty.
  const auto everyone = Rows(t / "Everyone.grp", "SELECT Sub_Dir, User_Id, Last_Name FROM Members");
  ASSERT_EQ(everyone.size(), 1001u);
  EXPECT_EQ(Lines(everyone.begin(), everyone.begin() + 4),
            (Lines{"PX000001.DIR|A000001|Smith", "PX000002.DIR|A000003|Jones", "PX000003.DIR|A000004|Lee",
                   "PX000005.DIR|A000045|Park"}));
  EXPECT_EQ(everyone.back(), "PX001002.DIR|Y000007|Ross");
  EXPECT_EQ(Rows(t / "North.Grp", "SELECT Last_Name, Middle_Init, First_Name, Sub_Dir, User_Id FROM Members"),
            (Lines{"Smith|B|Ann|PX000001.DIR|A000001", "Jones|Null|Bob|PX000002.DIR|A000003",
                   "Lee|Null|Kim|PX000003.DIR|A000004"}));
  EXPECT_EQ(Rows(t / "South.Grp", "SELECT Sub_Dir, User_Id FROM Members"),
            (Lines{"PX000004.DIR|A000001", "PX000005.DIR|A000045"}));
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
  // An earlier merge's user directory is emptied; what is not one stays, named.
  EXPECT_EQ(NamesIn(t / "001000"), (Names{"PX001001.DIR", "PX001002.DIR", "readme.txt"}));
  EXPECT_EQ(NamesIn(t / "001000/PX001001.DIR"), Names{"20240302.PXL"});
  EXPECT_EQ(Slurp(t / "001000/PX001001.DIR/20240302.PXL") + Slurp(t / "001000/PX001002.DIR/20240401.PXL"),
            "one thousand and firstclimbed");

  // The sources are untouched; what was left out is named on the status line.
  EXPECT_EQ(Slurp(root.Path() / "outside/secret.PXL") + Slurp(root.Path() / "net1/PX000001.DIR/20240105.PXL"),
            "never copiedalert log");
  for (const std::string& said : {"Merging: " + net1, "Merging: " + climbing, "network '" + broken + "' left out",
                                 std::string("..\\PX1.DIR"), std::string("link.PXL' not copied"), std::string("readme.txt")})
    EXPECT_TRUE(m.status.Said(said)) << said;
  EXPECT_EQ(m.status.passedOver.size(), 5u);  // Keep, readme.txt, broken, the Sub_Dir, link.PXL
  EXPECT_TRUE(m.status.UserBar() == 80 && m.status.FileBar() == 14);  // one user of seven slots
}

// Refusals come before anything is deleted.
TEST_F(MergeTest, RefusesAndDeletesNothing) {
  stdfs::create_directory_symlink(root.Path() / "target", root.Path() / "alias");
  for (const char* dir : {"target/kept", "linked"}) stdfs::create_directory(root.Path() / dir);
  stdfs::create_symlink(root.Path() / "net1/MASTER.MDB", root.Path() / "linked/MASTER.MDB");
  const std::pair<Lines, const char*> cases[] = {
      {{}, "lists no network"}, {{net1, root.Text() + "TARGET"}, "is the network directory itself"},
      {{net1, root.Text() + "./target/."}, "network directory itself"},
      {{net1, root.Text() + "alias/"}, "network directory itself"},
      {{net1, target + "Samples/"}, "empties"},  // a folder the merge removes
      {{net1, root.Text() + "alias/001000/kept/"}, "empties"},
      {{net1, target + "PX000077.DIR/"}, "empties"},
      {{net1, root.Text() + "net1/../target/"}, "network directory itself"},
      {{broken + "sub/", net1}, "has no Master database"}, {{root.Text() + "linked/", net1}, "not a plain file"}};
  for (const auto& [paths, says] : cases) {
    m.ctx.NetworkPaths = paths;
    m.ctx.NetworkPrefixes.assign(paths.size(), "A");
    m.ctx.NetworkNames.assign(paths.size(), "G");
    m.ctx.NetworkCount = static_cast<int16_t>(paths.size());
    const std::string what = praxtest::Raised([&] { prax::MergeNetworks(m.ctx, &m.status); }).what();
    EXPECT_TRUE(praxtest::Has(what, says) && praxtest::Has(what, "nothing was deleted")) << says << ": " << what;
    EXPECT_EQ(Slurp(root.Path() / "target/PRAXDATA.MDB") + Slurp(root.Path() / "target/PX000077.DIR/old.PXL"),
              "old historyold");
    EXPECT_TRUE(stdfs::exists(root.Path() / "target/NETWORKS.LST") &&
                stdfs::exists(root.Path() / "target/Samples/sample.PXL"));
  }
}

// A network holding the network directory, and one in a folder of it, are merged; one whose roster another program
// holds locked is left out, named, and the merge goes on.
TEST_F(MergeTest, MergesAroundALockedRoster) {
  praxtest::MakeRoster(root.Path() / "MASTER.MDB", {{"R2", "Root", "", "", "PX000002.DIR"}});
  root.Write("PX000002.DIR/20240501.PXL", "nested");
  praxtest::MakeRoster(root.Path() / "target/inner/MASTER.MDB", {{"I3", "Inner", "", "", "PX000003.DIR"}});
  root.Write("target/inner/PX000003.DIR/20240601.PXL", "within");
  praxtest::Db other(root.Path() / "net2/MASTER.MDB", true);
  for (const char* sql : {"PRAGMA locking_mode = EXCLUSIVE", "BEGIN EXCLUSIVE"}) other.Query(sql);
  m.ctx.NetworkPaths = {net1, net2, root.Text(), root.Text() + "alias/inner/"};
  m.ctx.NetworkCount = 4;
  stdfs::create_directory_symlink(root.Path() / "target", root.Path() / "alias");
  EXPECT_EQ(prax::MergeNetworks(m.ctx, &m.status), 5);
  EXPECT_EQ(Slurp(root.Path() / "target/PX000004.DIR/20240501.PXL") +
                Slurp(root.Path() / "target/PX000005.DIR/20240601.PXL"), "nestedwithin");
  ASSERT_EQ(m.status.passedOver.size(), 5u);  // Keep, inner, readme.txt, link.PXL, South
  const std::string& south = m.status.passedOver[4];
  EXPECT_TRUE(praxtest::Has(south, net2 + "' left out") && praxtest::Has(south, "locked") &&
              !praxtest::Has(south, "writ")) << south;
}

// Links are deleted, not followed; a user directory holding a folder cannot be
// removed and ends the clearing with an Error naming it.
TEST(ClearNetworkDirectory, NeverFollowsLinksAndStopsAtWhatItCannotRemove) {
  PRAX_SKIP_ON_WINDOWS("symbolic-link creation (Wine 8)");
  praxtest::TempDir root;
  root.Write("outside/PX000001.DIR/keep.PXL", "outside");
  for (const char* file : {"net/004000/PX004001.DIR/a.PXL", "net/004000/stray.txt"}) root.Write(file, "x");
  stdfs::create_directory_symlink(root.Path() / "outside/PX000001.DIR", root.Path() / "net/PX000009.DIR");
  stdfs::create_directory_symlink(root.Path() / "outside", root.Path() / "net/003000");
  MasterContext m(root.Text() + "net/");
  prax::ClearNetworkDirectory(&m.status, m.ctx.NetworkDir);
  EXPECT_EQ(NamesIn(root.Path() / "net"), Names{"004000"});
  EXPECT_EQ(Slurp(root.Path() / "outside/PX000001.DIR/keep.PXL"), "outside");
  EXPECT_TRUE(m.status.Said("004000"));
  root.Write("net/PX000002.DIR/sub/x.PXL", "x");
  EXPECT_TRUE(praxtest::Has(praxtest::Raised([&] { prax::ClearNetworkDirectory(&m.status, m.ctx.NetworkDir); }).what(),
                            "PX000002.DIR"));
}

// Any file of the name, in any case, gives way to an empty group file; a name leading out is refused.
TEST(CreateGroupFile, ReplacesAnyFileOfTheName) {
  praxtest::TempDir dir;
  dir.Write("west.grp", "whatever was here");
  MasterContext m(dir.Text());
  prax::CreateGroupFile(m.ctx, "West.Grp");
  EXPECT_EQ(NamesIn(dir.Path()), Names{"West.Grp"});
  EXPECT_EQ(praxtest::Sqlite3(dir.Path() / "West.Grp", "SELECT count(*) FROM Members;"), "0\n");
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
  for (const char* sql : {"PRAGMA locking_mode = EXCLUSIVE", "BEGIN EXCLUSIVE"}) other.Query(sql);
  const prax::Error e = praxtest::Raised([&] { prax::UserSlotCount(dir.Text()); });
  EXPECT_TRUE(e.Environment() && praxtest::Has(e.what(), "MASTER.MDB")) << e.what();
}

}  // namespace

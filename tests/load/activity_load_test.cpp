// The rows a parsed activity day becomes, and the loader over a user's day list.
#include "loader_fixture.h"
#include <algorithm>

namespace {

using praxtest::LoaderTest;

// Hour "30" is slot 31: its line row is written untested; slot 100's Data_Hour "100" is refused. Blank names find
// no id: App_Id keeps 0. A name holding a single quote fails its lookup: the rows keep the ids before.
TEST_F(LoaderTest, HoursOutsideTheDayAndAQuotedNameKeepTheIdsBefore) {
  StoreActivity("001 3015 1 8,1\r\n001 9915 1 8,4\r\n");
  StoreActivity("001 0900 \"W1\",\"A1\" 1 8,1\r\n001 0901 \"O'Hara\",\"O'Hara\" 1 8,1\r\n001 0902 \"W1\",\"A1\" 1 8,1\r\n");
  EXPECT_EQ(Query("SELECT * FROM ActivitySystem WHERE Data_Hour <> '00' ORDER BY rowid;"),
            "5|20020615|31|0|-1|-1|-1|8|1\n5|20020615|10|1|1|-1|-1|8|1\n5|20020615|10|1|1|-1|-1|8|1\n"
            "5|20020615|10|-1|-1|-1|-1|8|3\n");
  EXPECT_EQ(NoteRows("ProjectNotes"), "");
}

// Windows-1252 names that differ only in the case of accented letters share
// one list row, also in a later run, and are stored as UTF-8.
TEST_F(LoaderTest, AccentedNamesShareOneRowWhateverTheirCase) {
  StoreActivity("User Project: \xDC" "bersicht (Entwurf)\r\n001 0900 \"\xDC" "bersicht\",\"\xC9" "diteur\" 1 8,1\r\n");
  load->OpenPassLists(prax::LogKind::kActivity);
  StoreActivity("User Project: \xFC" "BERSICHT (Entwurf)\r\n001 0900 \"\xDC" "BERSICHT\",\"\xE9" "DITEUR\" 1 8,1\r\n"
                "001 0901 \"\xFC" "bersicht\",\"\xC9" "diteur\" 1 8,1\r\n");
  EXPECT_EQ(Rows("WindowsList") + Rows("ApplicationsList") + Rows("ProjectsList"),
            "1|\xC3\x9C" "bersicht\n1|\xC3\x89" "diteur\n1|\xC3\x9C" "bersicht\n");
}

TEST_F(LoaderTest, EachActivityFileStartsItsIdsAfreshWhileTheApplicationAndNoteCarryOver) {
  StoreActivity("001 0900 \"W1\",\"A1\" 1 8,1\r\nUser Project: Alpha (Design)\r\nUser Notes: n\r\n"
                "001 0901 \"W2\",\"A2\" 1 8,1\r\n");
  // A blank name fails its lookup: the application and the note of the file before carry on.
  StoreActivity("001 0900 1 8,1\r\n001 0901 1 8,1\r\nUser Project: (Design)\r\nUser Notes: 'quoted'\r\n");
  EXPECT_EQ(Query("SELECT * FROM ActivitySystem WHERE App_Id <> -1 ORDER BY rowid;"),
            "5|20020615|10|1|1|1|1|8|1\n5|20020615|10|1|-1|-1|-1|8|1\n");
  EXPECT_EQ(NoteRows("ProjectNotes"), "5|20020615|' 9'|'00'|1|1|1\n5|20020615|' 9'|'01'|-1|1|1\n");
}

// A list nearing its last id is said once; a full one once, and every
// distinct name it refuses is counted while the rows keep the id before.
TEST_F(LoaderTest, ListsRunningOutOfIdsAreSaidOnceAndCounted) {
  Query("INSERT INTO ApplicationsList VALUES (29490, 'Old'); INSERT INTO WindowsList VALUES (32766, 'Old');");
  load->OpenPassLists(prax::LogKind::kActivity);
  std::string log;
  for (const char* name : {"N1", "N2", "N3", "n2", "N1"}) log += std::string("001 0900 \"") + name + "\",\"" + name + "\" 1 8,1\r\n";
  StoreActivity(log);
  StoreActivity(log);
  EXPECT_EQ(Rows("WindowsList"), "32766|Old\n32767|N1\n");
  EXPECT_EQ(Query("SELECT DISTINCT Window_Id FROM ActivitySystem WHERE Window_Id > 0;"), "32767\n");
  EXPECT_EQ(load->Unnumbered(), (std::vector<std::pair<std::string, int64_t>>{{"WindowsList", 2}}));
  const auto said = [&](const std::string& what) {
    return std::ranges::count_if(status.passedOver, [&](const std::string& l) { return l.find(what) != l.npos; });
  };
  EXPECT_EQ(said("ApplicationsList is 90 % full (id 29491 of 32767"), 1);
  EXPECT_EQ(said("WindowsList is full"), 1);
  EXPECT_EQ(said("APPS.NO"), 2);  // one list at 90 %, one full from its last id on
  EXPECT_EQ(status.PassedOverCount(), 0);  // said, not counted among the files skipped
  // Each refused lookup is a step passed over, counted by list and why.
  EXPECT_EQ(status.Summary().RejectedTotal(), 6);
  EXPECT_EQ(status.Summary().tables.at("WindowsList").rejects.at("name list full"), 6);
}

// A name looked up again gets its own list's id, for its exact bytes only, and as the list reads it when opened anew.
TEST_F(LoaderTest, RepeatedLookupsKeepEachListsIds) {
  using L = prax::store::HistoryList;
  Query("INSERT INTO WindowsList VALUES (7, 'Caf\xC3\xA9');");
  load->OpenPassLists(prax::LogKind::kActivity);
  const std::vector<std::pair<L, std::string>> lookups{
      {L::kWindows, "Caf\xE9"}, {L::kApplications, "Caf\xE9"}, {L::kWindows, "CAF\xC9"}, {L::kWindows, "Caf\xE9s"},
      {L::kWindows, "Caf\xE9"}, {L::kWindows, "Caf\xE9"}};
  std::vector<int16_t> ids;
  for (const auto& [list, name] : lookups) ids.push_back(load->Lookup(list, name));
  EXPECT_EQ(ids, (std::vector<int16_t>{7, 1, 7, 8, 7, 7}));
  Query("UPDATE WindowsList SET Window_Id = 9 WHERE Window_Id = 7;");  // another program renumbers it
  load->OpenPassLists(prax::LogKind::kActivity);
  EXPECT_EQ(load->Lookup(L::kWindows, "Caf\xE9"), 9);
}

class LoadActivityTest : public LoaderTest {
 protected:
  int Load(const prax::FileList& list) { return LoaderTest::Load(prax::LogKind::kActivity, list); }
};

TEST_F(LoadActivityTest, LoadsNewDaysOnceFromBothNameForms) {
  dir.Write("PX000005.DIR/20020615.PXT", "001 0915 1 8,3\r\n001 1440 1 46,2\r\n");
  dir.Write("PX000005.DIR/PRAX365.PXT", "001 0000 1 8,1\r\n");
  // A missing log is parsed as empty and reported; it writes nothing.
  prax::FileList list{{20020615, "20020615.PXT"},
                            {19991231, "PRAX365.PXT", prax::LogNaming::kDayNumber},
                            {20030102, "20030102.PXT"}};
  EXPECT_EQ(Load(list), 2);  // days read: not the one whose log is missing
  const std::string rows =
      "20020615|00|8|3\n20020615|00|46|2\n20020615|10|8|3\n20020615|15|46|2\n19991231|00|8|1\n19991231|01|8|1\n";
  EXPECT_EQ(Query("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM ActivitySystem;"), rows);
  ASSERT_EQ(status.log.size(), 1u);
  EXPECT_NE(status.log[0].find("20030102.PXT"), std::string::npos);
  EXPECT_EQ(status.captions, (std::vector<std::string>{" 33% ", " 66% ", " 100% "}));
  EXPECT_FALSE(status.Busy());

  // Again: only the day without rows is tried; nothing is added.
  EXPECT_EQ(Load(list), 0);
  EXPECT_EQ(Query("SELECT Data_Date, Data_Hour, Key_Num, Key_Count FROM ActivitySystem;"), rows);

  // A log that appears later for a date between the days loaded (a client
  // that was offline) is loaded, before and after them in the list; nothing
  // else is read again.
  for (const int32_t date : {20010301, 19991230}) {
    const std::string name = std::to_string(date) + ".PXT";
    dir.Write("PX000005.DIR/" + name, "001 0915 1 8,3\r\n");
    list.insert(date > 20000000 ? list.begin() + 1 : list.end(), {date, name});
    EXPECT_EQ(Load(list), 1) << date;
  }
  EXPECT_EQ(Query("SELECT count(DISTINCT Data_Date) FROM ActivitySystem;"), "4\n");

  // A day without error keys leaves no row, so it is parsed again on every run.
  dir.Write("PX000005.DIR/20020616.PXT", "001 0915 1 65,3\r\nUser Notes: hello\r\n");
  EXPECT_EQ(Load({{20020616, "20020616.PXT"}}) + Load({{20020616, "20020616.PXT"}}), 2);
  EXPECT_EQ(Query("SELECT count(*) FROM ProjectNotes;"), "2\n");
}

}  // namespace

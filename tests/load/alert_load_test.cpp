// The rows a parsed alert day becomes, and the loader over a user's day list.
#include <map>

#include "loader_fixture.h"
#include "logs/file_list.h"

namespace {

using Row = prax::AlertCounts::Row;

// One AlertSystem row as sqlite3 prints SELECT *: the columns not named are 0.
std::string AlertRow(int date, const char* hour, const std::map<std::string, int>& counts) {
  std::string line = "5|" + std::to_string(date) + "|" + hour;
  const auto add = [&](const std::string& col) {
    (line += "|") += std::to_string(counts.count(col) ? counts.at(col) : 0);
  };
  for (const std::string dev : {"Key", "Mouse"}) {
    for (const char* kind : {"_Given", "_Taken", "_Skipped"}) {
      for (int l = 1; l <= 5; ++l) add(dev + "_L" + std::to_string(l) + kind);
    }
    add(dev + "_Work_Mins");
    add(dev == "Key" ? "Keystrokes" : "Mouse_Seconds");
  }
  for (const char* col : {"StretchTimers_Given", "Restarts", "Settings_Cycled", "Error_Keys"}) add(col);
  return line + "\n";
}

class AlertLoadTest : public praxtest::LoaderTest {
 protected:
  std::string AlertRows() { return Query("SELECT * FROM AlertSystem ORDER BY Data_Date, Data_Hour;"); }
  int Load(const prax::FileList& list) { return LoaderTest::Load(prax::LogKind::kAlert, list); }
};

// A name holding a single quote fails its lookup; the row that follows is written with the id looked up before.
TEST_F(AlertLoadTest, UserActionRowsAndAQuotedNameKeepsThePreviousId) {
  StoreAlert("User Action: Drill*021203 14\r\n"
             "User Action: Saw * 9912 5\r\n"      // no date number, no hour: Null
             "User Action: Hammer 021203 14\r\n"  // no "*": no lookup, no row
             "User Action: Bob's*021203 10\r\n"   // lookup fails: previous tool id
             "User Action: drill *910101 09\r\n"
             "User Action: S\xE4ge*021203 15\r\n");
  EXPECT_EQ(UsageRows(), "5|20021203|'14'|1\n5|NULL|NULL|2\n5|20021203|'10'|2\n5|19910101|'09'|1\n5|20021203|'15'|3\n");
  EXPECT_EQ(Rows("EMSToolsList"), "1|Drill\n2|Saw\n3|S\xC3\xA4ge\n");
  EXPECT_EQ(AlertRows(), "");  // no sample line: no hour row
  EXPECT_EQ(status.Summary().RejectedTotal(), 1);
  EXPECT_EQ(status.Summary().tables.at("EMSToolsList").rejects.at(prax::ReasonOf(prax::err::kSyntaxInExpression)), 1);
}

TEST_F(AlertLoadTest, UserEntryAndNotesRows) {
  StoreAlert("User Entry:  Ache-- Wrist\r\n"  // before the first sample: hour -1, no minute
             "User Notes: Sore after lunch\r\n"
             "001 0905 0 0 0 0 0 0 0 0 0 0 x\r\n"
             "User Entry:  Ache-- Neck\r\n"
             "User Entry:  Numb--\r\n"          // empty body part: no lookup, no row
             "User Entry:  Tingling Wrist\r\n"  // no "--": no row
             "001 1430 0 0 0 0 0 0 0 0 0 0 x\r\n"
             "User Entry:  -- Back\r\n"  // empty discomfort: that lookup fails
             "User Notes:  sore AFTER lunch \r\n");
  EXPECT_EQ(NoteRows(), "5|20020615|'-1'|NULL|1|1|1\n5|20020615|' 9'|'05'|2|1|NULL\n5|20020615|'14'|'30'|3|1|1\n");
  EXPECT_EQ(Rows("BodyPartsList") + Rows("DiscomfortsList"), "1|Wrist\n2|Neck\n3|Back\n1|Ache\n");

  // A note in a log that added no entry row looks its note up but edits no older row.
  StoreAlert("User Notes: Alone\r\n");
  EXPECT_EQ(Query("SELECT quote(Note_Id) FROM UserNotes ORDER BY rowid;"), "1\nNULL\n1\n");
  EXPECT_EQ(Rows("NotesList"), "1|Sore after lunch\n2|Alone\n");

  // An entry refused (its minute starts with NUL) stores nothing: the notes after it go to the entry before, the
  // last one winning.
  using namespace std::string_literals;
  StoreAlert("User Entry:  Ache-- Wrist\r\n001 09\0x 0 0 0 0 0 0 0 0 0 0 x\r\nUser Entry:  Ache-- Neck\r\n"
             "User Notes: Late\r\nUser Notes: Later\r\n"s);
  EXPECT_EQ(NoteRows(), "5|20020615|'-1'|NULL|1|1|1\n5|20020615|' 9'|'05'|2|1|NULL\n5|20020615|'14'|'30'|3|1|1\n"
                        "5|20020615|'-1'|NULL|1|1|4\n");
}

// Every slot with a count becomes a row; a refused row ends the day's rows
// and never undoes the rows stored before it.
TEST_F(AlertLoadTest, HourRowsAndARefusedRowNeverUndoesTheRowsBefore) {
  prax::AlertDay day;
  prax::StoreAlertDay(*load, 20021203, day);
  EXPECT_EQ(AlertRows(), "");
  prax::AlertCounts& c = day.counts;
  c.At(0, Row::kKeystrokes, 0) = 40;
  c.At(15, Row::kKeystrokes, 0) = 40;
  c.At(16, Row::kMouseGiven, 3) = 2;
  c.At(16, Row::kMouseSkipped, 5) = 1;
  c.At(20, Row::kKeyGiven, 6) = 1;  // never stored, but gives the slot a row
  prax::StoreAlertDay(*load, 20021203, day);
  const std::string rows = AlertRow(20021203, "00", {{"Keystrokes", 40}}) +
                           AlertRow(20021203, "15", {{"Keystrokes", 40}}) +
                           AlertRow(20021203, "16", {{"Mouse_L3_Given", 2}, {"Mouse_L5_Skipped", 1}}) +
                           AlertRow(20021203, "20", {});
  EXPECT_EQ(AlertRows(), rows);

  prax::AlertDay big;
  big.counts.At(1, Row::kRestarts, 0) = 1;
  big.counts.At(3, Row::kKeyWorkMins, 0) = 32768;  // a 16-bit column
  big.counts.At(5, Row::kRestarts, 0) = 1;
  EXPECT_THROW(prax::StoreAlertDay(*load, 19991231, big), prax::Error);
  EXPECT_EQ(AlertRows(), AlertRow(19991231, "01", {{"Restarts", 1}}) + rows);
}

TEST_F(AlertLoadTest, UnreadableLogsAreSkippedAndWriteFailuresEndTheLoader) {
  std::string cycled;
  for (int i = 0; i < 32768; ++i) cycled += "CYCLED\r\n";  // too many for Settings_Cycled
  dir.Write("PX000005.DIR/20021203.PXL/locked", "");
  dir.Write("PX000005.DIR/20021204.PXL", "User Action: Drill*021204 10\r\nSTARTED\r\n");
  dir.Write("PX000005.DIR/20021205.PXL", cycled);
  dir.Write("PX000005.DIR/20021206.PXL", "STARTED\r\n");
  try {
    Load({{20021203, "20021203.PXL"}, {20021204, "20021204.PXL"}, {20021205, "20021205.PXL"},
          {20021206, "20021206.PXL"}});
    ADD_FAILURE() << "no error";
  } catch (const prax::Error& e) {
    EXPECT_NE(std::string(e.what()).find("Alert log " + prax::fs::ForDisplay(UserDir() + "\\20021205.PXL") + ": "),
              std::string::npos)
        << e.what();
  }
  ASSERT_EQ(status.log.size(), 4u);
  EXPECT_EQ(status.log[1].rfind("    Skipped: " + prax::fs::ForDisplay(UserDir() + "\\20021203.PXL") + ": ", 0), 0u);
  EXPECT_EQ(AlertRows(), AlertRow(20021204, "00", {{"Restarts", 1}}));
  EXPECT_EQ(UsageRows(), "5|20021204|'10'|1\n");
}

// Two days of one user into a fresh database, every row worked out by hand.
TEST_F(AlertLoadTest, TwoDaysEndToEnd) {
  dir.Write("PX000005.DIR/20021203.PXL",
            "STARTED\r\n"
            "User Entry:  Ache-- Wrist\r\n"
            "User Notes: Stiff\r\n"
            "001 0905 100 0 1 0 30 0 1 0 0 0 x\r\n"
            "001 0906 50 1 2 0 10 0 2 0 0 0 x\r\n"
            "Stretch Alert\r\n"
            "001 1010 20 0 2 0 0 1 2 0 0 0 x\r\n"
            "User Action: Drill*021203 10");  // no line end on the last line
  praxtest::SetMTime(dir.Write("PX000005.DIR/prax032.pxl",
                               "User Action: Saw*030201 08\r\n"
                               "001 0800 10 1 3 0 0 0 0 0 0 0 x\r\n"
                               "001 0801 5 2 4 0 0 0 0 0 0 0 x\r\n"
                               "Keyboard Warning at level 5\r\n"
                               "User Entry:  ache-- Neck\r\n"
                               "User Notes: STIFF\r\n"
                               "CYCLED\r\n"
                               "001 0802 99 0 9 0 0 0 0 0 0 0 RECOV\r\n"
                               "\r\n"
                               "001 0900 1000 0 0 0 0 0 0 0 0 0 x\r\n"),
                     2003, 8, 9);
  prax::FileList list = prax::BuildFileList(UserDir(), "PXL");
  ASSERT_EQ(list, (prax::FileList{{20021203, "20021203.PXL"}, {20030201, "PRAX032.PXL", prax::LogNaming::kDayNumber}}));
  list.push_back({20030203, "20030203.PXL"});  // no such file

  EXPECT_EQ(Load(list), 2);
  EXPECT_EQ(status.log, (std::vector<std::string>{"    Loading-1: 02-12-0320*", "    Loading-2: 03-02-01032",
                                                  "    Loading-1: 03-02-0320*"}));
  EXPECT_EQ(status.captions, (std::vector<std::string>{" 33% ", " 66% ", " 100% "}));
  EXPECT_FALSE(status.Busy());
  // Each hour's arithmetic is the parser's and the store's; here the days' hours, their lists and notes.
  const auto all = [&] {
    return Query("SELECT Data_Date, Data_Hour, Keystrokes, Restarts, Settings_Cycled FROM AlertSystem ORDER BY 1, 2;") +
           NoteRows() + UsageRows() + Rows("EMSToolsList") + Rows("BodyPartsList") + Rows("DiscomfortsList") +
           Rows("NotesList");
  };
  const std::string expected = "20021203|00|170|1|0\n20021203|10|150|0|0\n20021203|11|20|0|0\n"  // AlertSystem
                               "20030201|00|15|0|1\n20030201|09|15|0|1\n"
                               "5|20021203|'-1'|NULL|1|1|1\n5|20030201|' 8'|'01'|2|1|1\n"  // UserNotes
                               "5|20021203|'10'|1\n5|20030201|'08'|2\n"                    // EMSSystemUsage
                               "1|Drill\n2|Saw\n1|Wrist\n2|Neck\n1|Ache\n1|Stiff\n";      // the lists
  EXPECT_EQ(all(), expected);

  // The next run adds nothing.
  status.log.clear();
  EXPECT_EQ(Load(prax::BuildFileList(UserDir(), "PXL")), 0);
  EXPECT_TRUE(status.log.empty());
  EXPECT_EQ(all(), expected);
}

}  // namespace

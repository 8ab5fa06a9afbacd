// Rows the alert parser adds to EMSSystemUsage and UserNotes through the lists.
#include <gtest/gtest.h>

#include "alert_fixture.h"

namespace {

using praxtest::AlertDbTest;

TEST_F(AlertDbTest, UserActionRows) {
  ASSERT_EQ(Parse("User Action: Drill*021203 14\r\n"
                  "User Action: Saw * 9912 5\r\n"          // no date number, no hour: Null
                  "User Action: Hammer 021203 14\r\n"      // no "*": no lookup, no row
                  "User Action: Bob's*021203 10\r\n"       // lookup fails: previous tool id
                  "User Action: drill *910101 09\r\n"
                  "User Action: S\xE4ge*021203 15\r\n")
                .read,
            prax::AlertLogRead::kParsed);
  EXPECT_EQ(UsageRows(),
            "5|20021203|'14'|1\n"
            "5|NULL|NULL|2\n"
            "5|20021203|'10'|2\n"
            "5|19910101|'09'|1\n"
            "5|20021203|'15'|3\n");
  EXPECT_EQ(ListRows("EMSToolsList"), "1|Drill\n2|Saw\n3|S\xC3\xA4ge\n");
  EXPECT_EQ(ctx.CurToolId, 3);
  EXPECT_EQ(state.ToolName, "S\xE4ge");
  EXPECT_EQ(Query("SELECT count(*) FROM AlertSystem;"), "0\n");  // the parser writes no hours
}

TEST_F(AlertDbTest, UserEntryAndNotesRows) {
  Parse("User Entry:  Ache-- Wrist\r\n"          // before the first sample: hour -1, no minute
        "User Notes: Sore after lunch\r\n"
        "001 0905 0 0 0 0 0 0 0 0 0 0 x\r\n"
        "User Entry:  Ache-- Neck\r\n"
        "User Entry:  Numb--\r\n"                 // empty body part: no lookup, no row
        "User Entry:  Tingling Wrist\r\n"         // no "--": no row
        "001 1430 0 0 0 0 0 0 0 0 0 0 x\r\n"
        "User Entry:  -- Back\r\n"                // empty discomfort: that lookup fails
        "User Notes:  sore AFTER lunch \r\n");
  EXPECT_EQ(NoteRows(),
            "5|20020615|'-1'|NULL|1|1|1\n"
            "5|20020615|' 9'|'05'|2|1|NULL\n"
            "5|20020615|'14'|'30'|3|1|1\n");
  EXPECT_EQ(ListRows("BodyPartsList"), "1|Wrist\n2|Neck\n3|Back\n");
  EXPECT_EQ(ListRows("DiscomfortsList"), "1|Ache\n");
  EXPECT_EQ(ListRows("NotesList"), "1|Sore after lunch\n");
  EXPECT_EQ(state.NoteText, "sore AFTER lunch");

  // A note in a log that added no entry row looks its note up but edits no older row.
  Parse("User Notes: Alone\r\n");
  EXPECT_EQ(ctx.CurNoteId, 2);
  EXPECT_EQ(Query("SELECT quote(Note_Id) FROM UserNotes ORDER BY rowid;"), "1\nNULL\n1\n");
  EXPECT_EQ(ListRows("NotesList"), "1|Sore after lunch\n2|Alone\n");
}

}  // namespace

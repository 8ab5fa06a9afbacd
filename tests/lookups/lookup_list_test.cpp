#include <gtest/gtest.h>

#include "store/list_ids.h"
#include "platform/status.h"
#include "store/db_fixture.h"

namespace {

using dbtest::ErrorOf;
using prax::LookupList;
namespace lists = prax::lists;

struct YieldCounter : prax::Status {
  int yields = 0;
  void OnYield() override { ++yields; }
};

class LookupTest : public dbtest::HistoryDb {
 protected:
  // Stores the rows, primes and opens the list.
  void Start(LookupList& list, std::initializer_list<std::pair<int, const char*>> rows = {}) {
    const auto& c = list.Columns();
    auto rs = db->OpenRecordset("SELECT * FROM " + std::string(c.table));
    for (const auto& [id, name] : rows) dbtest::Add(*rs, {{c.idColumn.data(), id}, {c.nameColumn.data(), name}});
    list.Prime(*db);
    list.Open(*db, &status);
  }
  std::string Rows(const LookupList& list) {
    db->Commit();
    const auto& c = list.Columns();
    return praxtest::Sqlite3(file, "SELECT " + std::string(c.idColumn) + ", quote(" + std::string(c.nameColumn) +
                                       ") FROM " + std::string(c.table) + " ORDER BY 1;");
  }
  YieldCounter status;
};

TEST_F(LookupTest, EveryHistoryListHandsOutIdsFromOne) {
  for (const prax::LookupSpec& columns : {lists::kApplications, lists::kWindows, lists::kProjects, lists::kTasks,
                                          lists::kNotes, lists::kBodyParts, lists::kDiscomforts, lists::kTools}) {
    LookupList list(columns);
    Start(list);
    EXPECT_EQ((std::vector<int>{list.Get("First"), list.Get("Second"), list.Get("first")}),
              (std::vector<int>{1, 2, 1}));
    list.Close();
    EXPECT_EQ(Rows(list), "1|'First'\n2|'Second'\n") << columns.table;
  }
}

TEST_F(LookupTest, ContinuesFromStoredMaximumAndMatchesLoosely) {
  LookupList tools(lists::kTools);
  Start(tools, {{7, "stapler"}, {41, "Hammer"}});
  EXPECT_EQ(tools.Get("Drill"), 42);
  for (const char* same : {"STAPLER", "  Stapler  ", "stapler"}) EXPECT_EQ(tools.Get(same), 7);
  EXPECT_EQ(tools.Get("drill "), 42);
  EXPECT_EQ(tools.Get("\tdrill"), 43);  // only spaces are trimmed
  EXPECT_EQ(Rows(tools), "7|'stapler'\n41|'Hammer'\n42|'Drill'\n43|'\tdrill'\n");
  EXPECT_EQ(status.yields, 6);  // one per lookup
}

TEST_F(LookupTest, FailuresAndTheIdsTheySpend) {
  LookupList windows(lists::kWindows);
  Start(windows, {{1, "Editor"}});
  EXPECT_EQ(ErrorOf([&] { windows.Get("Bob's file"); }), prax::err::kSyntaxInExpression);
  EXPECT_EQ(ErrorOf([&] { windows.Get("   "); }), prax::err::kZeroLengthString);
  EXPECT_EQ(windows.Max(), 1);
  EXPECT_NE(ErrorOf([&] { windows.Get(std::string(300, 'w')); }), 0);  // refused by the column
  EXPECT_EQ(windows.Max(), 2);
  EXPECT_EQ(windows.Get("Mail"), 3);
  EXPECT_EQ(Rows(windows), "1|'Editor'\n3|'Mail'\n");

  LookupList notes(lists::kNotes);
  Start(notes, {{32767, "Full"}, {3, "Early"}});
  EXPECT_EQ(ErrorOf([&] { notes.Get("New"); }), prax::err::kOverflow);
  EXPECT_EQ(notes.Get("early"), 3);
  EXPECT_EQ(notes.Get("FULL"), 32767);
  EXPECT_EQ(Rows(notes), "3|'Early'\n32767|'Full'\n");

  LookupList missing(prax::LookupSpec{"NoSuchList", "X_Id", "X_Name", "X_Max"});
  EXPECT_NE(ErrorOf([&] { missing.Prime(*db); }), 0);
  EXPECT_NE(ErrorOf([&] { missing.Get("x"); }), 0);  // never opened
}

}  // namespace

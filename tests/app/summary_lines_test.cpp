#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/praxload_run.h"

namespace {

std::size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

TEST(SummaryLines, TablesGroupsAndTheQuietLine) {
  prax::RunSummary s;
  s.started = "2026-12-08T02:30:00";
  s.ended = "2026-12-08T02:31:05";
  s.engine = "postgresql";
  s.database = "host=db dbname=prax";
  s.usersProcessed = 12;
  s.firstDay = 20260105;
  s.lastDay = 20260107;
  s.passes = {{"alert logs", 36, 36, 2500, 4, 0.5}, {"activity logs", 1036, 1035, 1234567, 11, 123.456}};
  s.tables["ActivitySystem"] = {1234567, {{"value out of range", 9}, {"name too long", 2}}};
  s.tables["AlertSystem"] = {2500, {}};
  for (int i = 0; i < 23; ++i)
    s.passedOver.push_back({"left for a later run", "/net/PX0001.DIR/" + std::to_string(i), ""});
  s.passedOver.push_back({"unreadable", "/net/PX0002.DIR/20260105.PXT", ""});
  s.passedOver.push_back({"", "", "    Skipped: roster row 9"});
  s.rejectsFile = "/prog/PRAXLOAD.REJECTS";
  s.rejectsKept = 11;
  s.warnings = {"log dated in the future: a", "log dated in the future: b"};
  const std::vector<std::string> lines = prax::RunSummaryLines(s);
  std::string all;
  for (const std::string& line : lines) {
    all += line + "\n";
    EXPECT_LE(line.size(), 100u) << line;
  }

  EXPECT_LT(IndexOf(lines, "History database: PostgreSQL server (host=db dbname=prax)"), lines.size()) << all;
  EXPECT_LT(IndexOf(lines, "12 users processed; days 2026-01-05 to 2026-01-07; 1237067 rows added; 11 lines rejected"),
            lines.size()) << all;
  // Figures right-aligned under their headings: every line of the pass table ends in the same column.
  const std::size_t passes =
      IndexOf(lines, "  Pass           Logs read  Days loaded  Rows added  Lines rejected  Seconds");
  ASSERT_LT(passes + 2, lines.size()) << all;
  EXPECT_EQ(lines[passes + 1], "  alert logs            36           36        2500               4     0.50");
  EXPECT_EQ(lines[passes + 2].size(), lines[passes].size()) << all;
  // A table's reasons stand one a line, under each other.
  const std::size_t tables = IndexOf(lines, "  Table           Rows added  Lines rejected  Rejects by reason");
  ASSERT_LT(tables + 3, lines.size()) << all;
  EXPECT_EQ(lines[tables + 1], "  ActivitySystem     1234567              11  name too long: 2");
  EXPECT_EQ(lines[tables + 2].find_first_not_of(' '), lines[tables + 1].find("name too long"));
  EXPECT_TRUE(lines[tables + 2].ends_with("value out of range: 9")) << all;
  EXPECT_EQ(lines[tables + 3], "  AlertSystem           2500               0");
  // Twenty paths of a reason, then how many more; items without a path by their line.
  const std::size_t later = IndexOf(lines, "  left for a later run (23):");
  ASSERT_LT(later + 22, lines.size()) << all;
  EXPECT_EQ(lines[later + 20], "    /net/PX0001.DIR/19");
  EXPECT_EQ(lines[later + 21], "    and 3 more");
  EXPECT_EQ(lines[later + 22], "  unreadable (1):");
  EXPECT_LT(IndexOf(lines, "  other (1):"), IndexOf(lines, "        Skipped: roster row 9")) << all;
  EXPECT_LT(IndexOf(lines, "Rejected lines are kept in /prog/PRAXLOAD.REJECTS (11 lines)."), lines.size()) << all;
  EXPECT_EQ(lines.back(), "  log dated in the future: b");

  // The one line of --quiet stays as it was.
  prax::ExecuteResult r;
  r.summary.usersProcessed = 3;
  r.summary.alertDaysLoaded = 2;
  r.summary.rowsAdded = {{"AlertSystem", 5}, {"UserNotes", 1}};
  r.summary.filesSkipped = 2;
  EXPECT_EQ(prax::SummaryText(r, 1.234),
            "praxload: 3 users processed; days loaded: 2 alert, 0 activity; rows added: AlertSystem 5, UserNotes 1; "
            "2 files skipped; 1.23 s");
}

}  // namespace

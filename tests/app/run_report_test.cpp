#include <gtest/gtest.h>
#include <regex>
#include "app/run_report.h"
#include "store/history_store.h"
#include "support/programs.h"
#include "support/recording_status.h"
#include "support/roster.h"

static std::vector<std::string> Each(const std::string& html, const std::string& re) {
  std::vector<std::string> found;
  const std::regex pattern(re);
  for (std::sregex_iterator m(html.begin(), html.end(), pattern), e; m != e; ++m) found.push_back((*m)[1]);
  return found;
}

TEST(RunReport, ShowsDatesWithGapsStaleClientsOldestFirstAndEscapesText) {
  praxtest::TempDir dir;
  prax::RunContext ctx;
  ctx.NetworkDir = dir.Text();
  ctx.Today = [] { return 20261208; };  // a Tuesday
  praxtest::MakeRoster(dir.Path() / "MASTER.MDB", {{"U1", "O'Brien <b>", "Zoë", "", "px000001.dir"},
                                                   {"U3", "Lee", "Ann", "", praxtest::SlotDir(3)}});
  prax::store::CreateSqliteHistory((dir.Path() / "PRAXDATA.MDB").string());
  auto history = prax::store::OpenSqliteHistory(dir.Path() / "PRAXDATA.MDB");
  // Newest days: user 1 the Wednesday before, 4 working days back (stale); 2 and 5 Thursday, 3 (not); 3 the oldest.
  for (const auto& [user, date] : std::vector<std::pair<int32_t, int32_t>>{
           {1, 20261202}, {2, 20261203}, {3, 20261120}, {3, 20260901}, {4, 20261207}, {5, 20261203}}) {
    history->AppendAlertHour({user, date, "00", {}, 0});
  }
  history->AppendActivity({6, 20261127, "09"});  // known by activity alone
  history->Close();
  prax::RunSummary summary;
  summary.tables["AlertSystem"].rejects = {{"value out of range", 2}};
  summary.tables["UserNotes"].rejects = {{"name too long", 1}};
  summary.passedOver.push_back({"unreadable", "/net/<script>x</script>.PXL", ""});
  prax::WriteRunReport(ctx, summary, (dir.Path() / "report.html").string());
  const std::string html = praxtest::Slurp(dir.Path() / "report.html");
  EXPECT_EQ(Each(html, "class=\"day-bar\" data-date=\"(\\d+)\""),
            (std::vector<std::string>{"20261120", "20261202", "20261203", "20261207"}));
  EXPECT_EQ(Each(html, "class=\"stale-user\"><td class=\"n\">(\\d+)<"), (std::vector<std::string>{"3", "6", "1"}));
  EXPECT_TRUE(praxtest::Has(html, "Ann Lee") && praxtest::Has(html, "Zoë O&#39;Brien &lt;b&gt;")) << html;
  EXPECT_TRUE(praxtest::Has(html, "id=\"rejects-total\">3<"));
  EXPECT_TRUE(praxtest::Has(html, "&lt;script&gt;x&lt;/script&gt;") && !praxtest::Has(html, "<script"));
  praxtest::RecordingStatus status;  // a report that cannot be written is said, and nothing else happens
  EXPECT_FALSE(prax::ReportRun(ctx, status, (dir.Path() / "missing" / "r.html").string()));
  EXPECT_TRUE(status.Said("missing")) << status.Message();
}

#include <gtest/gtest.h>

#include <regex>

#include "app/run_report.h"
#include "store/history_store.h"
#include "support/programs.h"
#include "support/recording_status.h"
#include "support/roster.h"

namespace {

// The values of attribute `attr` on the elements carrying `cls`, in page order.
std::vector<std::string> Marked(const std::string& html, const std::string& cls, const std::string& attr) {
  std::vector<std::string> found;
  const std::regex re("class=\"" + cls + "\"[^>]*" + attr + "=\"([^\"]*)\"|class=\"" + cls + "\"><td[^>]*>([^<]*)");
  for (std::sregex_iterator m(html.begin(), html.end(), re), end; m != end; ++m) found.push_back((*m)[1].str() + (*m)[2].str());
  return found;
}

}  // namespace

TEST(RunReport, ShowsDatesWithGapsStaleClientsOldestFirstAndEscapesText) {
  praxtest::TempDir dir;
  prax::RunContext ctx;
  ctx.NetworkDir = dir.Text();
  ctx.Today = [] { return 20261208; };  // a Tuesday
  praxtest::MakeRoster(dir.Path() / "MASTER.MDB", {{"U1", "O'Brien <b>", "Zoë", "", "px000001.dir"},
                                                   {"U3", "Lee", "Ann", "", praxtest::SlotDir(3)}});
  prax::store::CreateSqliteHistory((dir.Path() / "PRAXDATA.MDB").string());
  {
    auto history = prax::store::OpenSqliteHistory(dir.Path() / "PRAXDATA.MDB");
    // user, newest day: Wednesday before is 4 working days back (stale), Thursday 3 (not); user 3 is the oldest.
    for (const auto& [user, date] : std::vector<std::pair<int32_t, int32_t>>{
             {1, 20261202}, {2, 20261203}, {3, 20261120}, {3, 20260901}, {4, 20261207}, {5, 20261203}}) {
      history->AppendAlertHour({user, date, "00", {}, 0});
    }
    history->AppendActivity({5, 20261201, "09"});
    history->AppendActivity({6, 20261127, "09"});  // a user known by activity alone
    history->Close();
  }
  prax::RunSummary summary;
  summary.tables["AlertSystem"].rejects = {{"value out of range", 2}};
  summary.tables["UserNotes"].rejects = {{"name too long", 1}};
  summary.passedOver.push_back({"unreadable", "/net/<script>x</script>.PXL", ""});
  const std::string file = (dir.Path() / "report.html").string();
  prax::WriteRunReport(ctx, summary, file);
  const std::string html = praxtest::Slurp(file);
  EXPECT_EQ(Marked(html, "day-bar", "data-date"),
            (std::vector<std::string>{"20261120", "20261202", "20261203", "20261207"}));
  EXPECT_EQ(Marked(html, "stale-user", ""), (std::vector<std::string>{"3", "6", "1"}));
  EXPECT_TRUE(praxtest::Has(html, "Ann Lee") && praxtest::Has(html, "Zoë O&#39;Brien &lt;b&gt;")) << html;
  EXPECT_TRUE(praxtest::Has(html, "id=\"rejects-total\">3<"));
  EXPECT_TRUE(praxtest::Has(html, "&lt;script&gt;x&lt;/script&gt;") && !praxtest::Has(html, "<script"));

  praxtest::RecordingStatus status;  // a report that cannot be written is said, and nothing else happens
  EXPECT_FALSE(prax::ReportRun(ctx, status, (dir.Path() / "missing" / "r.html").string()));
  EXPECT_TRUE(status.Said("missing")) << status.Message();
}

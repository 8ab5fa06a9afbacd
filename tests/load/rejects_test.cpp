// Lines that fail their step: counted under their table and reason, and kept
// in the reject file with the log, the line number and the line's text.
#include <algorithm>
#include <filesystem>

#include "loader_fixture.h"
#include "logs/file_list.h"

namespace {

class RejectsTest : public praxtest::LoaderTest {
 protected:
  std::string RejectFile() const { return dir.Text() + "PRAXLOAD.REJECTS"; }
  std::vector<std::string> KeptLines() {
    std::vector<std::string> lines;
    const std::string text = prax::fs::ReadFile(RejectFile());
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
      lines.push_back(text.substr(at, end - at));
    }
    return lines;
  }
  int64_t Rejected(const std::string& table, prax::ErrorKind kind) {
    const auto& tables = status.Summary().tables;
    return tables.contains(table) ? tables.at(table).rejects.at(prax::ReasonOf(kind)) : 0;
  }
};

// An hour past the day's counters, a name the list refuses (holding ESC) and
// a key count past 16 bits: each line is counted and kept once.
TEST_F(RejectsTest, DamagedLinesAreCountedAndKeptWithTheirText) {
  status.KeepRejects(RejectFile(), 100);
  dir.Write("PX000005.DIR/20020615.PXL",
            "001 0905 3 0 0 0 0 0 0 0 0 0 x\r\n001 9905 4 0 0 0 0 0 0 0 0 0 x\r\nUser Action: Bob's\x1b*021203 10\r\n");
  dir.Write("PX000005.DIR/20020615.PXT", "001 0915 \"W\",\"A\" 1 8,3\r\n001 0916 \"W\",\"A\" 1 8,99999\r\n");
  EXPECT_EQ(Load(prax::LogKind::kAlert, {{20020615, "20020615.PXL"}}), 1);
  EXPECT_EQ(Load(prax::LogKind::kActivity, {{20020615, "20020615.PXT"}}), 1);

  EXPECT_EQ(Rejected("AlertSystem", prax::err::kSubscript), 1);
  EXPECT_EQ(Rejected("EMSToolsList", prax::err::kSyntaxInExpression), 1);
  EXPECT_EQ(Rejected("ActivitySystem", prax::err::kOverflow), 1);
  EXPECT_EQ(status.Summary().RejectedTotal(), 3);
  EXPECT_EQ(status.Summary().rejectsKept, 3);
  EXPECT_FALSE(status.Summary().rejectsCapped);
  // The rows of the good lines are stored as ever.
  EXPECT_EQ(Query("SELECT Data_Hour, Keystrokes FROM AlertSystem ORDER BY Data_Hour;"), "00|3\n10|3\n");

  const std::vector<std::string> kept = KeptLines();
  ASSERT_EQ(kept.size(), 3u);
  const std::string pxl = praxtest::Shown(dir.Path() / "PX000005.DIR" / "20020615.PXL");
  const std::string pxt = praxtest::Shown(dir.Path() / "PX000005.DIR" / "20020615.PXT");
  const struct {
    std::string file, line, table, text;
  } want[] = {
      {pxl, "2", "AlertSystem", "001 9905 4 0 0 0 0 0 0 0 0 0 x"},
      {pxl, "3", "EMSToolsList", "User Action: Bob's\\x1b*021203 10"},
      {pxt, "2", "ActivitySystem", "001 0916 \"W\",\"A\" 1 8,99999"},
  };
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::string tail = "\t" + want[i].file + "\t" + want[i].line + "\t" + want[i].table + "\t";
    EXPECT_NE(kept[i].find(tail), std::string::npos) << kept[i];
    EXPECT_TRUE(kept[i].ends_with("\t" + want[i].text)) << kept[i];
    EXPECT_EQ(kept[i].find('\x1b'), std::string::npos) << kept[i];
  }
}

// Past the cap the lines are only counted; a reject file grown past its size
// is moved to .1 before the run appends to it.
TEST_F(RejectsTest, TheCapAndTheRotation) {
  dir.Write("PRAXLOAD.REJECTS", std::string(1100 * 1024, 'x'));
  status.KeepRejects(RejectFile(), 1);
  dir.Write("PX000005.DIR/20020615.PXL", "001 9905 4 0 0 0 0 0 0 0 0 0 x\r\nUser Action: A'*021203 10\r\n");
  Load(prax::LogKind::kAlert, {{20020615, "20020615.PXL"}});
  EXPECT_EQ(status.Summary().RejectedTotal(), 2);
  EXPECT_EQ(status.Summary().rejectsKept, 1);
  EXPECT_TRUE(status.Summary().rejectsCapped);
  EXPECT_EQ(KeptLines().size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(dir.Path() / "PRAXLOAD.REJECTS.1"), 1100u * 1024);

  // With APPS.NO the lines name nothing, so nothing is refused.
  run.AppsNoPresent = true;
  StoreActivity("001 0915 1 8,3\r\n001 0916 \"W\",\"A\" 1 8,3\r\n");
  EXPECT_EQ(status.Summary().RejectedTotal(), 2);
}

// A reject file that cannot be written (a folder in its place) is said once;
// the run goes on counting.
TEST_F(RejectsTest, AnUnwritableRejectFileIsSaidOnce) {
  std::filesystem::create_directory(dir.Path() / "PRAXLOAD.REJECTS");
  status.KeepRejects(RejectFile(), 100);
  dir.Write("PX000005.DIR/20020615.PXL", "User Action: A'*021203 10\r\n");
  dir.Write("PX000005.DIR/20020616.PXL", "User Action: B'*021203 10\r\n");
  EXPECT_EQ(Load(prax::LogKind::kAlert, {{20020615, "20020615.PXL"}, {20020616, "20020616.PXL"}}), 2);
  EXPECT_EQ(std::ranges::count_if(status.passedOver, [](const std::string& l) { return l.starts_with("Reject file"); }), 1);
  EXPECT_EQ(status.Summary().RejectedTotal(), 2);
  EXPECT_TRUE(status.Summary().rejectsKept == 0 && status.Summary().rejectsFile.empty());
}

}  // namespace

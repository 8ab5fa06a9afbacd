// Damaged lines of a generated network: every one counted in the run summary
// and kept in PRAXLOAD.REJECTS, up to the cap praxload is given.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/execute_command.h"
#include "app/startup.h"
#include "support/programs.h"
#include "support/recording_status.h"

namespace {

long Lines(const std::filesystem::path& file) {
  const std::string text = praxtest::Slurp(file);
  return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

TEST(E2e, RejectedLinesAreKeptOneByOneUpToTheCap) {
  const praxtest::Network n({"--users", "6", "--days", "4", "--seed", "17", "--nasty", "0.2", "--start", "2026-01-05"});
  prax::RunContext ctx;
  ctx.ProgramDir = n.Prog().generic_string();
  prax::RunStartup(ctx);
  praxtest::RecordingStatus status;
  prax::RunExecute(ctx, status, prax::WindowChoices{});  // every user, a fresh database
  const prax::RunSummary& s = status.Summary();
  ASSERT_GT(s.RejectedTotal(), 0);
  EXPECT_EQ(Lines(n.Prog() / "PRAXLOAD.REJECTS"), s.RejectedTotal());
  EXPECT_EQ(s.rejectsKept, s.RejectedTotal());
  EXPECT_EQ(s.rejectsFile, praxtest::Shown(n.Prog() / "PRAXLOAD.REJECTS"));

  // Past the cap praxload only counts; none kept with 0.
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--keep-rejects", "3"}).exitCode, 0);
  EXPECT_EQ(Lines(n.Prog() / "PRAXLOAD.REJECTS"), s.RejectedTotal() + 3);
  ASSERT_EQ(n.Praxload({"--fresh", "--yes", "--keep-rejects", "0"}).exitCode, 0);
  EXPECT_EQ(Lines(n.Prog() / "PRAXLOAD.REJECTS"), s.RejectedTotal() + 3);
}

}  // namespace

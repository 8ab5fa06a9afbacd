#include <gtest/gtest.h>

#include <filesystem>

#include "app/execute_command.h"
#include "app/main_controller.h"
#include "app/startup.h"
#include "platform/fs.h"
#include "site.h"
#include "support/roster.h"

namespace {

using apptest::Contains;
using apptest::Site;

constexpr char kStartMsg[] =
    "You have selected a starting record number of less than 1.  Please change the starting record number and try "
    "again.";
constexpr char kEndMsg[] =
    "You have selected an ending record number of less than 1.  Please change the ending record number and try "
    "again.";
constexpr char kOrderMsg[] =
    "You have selected a starting record number greater than the ending record number.  Please change the either "
    "number and try again.";

TEST(Execute, RangeMessages) {
  struct Case {
    int universe;
    const char *start, *end, *message;
  } cases[] = {
      {1, "0", "5", kStartMsg},  {1, "5", "0", kEndMsg},   {1, "7", "5", kOrderMsg},
      {1, "abc", "5", kStartMsg}, {1, "5", "5", nullptr},  {1, " 1 2", "15x", nullptr},
      {0, "abc", "", nullptr},    {2, "9", "1", nullptr},  {1, "1", "32767", nullptr},
  };
  for (const Case& c : cases) {
    prax::WindowChoices w;
    w.universe = c.universe;
    w.startText = c.start;
    w.endText = c.end;
    const auto message = prax::RangeMessage(w);
    if (c.message)
      EXPECT_EQ(message.value_or("(none)"), c.message) << c.start << ".." << c.end;
    else
      EXPECT_FALSE(message) << c.start << ".." << c.end;
  }
  prax::WindowChoices big;
  big.universe = 1;
  big.startText = "1";
  big.endText = "40000";
  EXPECT_NE(prax::RangeMessage(big).value_or("").find("greater than 32767"), std::string::npos);
}

TEST(Execute, ConfirmTextAndUpdatedDatLine) {
  EXPECT_EQ(prax::kConfirmText,
            "You have selected to create a new database.  This will erase the current database, if one exists.\r\r"
            "Do you wish to proceeed?");
  EXPECT_EQ(prax::UpdatedDatBytes("05/12/2026 19:04:45"), "\"        DB Updated Last: 05/12/2026 19:04:45\"\r\n");
}

// A network with a roster of two users and no logs.
struct RunSite : Site {
  RunSite() {
    praxtest::MakeRoster(network.Path() / "MASTER.MDB", {{"U1", "Smith", "Ann", "", praxtest::SlotDir(1)},
                                                         {"U2", "Jones", "Bob", "", praxtest::SlotDir(2)}});
    program.Write("UPDATED.DAT", "\"old\"\r\n");
    prax::RunStartup(ctx);
  }
  bool HasHistory() const { return std::filesystem::exists(network.Path() / "PRAXDATA.MDB"); }
};

TEST(Execute, OnlyCreateModes) {
  {
    RunSite site;  // update existing: nothing is created
    prax::WindowChoices w;
    w.creationRule = 1;
    w.onlyCreate = true;
    const prax::ExecuteResult r = prax::RunExecute(site.ctx, w);
    EXPECT_TRUE(r.onlyCreated);
    EXPECT_FALSE(site.HasHistory());
    EXPECT_EQ(site.status.Message(), "Status: Database Created.");
    EXPECT_EQ(site.status.FileBar(), 100);
    EXPECT_EQ(site.status.UserCaption(), " 100% ");
    EXPECT_FALSE(site.status.Running());
    EXPECT_FALSE(site.status.Busy());
    EXPECT_EQ(site.ProgramFileText("UPDATED.DAT"), "\"old\"\r\n");
    EXPECT_FALSE(apptest::Contains(site.status.messages, "Status: Altering Master database."));
  }
  {
    RunSite site;  // create fresh: PRAXDATA.MDB made, UPDATED.DAT untouched
    prax::WindowChoices w;
    w.onlyCreate = true;
    prax::RunExecute(site.ctx, w);
    EXPECT_TRUE(site.HasHistory());
    EXPECT_EQ(site.status.phases, std::vector<std::string>{"Creating, Start"});
    EXPECT_EQ(site.status.Message(), "Status: Database Created.");
    EXPECT_EQ(site.ProgramFileText("UPDATED.DAT"), "\"old\"\r\n");
    EXPECT_FALSE(std::filesystem::exists(site.network.Path() / "UPDATED.DAT"));
  }
}

TEST(Execute, FullRunWritesUpdatedDatInBothPlaces) {
  RunSite site;
  prax::WindowChoices w;  // full universe, create fresh
  const prax::ExecuteResult r = prax::RunExecute(site.ctx, w);
  EXPECT_FALSE(r.onlyCreated);
  EXPECT_EQ(r.summary.usersProcessed, 2);
  EXPECT_TRUE(site.HasHistory());
  EXPECT_EQ(site.ctx.UserSlotCount, 2);
  EXPECT_TRUE(Contains(site.status.messages, "Status: Altering Master database."));
  EXPECT_FALSE(Contains(site.status.messages, "Status: Updating Master database."));
  EXPECT_EQ(site.status.Message(), "Status: Database Updated.");
  EXPECT_FALSE(site.status.Busy());
  for (const std::string& file : {site.ctx.NetworkDir + "UPDATED.DAT", site.ctx.ProgramFile("UPDATED.DAT")}) {
    const std::string bytes = prax::fs::ReadFile(file);
    EXPECT_EQ(bytes.rfind("\"        DB Updated Last: ", 0), 0u) << bytes;
    EXPECT_EQ(bytes.substr(bytes.size() - 3), "\"\r\n");
    EXPECT_EQ(bytes.find('\n'), bytes.size() - 1);
  }
}

TEST(Execute, UpdateExistingWithoutHistoryFailsNamingTheFile) {
  RunSite site;
  prax::WindowChoices w;
  w.creationRule = 1;
  try {
    prax::RunExecute(site.ctx, w);
    FAIL() << "the run should fail";
  } catch (const prax::Error& e) {
    const std::string text = prax::DescribeError(e);
    EXPECT_NE(text.find("PRAXDATA.MDB"), std::string::npos) << text;
    EXPECT_NE(text.find("Loading"), std::string::npos) << text;
    prax::FailCommand(site.ctx, e);
    EXPECT_EQ(site.status.Message(), "Status: " + text);
  }
  EXPECT_FALSE(site.status.Running());
  EXPECT_FALSE(site.status.Busy());
  EXPECT_EQ(site.ProgramFileText("UPDATED.DAT"), "\"old\"\r\n");
  EXPECT_FALSE(std::filesystem::exists(site.network.Path() / "UPDATED.DAT"));
}

TEST(Execute, MultipleNetworksWithUpdateDoesNotMerge) {
  RunSite site;
  site.network.Write("Networks.Lst", "\"F:\\ELSEWHERE\\\",\"A\",\"Sales\"\r\n");
  prax::RunStartup(site.ctx);
  prax::WindowChoices w;
  w.universe = 2;
  w.creationRule = 1;
  w.onlyCreate = true;
  prax::RunExecute(site.ctx, w);
  EXPECT_EQ(site.status.phases, std::vector<std::string>{"Updating from multiple networks, Start"});
  EXPECT_TRUE(std::filesystem::exists(site.network.Path() / "MASTER.MDB"));
  EXPECT_EQ(site.ctx.UserSlotCount, 2);
}

TEST(Controller, PressDecisionsAndButtonStates) {
  RunSite site;
  prax::MainController c(site.ctx);
  c.Startup();
  EXPECT_EQ(c.ButtonCaption(), "Execute");

  c.Choices().universe = 1;
  c.Choices().startText = "7";
  c.Choices().endText = "5";
  prax::PressResult p = c.ExecutePressed();
  EXPECT_EQ(p.action, prax::PressAction::kShowMessage);
  EXPECT_EQ(p.message, kOrderMsg);
  EXPECT_TRUE(c.ButtonEnabled());

  c.Choices().endText = "9";
  p = c.ExecutePressed();  // create fresh by design: ask first
  EXPECT_EQ(p.action, prax::PressAction::kConfirm);
  EXPECT_FALSE(c.ButtonEnabled());
  EXPECT_FALSE(c.ConfirmAnswered(false));
  EXPECT_TRUE(c.ButtonEnabled());
  EXPECT_EQ(c.ButtonCaption(), "Execute");
  EXPECT_FALSE(site.HasHistory());

  c.Choices().creationRule = 1;
  c.Choices().onlyCreate = true;
  p = c.ExecutePressed();
  EXPECT_EQ(p.action, prax::PressAction::kRun);
  EXPECT_EQ(c.ExecutePressed().action, prax::PressAction::kIgnore);
  // Close refused while the command runs: nothing written.
  EXPECT_FALSE(c.CanClose());
  EXPECT_FALSE(prax::fs::Exists(site.ctx.ProgramFile("PXSERVER.SET")));
  const prax::CommandOutcome outcome = c.RunCommand();
  EXPECT_TRUE(outcome.ok);
  c.CommandFinished(outcome);
  EXPECT_EQ(c.ButtonCaption(), "Close");
  EXPECT_TRUE(c.ButtonEnabled());

  c.Choices().endText = "0";
  EXPECT_EQ(c.ExecutePressed().action, prax::PressAction::kShowMessage);
  c.Choices().endText = "9";
  EXPECT_EQ(c.ExecutePressed().action, prax::PressAction::kClose);
  const auto cwd = std::filesystem::current_path();
  EXPECT_TRUE(c.CanClose());
  std::filesystem::current_path(cwd);
  EXPECT_EQ(site.ProgramFileText("PXSERVER.SET"), "2\r\n1\r\n\"7\",\"9\"\r\n1\r\n0\r\n");
}

TEST(Controller, FailedCommandShowsErrorAndEndsWithClose) {
  RunSite site;
  site.SetNetDir("Not Used");
  prax::MainController c(site.ctx);
  c.Startup();
  c.Choices().creationRule = 1;
  // A network directory that does not exist is refused at the press, naming it and PXNET.INI.
  const prax::PressResult refused = c.ExecutePressed();
  EXPECT_EQ(refused.action, prax::PressAction::kShowMessage);
  EXPECT_NE(refused.message.find("'Not Used' does not exist"), std::string::npos) << refused.message;
  EXPECT_NE(refused.message.find(site.ini.Text() + "PXNET.INI"), std::string::npos) << refused.message;
  EXPECT_TRUE(c.ButtonEnabled());
  // Its own network directory, but no History database: the command fails.
  site.SetNetDir(site.network.Text());
  ASSERT_EQ(c.ExecutePressed().action, prax::PressAction::kRun);
  const prax::CommandOutcome outcome = c.RunCommand();
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.errorText.rfind("Error ", 0), 0u);
  EXPECT_EQ(site.status.Message(), "Status: " + outcome.errorText);
  EXPECT_FALSE(site.status.Busy());
  c.CommandFinished(outcome);
  EXPECT_EQ(c.ButtonCaption(), "Close");
}

TEST(Controller, StartupWarningsOnStatusLineWithoutBusy) {
  Site site;
  site.program.Write("KEYS.MAX", "many\r\n");
  prax::MainController c(site.ctx);
  c.Startup();
  EXPECT_NE(site.status.Message().find("KEYS.MAX line 1"), std::string::npos);
  EXPECT_FALSE(site.status.Busy());
}

}  // namespace

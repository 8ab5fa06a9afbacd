#include <gtest/gtest.h>

#include <filesystem>

#include "app/execute_command.h"
#include "app/main_controller.h"
#include "app/startup.h"
#include "platform/fs.h"
#include "site.h"
#include "support/roster.h"

namespace {

using apptest::Site;
using prax::PressAction;

TEST(Execute, RangeMessages) {
  const std::string start = "a starting record number of less than 1", end = "an ending record number of less than 1",
                    order = "a starting record number greater than the ending";
  const struct {
    int universe;
    const char *start, *end;
    std::string message;  // empty: none
  } cases[] = {
      {1, "0", "5", start}, {1, "5", "0", end},     {1, "7", "5", order}, {1, "abc", "5", start},
      {1, "5", "5", ""},    {1, " 1 2", "15x", ""}, {0, "abc", "", ""},   {2, "9", "1", ""},
      {1, "1", "32767", ""},
  };
  for (const auto& c : cases) {
    prax::WindowChoices w;
    w.universe = c.universe;
    w.startText = c.start;
    w.endText = c.end;
    const std::optional<std::string> said = prax::RangeMessage(w);
    EXPECT_EQ(said.has_value(), !c.message.empty()) << c.start << ".." << c.end;
    EXPECT_NE(said.value_or("").find(c.message), std::string::npos) << c.start << ".." << c.end;
    w.endText = "40000";
    if (c.universe == 1 && c.message.empty()) {
      EXPECT_NE(prax::RangeMessage(w).value_or("").find("greater than 32767"), std::string::npos);
    }
  }
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
  bool UpdatedUntouched() const {
    return ProgramFileText("UPDATED.DAT") == "\"old\"\r\n" && !std::filesystem::exists(network.Path() / "UPDATED.DAT");
  }
};

// Only Create: with "update existing" nothing is made, with "create fresh"
// only PRAXDATA.MDB; UPDATED.DAT is left alone either way.
TEST(Execute, OnlyCreateModes) {
  for (const int rule : {1, 0}) {
    RunSite site;
    prax::WindowChoices w;
    w.creationRule = rule;
    w.onlyCreate = true;
    EXPECT_TRUE(prax::RunExecute(site.ctx, site.status, w).onlyCreated);
    EXPECT_EQ(site.HasHistory(), rule == 0);
    EXPECT_EQ(site.status.phases, rule ? std::vector<std::string>{} : std::vector<std::string>{"Creating, Start"});
    EXPECT_EQ(site.status.Message(), "Status: Database Created.");
    EXPECT_EQ(site.status.UserCaption() + std::to_string(site.status.FileBar()), " 100% 100");
    EXPECT_FALSE(site.status.Running() || site.status.Busy() || site.status.Said("Status: Altering Master database."));
    EXPECT_TRUE(site.UpdatedUntouched());
  }
}

TEST(Execute, FullRunWritesUpdatedDatInBothPlaces) {
  RunSite site;
  const prax::ExecuteResult r = prax::RunExecute(site.ctx, site.status, prax::WindowChoices{});  // full universe, create fresh
  EXPECT_TRUE(!r.onlyCreated && r.summary.usersProcessed == 2 && site.ctx.UserSlotCount == 2 && site.HasHistory());
  EXPECT_TRUE(site.status.Said("Status: Altering Master database."));
  EXPECT_FALSE(site.status.Said("Status: Updating Master database.") || site.status.Busy());
  EXPECT_EQ(site.status.Message(), "Status: Database Updated.");
  EXPECT_EQ(prax::UpdatedDatBytes("05/12/2026 19:04:45"), "\"        DB Updated Last: 05/12/2026 19:04:45\"\r\n");
  for (const std::string& file : {site.ctx.NetworkDir + "UPDATED.DAT", site.ctx.ProgramFile("UPDATED.DAT")}) {
    const std::string bytes = prax::fs::ReadFile(file);
    EXPECT_EQ(bytes.rfind("\"        DB Updated Last: ", 0), 0u) << bytes;
    EXPECT_EQ(bytes.find('\n'), bytes.size() - 1) << bytes;
  }
}

TEST(Execute, UpdateExistingWithoutHistoryFailsNamingTheFile) {
  RunSite site;
  prax::WindowChoices w;
  w.creationRule = 1;
  try {
    prax::RunExecute(site.ctx, site.status, w);
    FAIL() << "the run should fail";
  } catch (const prax::Error& e) {
    const std::string text = prax::DescribeError(e);
    EXPECT_NE(text.find("PRAXDATA.MDB"), std::string::npos) << text;
    EXPECT_NE(text.find("Loading"), std::string::npos) << text;
    prax::FailCommand(site.status, e);
    EXPECT_EQ(site.status.Message(), "Status: " + text);
  }
  EXPECT_FALSE(site.status.Running() || site.status.Busy());
  EXPECT_TRUE(site.UpdatedUntouched());
}

TEST(Execute, MultipleNetworksWithUpdateDoesNotMerge) {
  RunSite site;
  site.network.Write("Networks.Lst", "\"F:\\ELSEWHERE\\\",\"A\",\"Sales\"\r\n");
  prax::RunStartup(site.ctx);
  prax::WindowChoices w;
  w.universe = 2;
  w.creationRule = 1;
  w.onlyCreate = true;
  prax::RunExecute(site.ctx, site.status, w);
  EXPECT_EQ(site.status.phases, std::vector<std::string>{"Updating from multiple networks, Start"});
  EXPECT_TRUE(std::filesystem::exists(site.network.Path() / "MASTER.MDB"));
  EXPECT_EQ(site.ctx.UserSlotCount, 2);
}

TEST(Controller, PressDecisionsAndButtonStates) {
  RunSite site;
  prax::MainController c(site.ctx, site.status);
  c.Startup();
  EXPECT_EQ(c.ButtonCaption(), "Execute");
  c.Choices().universe = 1;
  c.Choices().startText = "7";
  c.Choices().endText = "5";
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kShowMessage);
  EXPECT_TRUE(c.ButtonEnabled());

  c.Choices().endText = "9";
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kConfirm);  // create fresh: ask first
  EXPECT_FALSE(c.ButtonEnabled());
  EXPECT_FALSE(c.ConfirmAnswered(false));
  EXPECT_TRUE(c.ButtonEnabled());
  EXPECT_FALSE(site.HasHistory());

  c.Choices().creationRule = 1;
  c.Choices().onlyCreate = true;
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kRun);
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kIgnore);
  EXPECT_FALSE(c.CanClose());  // refused while the command runs: nothing written
  EXPECT_FALSE(prax::fs::Exists(site.ctx.ProgramFile("PXSERVER.SET")));
  const prax::CommandOutcome outcome = c.RunCommand();
  EXPECT_TRUE(outcome.ok);
  c.CommandFinished(outcome);
  EXPECT_TRUE(c.ButtonCaption() == "Close" && c.ButtonEnabled());

  c.Choices().endText = "0";
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kShowMessage);
  c.Choices().endText = "9";
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kClose);
  const auto cwd = std::filesystem::current_path();
  EXPECT_TRUE(c.CanClose());
  std::filesystem::current_path(cwd);
  prax::WindowChoices saved;
  prax::LoadSettings(site.ctx, saved);
  EXPECT_EQ(saved.startText + ".." + saved.endText, "7..9");
}

// A network directory that does not exist is refused at the press, naming it
// and PXNET.INI; startup warnings go to the status line without busy.
TEST(Controller, RefusedNetworkAndStartupWarnings) {
  RunSite site;
  site.SetNetDir("Not Used");
  site.program.Write("KEYS.MAX", "many\r\n");
  prax::MainController c(site.ctx, site.status);
  c.Startup();
  EXPECT_TRUE(site.status.Message().find("KEYS.MAX line 1") != std::string::npos && !site.status.Busy());
  c.Choices().creationRule = 1;
  const prax::PressResult refused = c.ExecutePressed();
  EXPECT_EQ(refused.action, PressAction::kShowMessage);
  EXPECT_NE(refused.message.find("'Not Used' does not exist"), std::string::npos) << refused.message;
  EXPECT_NE(refused.message.find(site.ini.Text() + "PXNET.INI"), std::string::npos) << refused.message;
  EXPECT_TRUE(c.ButtonEnabled());
}

}  // namespace

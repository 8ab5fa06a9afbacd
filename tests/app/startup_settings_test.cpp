#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/execute_command.h"
#include "app/settings.h"
#include "app/startup.h"
#include "platform/fs.h"
#include "site.h"

namespace {

using apptest::Site;

TEST(Startup, NetworkDirectoryFromProfile) {
  struct Case {
    std::string value, expected;
  } cases[] = {
      {"F:\\LOGS\\", "F:\\LOGS\\"},
      {"SYS:LOGS\\", "SYSLOGS\\"},
      {"   G:\\DATA\\   ", "G:\\DATA\\"},
  };
  for (const Case& c : cases) {
    Site site(false);
    site.SetNetDir(c.value);
    prax::RunStartup(site.ctx);
    EXPECT_EQ(site.ctx.NetworkDir, c.expected) << c.value;
  }
  Site noKey(false);
  noKey.ini.Write("PXNET.INI", "[OTHER]\r\nNETDIR=X:\\\r\n");
  const prax::StartupInfo info = prax::RunStartup(noKey.ctx);
  EXPECT_EQ(noKey.ctx.NetworkDir, "Not Used");
  EXPECT_EQ(info.networks, std::vector<std::string>{"Not Used"});
  EXPECT_FALSE(info.multipleNetworks);
}

TEST(Startup, IniPathFirstLineOnlyAndAbsent) {
  Site site;
  site.program.Write("INIPATH.TXT", site.ini.Text() + "\r\nsecond line\r\n");
  prax::RunStartup(site.ctx);
  EXPECT_EQ(site.ctx.IniDir, site.ini.Text());
  EXPECT_EQ(site.ctx.NetworkDir, site.network.Text());

  std::filesystem::remove(site.program.Path() / "INIPATH.TXT");
  prax::RunStartup(site.ctx);
  EXPECT_EQ(site.ctx.IniDir, "");
  if (!prax::fs::Exists(prax::fs::DefaultProfileDir() + "PXNET.INI")) {
    EXPECT_EQ(site.ctx.NetworkDir, "Not Used");
  }
}

TEST(Startup, NetworksList) {
  Site site;
  site.network.Write("Networks.Lst",
                     "\"F:\\NET1\\\",\"A\",\"Sales\"\r\nG:\\NET2\\,B,Works\r\n\"H:\\NET3\\\",\"C\",\"Office\"\r\n");
  prax::StartupInfo info = prax::RunStartup(site.ctx);
  EXPECT_TRUE(info.multipleNetworks);
  EXPECT_EQ(site.ctx.NetworkCount, 3);
  EXPECT_EQ(info.networks, (std::vector<std::string>{"F:\\NET1\\", "G:\\NET2\\", "H:\\NET3\\"}));
  EXPECT_EQ(site.ctx.NetworkPrefixes, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(site.ctx.NetworkNames, (std::vector<std::string>{"Sales", "Works", "Office"}));
  EXPECT_TRUE(info.warnings.empty());

  // A short line is left out and named; start-up run again starts afresh.
  site.network.Write("Networks.Lst", "\"F:\\NET1\\\",\"A\",\"Sales\"\r\n\"G:\\NET2\\\",\"B\"\r\nH:\\N3\\,C,D\r\n");
  info = prax::RunStartup(site.ctx);
  EXPECT_EQ(site.ctx.NetworkCount, 2);
  EXPECT_EQ(info.networks, (std::vector<std::string>{"F:\\NET1\\", "H:\\N3\\"}));
  ASSERT_EQ(info.warnings.size(), 1u);
  EXPECT_EQ(info.warnings[0], "Networks.Lst line 2 has fewer than three fields; that network is left out.");

  std::filesystem::remove(site.network.Path() / "Networks.Lst");
  info = prax::RunStartup(site.ctx);
  EXPECT_FALSE(info.multipleNetworks);
  EXPECT_EQ(site.ctx.NetworkCount, 0);
  EXPECT_EQ(info.networks, std::vector<std::string>{site.network.Text()});
}

TEST(Startup, TuningFilesCaptionAndLogo) {
  Site site;
  prax::StartupInfo info = prax::RunStartup(site.ctx);
  EXPECT_EQ(info.caption, "PraxServer");
  EXPECT_FALSE(info.updateExistingEnabled || site.ctx.AppsNoPresent || info.logoFile);
  EXPECT_EQ(site.ctx.KeysMax, 260);

  site.program.Write("UPDATED.DAT", prax::UpdatedDatBytes("05/12/2026 19:04:45"));
  site.program.Write("APPS.NO", "");
  site.program.Write("KEYS.MAX", "300\r\n");
  site.program.Write("SrvLogo.BMP", "BM");
  info = prax::RunStartup(site.ctx);
  EXPECT_EQ(info.caption, "PraxServer        DB Updated Last: 05/12/2026 19:04:45");
  EXPECT_TRUE(info.updateExistingEnabled && site.ctx.AppsNoPresent);
  EXPECT_EQ(site.ctx.KeysMax, 300);
  ASSERT_TRUE(info.logoFile);
  EXPECT_TRUE(std::filesystem::exists(*info.logoFile));

  for (const char* bad : {"abc\r\n", "99999\r\n", ""}) {
    site.program.Write("KEYS.MAX", bad);
    info = prax::RunStartup(site.ctx);
    EXPECT_EQ(site.ctx.KeysMax, 260) << bad;
    ASSERT_EQ(info.warnings.size(), 1u) << bad;
    EXPECT_NE(info.warnings[0].find("KEYS.MAX"), std::string::npos);
  }
}

TEST(Settings, SaveWritesFiveLinesAndLoadRestores) {
  Site site;
  prax::WindowChoices saved;
  saved.universe = 1;
  saved.startText = "1";
  saved.endText = "250";
  saved.creationRule = 0;
  saved.masterState = 1;
  saved.onlyCreate = true;
  prax::SaveSettings(site.ctx, saved);
  EXPECT_EQ(site.ProgramFileText("PXSERVER.SET"), "2\r\n1\r\n\"1\",\"250\"\r\n1\r\n1\r\n");

  prax::WindowChoices loaded;
  prax::LoadSettings(site.ctx, loaded);  // update existing, whatever was selected
  EXPECT_EQ(std::tie(loaded.universe, loaded.startText, loaded.endText, loaded.creationRule, loaded.masterState),
            std::make_tuple(1, std::string("1"), std::string("250"), 1, 1));

  prax::WindowChoices empty;
  empty.masterState = 2;
  prax::SaveSettings(site.ctx, empty);
  EXPECT_EQ(site.ProgramFileText("PXSERVER.SET"), "2\r\n0\r\n\"\",\"\"\r\n1\r\n2\r\n");
  prax::LoadSettings(site.ctx, saved);
  EXPECT_EQ(saved.startText + saved.endText, "");
  EXPECT_EQ(saved.masterState, 2);
}

TEST(Settings, OtherFormatsAndDamagedFiles) {
  struct Case {
    const char* bytes;
    int universe, rule, master;
    const char* start;
  } cases[] = {
      {"1\r\n1\r\n\"5\",\"6\"\r\n1\r\n1\r\n", 0, 0, 0, ""},  // another format: nothing taken
      {"2\r\n7\r\n\"5\",\"6\"\r\n1\r\n1\r\n", 0, 1, 1, "5"},  // damaged universe: full universe
      {"2\r\n2\r\n\"5\",\"6\"\r\n-1\r\n9\r\n", 2, 0, 0, "5"},  // damaged rule and check box
      {"2\r\n1\r\n", 1, 0, 0, ""},                          // ends early: what was read stays
  };
  for (const Case& c : cases) {
    Site site;
    site.program.Write("PXSERVER.SET", c.bytes);
    prax::WindowChoices choices;
    prax::LoadSettings(site.ctx, choices);
    EXPECT_EQ(choices.universe, c.universe) << c.bytes;
    EXPECT_EQ(choices.creationRule, c.rule) << c.bytes;
    EXPECT_EQ(choices.masterState, c.master) << c.bytes;
    EXPECT_EQ(choices.startText, c.start) << c.bytes;
  }
}

TEST(Settings, CloseWorkRefusedWhileRunningOtherwiseWritesBoth) {
  const auto cwd = std::filesystem::current_path();
  Site site;
  prax::WindowChoices choices;
  EXPECT_FALSE(prax::CloseWork(site.ctx, choices, /*commandRunning=*/true));
  EXPECT_FALSE(prax::fs::Exists(site.ctx.ProgramFile("PXSERVER.SET")));
  EXPECT_FALSE(prax::fs::Exists(site.ctx.ProgramFile("Restore.KTR")));

  EXPECT_TRUE(prax::CloseWork(site.ctx, choices, /*commandRunning=*/false));
  EXPECT_TRUE(prax::fs::Exists(site.ctx.ProgramFile("PXSERVER.SET")));
  EXPECT_EQ(site.ProgramFileText("Restore.KTR"), "\r\n");
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(site.program.Path()));
  std::filesystem::current_path(cwd);

  // A program folder that cannot be written still closes.
  site.ctx.ProgramDir = site.program.Text() + "missing/folder";
  EXPECT_TRUE(prax::CloseWork(site.ctx, choices, false));
}

}  // namespace

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
  for (const auto& [value, expected] : {std::pair{"F:\\LOGS\\", "F:\\LOGS\\"}, {"SYS:LOGS\\", "SYSLOGS\\"},
                                        {"   G:\\DATA\\   ", "G:\\DATA\\"}}) {
    Site site(false);
    site.SetNetDir(value);
    prax::RunStartup(site.ctx);
    EXPECT_EQ(site.ctx.NetworkDir, expected) << value;
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

// Quoted or plain fields; a short line is left out and named; without the
// list start-up run again falls back to the one network directory.
TEST(Startup, NetworksList) {
  Site site;
  site.network.Write("Networks.Lst",
                     "\"F:\\NET1\\\",\"A\",\"Sales\"\r\nG:\\NET2\\,B,Works\r\n\"H:\\N3\\\",\"C\"\r\n\"I:\\N4\\\",\"D\",\"Office\"\r\n");
  prax::StartupInfo info = prax::RunStartup(site.ctx);
  EXPECT_TRUE(info.multipleNetworks);
  EXPECT_EQ(site.ctx.NetworkCount, 3);
  EXPECT_EQ(info.networks, (std::vector<std::string>{"F:\\NET1\\", "G:\\NET2\\", "I:\\N4\\"}));
  EXPECT_EQ(site.ctx.NetworkPrefixes, (std::vector<std::string>{"A", "B", "D"}));
  EXPECT_EQ(site.ctx.NetworkNames, (std::vector<std::string>{"Sales", "Works", "Office"}));
  EXPECT_EQ(info.warnings, std::vector<std::string>{"Networks.Lst line 3 has fewer than three fields; that network is left out."});

  std::filesystem::remove(site.network.Path() / "Networks.Lst");
  info = prax::RunStartup(site.ctx);
  EXPECT_FALSE(info.multipleNetworks || site.ctx.NetworkCount);
  EXPECT_EQ(info.networks, std::vector<std::string>{site.network.Text()});
}

// Without the optional files: the plain caption, no logo, 260 keys; with them
// the caption carries UPDATED.DAT. A bad KEYS.MAX keeps 260 and is named.
TEST(Startup, TuningFilesCaptionAndLogo) {
  Site site;
  prax::StartupInfo info = prax::RunStartup(site.ctx);
  EXPECT_EQ(info.caption, "PraxServer");
  EXPECT_FALSE(info.updateExistingEnabled || site.ctx.AppsNoPresent || info.logoFile || site.ctx.KeysMax != 260);
  for (const auto& [file, bytes] : {std::pair{"UPDATED.DAT", prax::UpdatedDatBytes("05/12/2026 19:04:45")},
                                    {"APPS.NO", ""}, {"KEYS.MAX", "300\r\n"}, {"SrvLogo.BMP", "BM"}})
    site.program.Write(file, bytes);
  info = prax::RunStartup(site.ctx);
  EXPECT_EQ(info.caption, "PraxServer        DB Updated Last: 05/12/2026 19:04:45");
  EXPECT_TRUE(info.updateExistingEnabled && site.ctx.AppsNoPresent && site.ctx.KeysMax == 300);
  EXPECT_TRUE(info.logoFile && std::filesystem::exists(*info.logoFile));
  for (const char* bad : {"abc\r\n", "99999\r\n", ""}) {
    site.program.Write("KEYS.MAX", bad);
    info = prax::RunStartup(site.ctx);
    EXPECT_EQ(site.ctx.KeysMax, 260) << bad;
    EXPECT_TRUE(info.warnings.size() == 1 && info.warnings[0].find("KEYS.MAX") != std::string::npos) << bad;
  }
}

// Five CR LF lines; the creation rule is always saved as "update existing".
TEST(Settings, SaveWritesFiveLines) {
  Site site;
  prax::WindowChoices saved;
  saved.universe = 1;
  saved.startText = "1";
  saved.endText = "250";
  saved.masterState = 1;
  saved.onlyCreate = true;
  prax::SaveSettings(site.ctx, saved);
  EXPECT_EQ(site.ProgramFileText("PXSERVER.SET"), "2\r\n1\r\n\"1\",\"250\"\r\n1\r\n1\r\n");
  prax::WindowChoices empty;
  empty.masterState = 2;
  prax::SaveSettings(site.ctx, empty);
  EXPECT_EQ(site.ProgramFileText("PXSERVER.SET"), "2\r\n0\r\n\"\",\"\"\r\n1\r\n2\r\n");
}

TEST(Settings, LoadOurFilesOtherFormatsAndDamagedFiles) {
  const struct {
    const char* bytes;
    int universe, rule, master;
    const char *start, *end;
  } cases[] = {
      {"2\r\n1\r\n\"1\",\"250\"\r\n1\r\n1\r\n", 1, 1, 1, "1", "250"},  // as saved above
      {"2\r\n0\r\n\"\",\"\"\r\n1\r\n2\r\n", 0, 1, 2, "", ""},
      {"1\r\n1\r\n\"5\",\"6\"\r\n1\r\n1\r\n", 0, 0, 0, "x", "y"},  // another format: nothing taken
      {"2\r\n7\r\n\"5\",\"6\"\r\n1\r\n1\r\n", 0, 1, 1, "5", "6"},  // damaged universe: full universe
      {"2\r\n2\r\n\"5\",\"6\"\r\n-1\r\n9\r\n", 2, 0, 0, "5", "6"},  // damaged rule and check box
      {"2\r\n1\r\n", 1, 0, 0, "x", "y"},                         // ends early: what was read stays
  };
  for (const auto& c : cases) {
    Site site;
    site.program.Write("PXSERVER.SET", c.bytes);
    prax::WindowChoices w;
    w.startText.push_back('x');
    w.endText.push_back('y');
    prax::LoadSettings(site.ctx, w);
    EXPECT_EQ(std::tie(w.universe, w.creationRule, w.masterState, w.startText, w.endText),
              std::make_tuple(c.universe, c.rule, c.master, std::string(c.start), std::string(c.end)))
        << c.bytes;
  }
}

TEST(Settings, CloseWorkRefusedWhileRunningOtherwiseWritesBoth) {
  const auto cwd = std::filesystem::current_path();
  Site site;
  prax::WindowChoices choices;
  EXPECT_FALSE(prax::CloseWork(site.ctx, choices, /*commandRunning=*/true));
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

#include <gtest/gtest.h>

#include <tuple>

#include "app/dry_run.h"
#include "app/execute_command.h"
#include "app/main_controller.h"
#include "app/program_folder.h"
#include "app/settings.h"
#include "app/startup.h"
#include "site.h"
#include "support/programs.h"
#include "support/raised.h"
#include "support/roster.h"

namespace {

namespace stdfs = std::filesystem;
using apptest::Site;
using prax::PressAction;

// Choices without a range: the universe, creation rule, Master import state (as PXSERVER.SET numbers them) and
// only-create.
prax::WindowChoices NoRange(int universe, int rule, int master = 0, bool onlyCreate = false) {
  return {static_cast<prax::Universe>(universe), "", "", static_cast<prax::CreationRule>(rule),
          static_cast<prax::MasterImport>(master), onlyCreate};
}

TEST(Execute, RangeMessages) {
  const std::string start = "a starting record number of less than 1", end = "an ending record number of less than 1",
                    order = "a starting record number greater than the ending";
  // The message a range gives (empty: none).
  const struct { int universe; const char *start, *end; std::string message; } cases[] = {
      {1, "0", "5", start}, {1, "5", "0", end},     {1, "7", "5", order}, {1, "abc", "5", start},
      {1, "5", "5", ""},    {1, " 1 2", "15x", ""}, {0, "abc", "", ""},   {2, "9", "1", ""},
      {1, "1", "32767", ""},    {1, "5", "40000", "greater than 32767"},
      {1, "0", "40000", start}, {1, "50000", "40000", order},  // the start before the limit
  };
  for (const auto& c : cases) {
    const prax::WindowChoices w{.universe = static_cast<prax::Universe>(c.universe), .startText = c.start, .endText = c.end};
    const std::optional<std::string> said = prax::RangeMessage(w);
    EXPECT_EQ(said.has_value(), !c.message.empty()) << c.start << ".." << c.end;
    EXPECT_NE(said.value_or("").find(c.message), std::string::npos) << c.start << ".." << c.end;
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
  bool HasHistory() const { return stdfs::exists(network.Path() / "PRAXDATA.MDB"); }
  bool UpdatedUntouched() const {
    return ProgramFileText("UPDATED.DAT") == "\"old\"\r\n" && !stdfs::exists(network.Path() / "UPDATED.DAT");
  }
};

// Only Create: with "update existing" nothing is made (from multiple networks nothing is merged either), with
// "create fresh" only PRAXDATA.MDB; UPDATED.DAT and MASTER.MDB, even a foreign one, are left alone.
TEST(Execute, OnlyCreateModes) {
  const std::tuple<int, int, std::vector<std::string>> cases[] = {
      {0, 1, {}}, {0, 0, {"Creating, Start"}}, {2, 1, {"Updating from multiple networks, Start"}}};
  for (const auto& [universe, rule, phases] : cases) {
    RunSite site;
    site.network.Write("MASTER.MDB", "another program's file");
    if (universe == 2) site.network.Write("Networks.Lst", "\"F:\\ELSEWHERE\\\",\"A\",\"Sales\"\r\n");
    prax::RunStartup(site.ctx);
    EXPECT_TRUE(prax::RunExecute(site.ctx, site.status, NoRange(universe, rule, 0, true)).onlyCreated);
    EXPECT_EQ(site.HasHistory(), rule == 0);
    EXPECT_EQ(site.status.phases, phases);
    EXPECT_EQ(site.status.Message(), "Status: Database Created.");
    EXPECT_EQ(site.status.UserCaption() + std::to_string(site.status.FileBar()), " 100% 100");
    EXPECT_FALSE(site.status.Running() || site.status.Busy() || site.status.Said("Status: Altering Master database."));
    EXPECT_TRUE(site.UpdatedUntouched());
    EXPECT_EQ(prax::fs::ReadFile(site.ctx.NetworkDir + "MASTER.MDB"), "another program's file");
  }
}

// A merge whose last user's roster row is refused (its Last_Name too long) still fills that user's directory:
// the load covers every user the merge numbered.
TEST(Execute, LoadAfterAMergeCoversEveryMergedUser) {
  RunSite site;
  const praxtest::TempDir source;
  praxtest::MakeRoster(source.Path() / "MASTER.MDB", {{"U1", "Smith", "", "", praxtest::SlotDir(1)},
                                                      {"U2", "Jones", "", "", praxtest::SlotDir(2)}});
  praxtest::Sqlite3(source.Path() / "MASTER.MDB", "PRAGMA ignore_check_constraints = 1; UPDATE Users SET Last_Name = '" +
                                                    std::string(35, 'L') + "' WHERE User_Id = 'U2';");
  site.network.Write("Networks.Lst", "\"" + source.Text() + "\",\"A\",\"Sales\"\r\n");
  prax::RunStartup(site.ctx);
  const prax::ExecuteResult r = prax::RunExecute(site.ctx, site.status, NoRange(2, 0));
  EXPECT_EQ(praxtest::Query(site.network.Path() / "MASTER.MDB", "SELECT count(*) FROM Users"), std::vector<std::string>{"1"});
  EXPECT_TRUE(stdfs::is_directory(site.network.Path() / praxtest::SlotDir(2)));
  EXPECT_EQ(r.summary.usersProcessed, 2);
}

TEST(Execute, FullRunWritesUpdatedDatInBothPlaces) {
  RunSite site;
  const prax::ExecuteResult r = prax::RunExecute(site.ctx, site.status, prax::WindowChoices{});  // full universe, create fresh
  EXPECT_TRUE(!r.onlyCreated && r.summary.usersProcessed == 2 && site.HasHistory());
  const prax::RunSummary& run = site.status.Summary();
  EXPECT_TRUE(run.engine == "sqlite" && run.database == prax::fs::ForDisplay(site.network.Text() + "PRAXDATA.MDB"));
  EXPECT_TRUE(run.started.size() == 19 && run.started[10] == 'T' && run.ended >= run.started) << run.started;
  EXPECT_TRUE(site.status.Said("Status: Altering Master database."));
  EXPECT_FALSE(site.status.Said("Status: Updating Master database.") || site.status.Busy());
  EXPECT_EQ(site.status.Message(), "Status: Database Updated.");
  EXPECT_EQ(prax::UpdatedDatBytes("05/12/2026 19:04:45"), "\"        DB Updated Last: 05/12/2026 19:04:45\"\r\n");
  for (const std::string& file : {site.ctx.NetworkDir + "UPDATED.DAT", site.ctx.ProgramFile("UPDATED.DAT")})
    EXPECT_TRUE(prax::fs::ReadFile(file).starts_with("\"        DB Updated Last: ")) << file;
}

TEST(Execute, FailuresNameTheFileAndKeepTheirCause) {
  RunSite site;
  const prax::Error e = praxtest::Raised([&] { prax::RunExecute(site.ctx, site.status, NoRange(0, 1)); });
  const std::string text = prax::DescribeError(e);
  EXPECT_TRUE(e.Kind() != prax::err::kNone && text.find("PRAXDATA.MDB") != std::string::npos) << text;
  prax::FailCommand(site.status, e);
  EXPECT_EQ(site.status.Message(), "Status: " + text);
  EXPECT_FALSE(site.status.Running() || site.status.Busy());
  EXPECT_TRUE(site.UpdatedUntouched());

  // The roster's Users table damaged: the advice that follows the failure
  // leaves it the machine's, which no tolerant step passes over.
  const std::string master = site.ctx.NetworkDir + "MASTER.MDB";
  const int page = std::stoi(praxtest::Query(master, "SELECT rootpage FROM sqlite_master WHERE name = 'Users'")[0]);
  std::string bytes = prax::fs::ReadFile(master);
  std::fill(bytes.begin() + (page - 1) * 4096, bytes.begin() + page * 4096, '\xff');
  prax::fs::WriteFile(master, bytes);
  const prax::Error damaged = praxtest::Raised([&] { prax::RunExecute(site.ctx, site.status, NoRange(0, 1)); });
  EXPECT_TRUE(damaged.Kind() == prax::err::kUnrecognizedFormat && damaged.Environment()) << damaged.what();
}

TEST(DryRun, RefusalsAndFailedChecksGiveTheRunsVerdictAndTouchNothing) {
  using V = prax::DryRunVerdict;
  const struct { const char* name; std::string profileMore, record, range; V verdict; std::string line; } cases[] = {
      {"no roster, no History file", "", "", "", V::kFailed, "PRAXDATA.MDB': not found; it would be created"},
      {"History of another engine", "[HISTORY]\r\nENGINE=oracle\r\n", "", "", V::kRefused,
       praxtest::kWindows ? "has no server engine" : "names the engine"},
      {"range upside down", "", "", "7", V::kRefused, "Range: refused"},
      {"lock record with a heartbeat", "", "host far, process 1\nmachine far\nprocess 1\n", "", V::kRefused,
       "Lock: refused. Another PraxServer command is running"},
  };
  for (const auto& c : cases) {
    Site site;
    site.ini.Write("PXNET.INI", "[MAIN]\r\nNETDIR=" + site.network.Text() + "\r\n" + c.profileMore);
    if (!c.record.empty()) site.network.Write("PRAXSERVER.RUN", c.record);
    prax::RunStartup(site.ctx);
    const prax::WindowChoices choices{.universe = c.range.empty() ? prax::Universe::kFull : prax::Universe::kRange,
                                      .startText = c.range, .endText = "5"};
    std::string said;
    const prax::DryRunResult r = prax::DryRun(site.ctx, choices, site.status, [&](const std::string& l) { said += l + "\n"; });
    EXPECT_EQ(r.verdict, c.verdict) << c.name << "\n" << said;
    EXPECT_TRUE(praxtest::Has(said, c.line)) << c.name << "\n" << said;
    EXPECT_EQ(std::distance(stdfs::directory_iterator(site.network.Path()), {}), c.record.empty() ? 0 : 1) << c.name;
  }
}

TEST(Controller, PressDecisionsAndButtonStates) {
  RunSite site;
  prax::MainController c(site.ctx, site.status);
  c.Startup();
  EXPECT_EQ(c.ButtonCaption(), "Execute");
  c.Choices() = {.universe = prax::Universe::kRange, .startText = "7", .endText = "5"};
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kShowMessage);
  EXPECT_TRUE(c.ButtonEnabled());

  c.Choices().endText = "9";
  EXPECT_EQ(c.ExecutePressed().action, PressAction::kConfirm);  // create fresh: ask first
  EXPECT_FALSE(c.ButtonEnabled());
  EXPECT_FALSE(c.ConfirmAnswered(false));
  EXPECT_TRUE(c.ButtonEnabled());
  EXPECT_FALSE(site.HasHistory());

  c.Choices().creationRule = prax::CreationRule::kUpdateExisting;
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
  const auto cwd = stdfs::current_path();
  EXPECT_TRUE(c.CanClose());
  stdfs::current_path(cwd);
  EXPECT_NE(site.ProgramFileText("PXSERVER.SET").find("\"7\",\"9\""), std::string::npos);
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
  c.Choices().creationRule = prax::CreationRule::kUpdateExisting;
  const prax::PressResult refused = c.ExecutePressed();
  EXPECT_EQ(refused.action, PressAction::kShowMessage);
  EXPECT_NE(refused.message.find("'Not Used' does not exist"), std::string::npos) << refused.message;
  EXPECT_NE(refused.message.find(praxtest::Shown(site.ini.Path() / "PXNET.INI")), std::string::npos) << refused.message;
  EXPECT_TRUE(c.ButtonEnabled());
  // The press reads the History section of the same file.
  site.ini.Write("PXNET.INI", "[MAIN]\r\nNETDIR=" + site.network.Text() + "\r\n[HISTORY]\r\nENGINE=postgresql\r\n");
  const prax::PressResult noServer = c.ExecutePressed();
  EXPECT_EQ(noServer.action, PressAction::kShowMessage);
  EXPECT_NE(noServer.message.find(praxtest::kServerEngine ? "no CONNECT" : "no server engine"), std::string::npos)
      << noServer.message;
}

// The first line of INIPATH.TXT names the profile folder; NETDIR of PXNET.INI's [MAIN] names the network, cleaned as
// the profile reader cleans every value.
TEST(Startup, NetworkDirectoryFromIniPathAndProfile) {
  {
    Site site(false);
    site.program.Write("INIPATH.TXT", site.ini.Text() + "\r\nsecond line\r\n");
    site.ini.Write("PXNET.INI", "[MAIN]\r\nNETDIR=SYS:LOGS\\\r\n");
    prax::RunStartup(site.ctx);
    EXPECT_EQ(site.ctx.IniDir, site.ini.Text());
    EXPECT_EQ(site.ctx.NetworkDir, "SYSLOGS\\");
  }
  Site site;
  stdfs::remove(site.program.Path() / "INIPATH.TXT");
  site.ctx.ProfileDir = site.ini.Text();  // an installed program's etc/praxilo/
  site.ini.Write("PXNET.INI", "[MAIN]\r\nNETDIR=H:\\NET\\\r\n");
  prax::RunStartup(site.ctx);
  EXPECT_EQ(site.ctx.IniDir, "");
  EXPECT_EQ(site.ctx.NetworkDir, "H:\\NET\\");
}

// Installed in <root>/usr/bin or <root>/usr/local/bin, a program keeps its state in <root>/var/lib/praxserver and
// reads PXNET.INI from <root>/etc/praxilo/; from any other folder it keeps its files there; --program-dir wins.
TEST(Startup, ProgramFoldersOfInstalledAndBuiltPrograms) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows program keeps its files in its own folder";
#endif
  const struct { const char *exe, *option, *program, *profile; } cases[] = {
      {"/usr/bin", "", "/var/lib/praxserver", "/etc/praxilo/"},
      {"/usr/local/bin/", "", "/var/lib/praxserver", "/etc/praxilo/"},
      {"/tmp/r/usr/bin", "", "/tmp/r/var/lib/praxserver", "/tmp/r/etc/praxilo/"},
      {"/tmp/r/usr/bin", "/srv/prog/", "/srv/prog", "/tmp/r/etc/praxilo/"},
      {"/home/a/clone/build", "", "/home/a/clone/build", "/etc/praxilo/"},
      {"/opt/usr/sbin", "", "/opt/usr/sbin", "/etc/praxilo/"},
  };
  for (const auto& c : cases) {
    const prax::ProgramFolders folders = prax::LocateProgramFolders(c.exe, c.option);
    EXPECT_EQ(folders.programDir, c.program) << c.exe;
    EXPECT_EQ(folders.profileDir, c.profile) << c.exe;
  }
  const auto missing = prax::ProgramFolderProblem(prax::LocateProgramFolders("/nowhere/usr/bin"), false);
  EXPECT_TRUE(missing && missing->starts_with("The program folder '/nowhere/var/lib/praxserver', where an installed"));
}

// TIMEOUT of [HISTORY] holds whole seconds in range; anything else refuses
// the section, naming PXNET.INI and what to write.
TEST(Startup, HistoryTimeoutFromProfile) {
  if (!praxtest::kServerEngine) GTEST_SKIP() << "this build has no server engine: it refuses the section whatever it holds";
  const std::pair<const char*, int> cases[] = {{"", 0},     {"5", 5},     {" 1800 ", 1800}, {"0", -1},
                                               {"1801", -1}, {"5s", -1}, {"-3", -1},       {"99999", -1}};
  for (const auto& [value, seconds] : cases) {
    SCOPED_TRACE(value);
    Site site;
    site.ctx.IniDir = site.ini.Text();
    site.ini.Write("PXNET.INI", "[HISTORY]\r\nENGINE=postgresql\r\nCONNECT=dbname=x\r\nTIMEOUT=" + std::string(value));
    const prax::HistoryConfig config = prax::ReadHistoryConfig(site.ctx);
    EXPECT_EQ(config.timeout, std::max(seconds, 0));
    EXPECT_EQ(config.server.empty(), seconds < 0);
    const std::string problem = config.problem.value_or("");
    EXPECT_EQ(problem.find("PXNET.INI") != std::string::npos && problem.find("TIMEOUT=<seconds>") != std::string::npos,
              seconds < 0) << problem;
  }
}

// Quoted or plain fields; a short line is left out and named; without the
// list start-up run again falls back to the one network directory.
TEST(Startup, NetworksList) {
  Site site;
  site.network.Write("Networks.Lst",
                     "\"F:\\NET1\\\",\"A\",\"Sales\"\r\nG:\\NET2\\,B,Works\r\n\"H:\\N3\\\",\"C\"\r\n\"I:\\N4\\\",\"D\",\"Office\"\r\n");
  prax::StartupInfo info = prax::RunStartup(site.ctx);
  EXPECT_TRUE(info.multipleNetworks && site.ctx.NetworkCount == 3) << site.ctx.NetworkCount;
  EXPECT_EQ(info.networks, (std::vector<std::string>{"F:\\NET1\\", "G:\\NET2\\", "I:\\N4\\"}));
  EXPECT_EQ(site.ctx.NetworkPrefixes, (std::vector<std::string>{"A", "B", "D"}));
  EXPECT_EQ(site.ctx.NetworkNames, (std::vector<std::string>{"Sales", "Works", "Office"}));
  EXPECT_EQ(info.warnings, std::vector<std::string>{"Networks.Lst line 3 has fewer than three fields; that network is left out."});

  stdfs::remove(site.network.Path() / "Networks.Lst");
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
  EXPECT_TRUE(info.logoFile && stdfs::exists(*info.logoFile));
  for (const char* bad : {"abc\r\n", "99999\r\n", ""}) {
    site.program.Write("KEYS.MAX", bad);
    info = prax::RunStartup(site.ctx);
    EXPECT_EQ(site.ctx.KeysMax, 260) << bad;
    EXPECT_TRUE(info.warnings.size() == 1 && info.warnings[0].find("KEYS.MAX") != std::string::npos) << bad;
  }
}

// Our own files load and save back as they were (the creation rule always as "update existing", only-create
// never); another format changes nothing, and a damaged item falls back alone.
TEST(Settings, LoadAndSaveOurFilesOtherFormatsAndDamagedFiles) {
  const struct { const char* bytes; int universe, rule, master; const char *start, *end; bool ours = false; } cases[] = {
      {"2\r\n1\r\n\"1\",\"250\"\r\n1\r\n1\r\n", 1, 1, 1, "1", "250", true},
      {"2\r\n0\r\n\"\",\"\"\r\n1\r\n2\r\n", 0, 1, 2, "", "", true},
      {"1\r\n1\r\n\"5\",\"6\"\r\n1\r\n1\r\n", 0, 0, 0, "x", "y"},  // another format: nothing taken
      {"2\r\n7\r\n\"5\",\"6\"\r\n1\r\n1\r\n", 0, 1, 1, "5", "6"},  // damaged universe: full universe
      {"2\r\n2\r\n\"5\",\"6\"\r\n-1\r\n9\r\n", 2, 0, 0, "5", "6"},  // damaged rule and check box
      {"2\r\n1\r\n", 1, 0, 0, "x", "y"},                         // ends early: what was read stays
  };
  for (const auto& c : cases) {
    Site site;
    site.program.Write("PXSERVER.SET", c.bytes);
    prax::WindowChoices w{.startText = "x", .endText = "y"};
    prax::LoadSettings(site.ctx, w);
    EXPECT_EQ(std::make_tuple(static_cast<int>(w.universe), static_cast<int>(w.creationRule),
                              static_cast<int>(w.masterImport), w.startText, w.endText),
              std::make_tuple(c.universe, c.rule, c.master, std::string(c.start), std::string(c.end)))
        << c.bytes;
    if (!c.ours) continue;
    w.creationRule = prax::CreationRule::kCreateFresh;
    w.onlyCreate = true;
    prax::SaveSettings(site.ctx, w);
    EXPECT_EQ(site.ProgramFileText("PXSERVER.SET"), c.bytes);
  }
}

TEST(Settings, CloseWorkWritesBoth) {
  const auto cwd = stdfs::current_path();
  Site site;
  EXPECT_TRUE(prax::CloseWork(site.ctx, {}, /*commandRunning=*/false));
  EXPECT_TRUE(prax::fs::Exists(site.ctx.ProgramFile("PXSERVER.SET")));
  EXPECT_EQ(site.ProgramFileText("Restore.KTR"), "\r\n");
  EXPECT_EQ(stdfs::current_path(), stdfs::canonical(site.program.Path()));
  stdfs::current_path(cwd);

  // A link or a second name in their place is not written through, and the window still closes.
  const stdfs::path outside = site.program.Path() / "outside.txt";
  site.program.Write("outside.txt", "keep");
  stdfs::remove(site.program.Path() / "PXSERVER.SET");
  stdfs::remove(site.program.Path() / "Restore.KTR");
  if (!praxtest::kWindows) stdfs::create_symlink(outside, site.program.Path() / "PXSERVER.SET");  // none in Wine 8
  stdfs::create_hard_link(outside, site.program.Path() / "Restore.KTR");
  EXPECT_TRUE(prax::CloseWork(site.ctx, {}, false));
  EXPECT_EQ(site.ProgramFileText("outside.txt"), "keep");
  stdfs::current_path(cwd);

  // A program folder that cannot be written still closes.
  site.ctx.ProgramDir = site.program.Text() + "missing/folder";
  EXPECT_TRUE(prax::CloseWork(site.ctx, {}, false));
}

}  // namespace

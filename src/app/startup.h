#pragma once
// Start-up: finding the network directory through INIPATH.TXT and PXNET.INI,
// reading Networks.Lst and the tuning files of the program folder, and what
// the window shows as a result. Used by the window and the headless runner.

#include <optional>
#include <string>
#include <vector>

#include "command/run_context.h"

namespace prax {

// What start-up found that the window shows.
struct StartupInfo {
  // Window caption: "PraxServer", followed by the text of UPDATED.DAT when the
  // program folder holds one ("PraxServer        DB Updated Last: ...").
  std::string caption = "PraxServer";
  // Entries of the network list, in order; the first is selected. The paths of
  // Networks.Lst, or NetworkDir alone when that file is absent.
  std::vector<std::string> networks;
  // Networks.Lst exists: the multiple-networks universe, the network list and
  // its create-only choice are enabled.
  bool multipleNetworks = false;
  // UPDATED.DAT exists in the program folder: updating the current database is enabled.
  bool updateExistingEnabled = false;
  // Real path of SrvLogo.BMP when the program folder holds one (not hidden).
  std::optional<std::string> logoFile;
  // Problems found in the optional files, each naming the file (and line);
  // the window shows them on the status line. Defaults were used instead.
  std::vector<std::string> warnings;
};

// The first line of the program folder's INIPATH.TXT (normal files only),
// whole and untrimmed; empty when the file is absent or empty.
std::string ReadIniDir(const RunContext& ctx);

// The network directory: NETDIR of section MAIN of IniDir & "PXNET.INI"
// (default "Not Used") read into a 255-character NUL buffer and cleaned by
// TrimIniValue. With an empty IniDir, PXNET.INI is looked for in
// ctx.ProfileDir.
std::string ReadNetworkDir(const RunContext& ctx);

// Where the History database lives, from section HISTORY of the same
// PXNET.INI: with ENGINE=postgresql (any letter case), the libpq connection
// string of CONNECT; empty (the file PRAXDATA.MDB) without the section or
// an ENGINE; with it, TIMEOUT's seconds (0 without TIMEOUT: the store's
// default). `problem` names PXNET.INI and says what to correct when the
// section cannot be used: another engine, no CONNECT, a CONNECT without
// ENGINE, a connection string libpq cannot read or one that holds a
// password, a TIMEOUT that is not a whole number of seconds in range.
struct HistoryConfig {
  std::string server;
  int timeout = 0;
  std::optional<std::string> problem;
};
HistoryConfig ReadHistoryConfig(const RunContext& ctx);
// ReadHistoryConfig when it has no problem; throws its problem as an Error.
HistoryConfig ReadUsableHistoryConfig(const RunContext& ctx);
// ReadUsableHistoryConfig's server.
std::string ReadHistoryServer(const RunContext& ctx);

// The start-up sequence except the logo placement and the saved settings
// (which the window does): sets ctx.IniDir, NetworkDir, NetworkCount and the
// network lists, AppsNoPresent and KeysMax, and returns what the window
// shows. Never throws: a file that cannot be used is reported in warnings
// and its default stands. Networks.Lst lines with fewer than three fields are
// left out; a KEYS.MAX that does not hold a 16-bit number leaves KeysMax 260.
StartupInfo RunStartup(RunContext& ctx);

// The test and tuning settings of the environment, read once by each program
// at its start: PRAX_PARSE_AHEAD=0, PRAX_JOURNAL=wal|delete and
// PRAX_LOCK_STALE_SECONDS (1 to 86400); anything else leaves the default.
void ReadEnvironmentSettings(RunContext& ctx);

}  // namespace prax

#include "app/startup.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/listio.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/numbers.h"
#include "store/pg_connection.h"

namespace prax {

namespace {

// Reads a whole file, or nullopt when it cannot be read.
std::optional<std::string> TryReadFile(std::string_view pathText) {
  try {
    return fs::ReadFile(pathText);
  } catch (const Error&) {
    return std::nullopt;
  }
}

// Whether a list item holds a number: after blanks, an optional sign and a
// digit, or a full stop and a digit. num::LeadingNumber reads anything else as 0.
bool LooksNumeric(std::string_view item) {
  std::size_t i = 0;
  while (i < item.size() && (item[i] == ' ' || item[i] == '\t')) ++i;
  if (i < item.size() && (item[i] == '+' || item[i] == '-')) ++i;
  if (i < item.size() && item[i] == '.') ++i;
  return i < item.size() && std::isdigit(static_cast<unsigned char>(item[i]));
}

void ReadNetworksList(RunContext& ctx, StartupInfo& info) {
  const std::string listFile = ctx.NetworkDir + "Networks.Lst";
  if (!fs::Exists(listFile, /*includeHidden=*/true)) return;
  std::optional<std::string> bytes;
  try {
    bytes = fs::ReadFile(listFile);
  } catch (const Error& e) {
    info.warnings.push_back(std::string(e.what()) + " Networks.Lst cannot be read; multiple networks are not "
                                                    "available.");
    return;
  }
  info.multipleNetworks = true;
  ListReader reader(*bytes);
  for (int lineNo = 1; !reader.AtEnd(); ++lineNo) {
    const std::vector<std::string> fields = SplitListLine(reader.ReadLine());
    if (fields.size() < 3) {
      info.warnings.push_back("Networks.Lst line " + std::to_string(lineNo) +
                              " has fewer than three fields; that network is left out.");
      continue;
    }
    if (ctx.NetworkCount == INT16_MAX) {
      info.warnings.push_back("Networks.Lst holds more than 32767 networks; the rest are left out.");
      break;
    }
    ++ctx.NetworkCount;
    ctx.NetworkPaths.push_back(fields[0]);
    ctx.NetworkPrefixes.push_back(fields[1]);
    ctx.NetworkNames.push_back(fields[2]);
    info.networks.push_back(fields[0]);
  }
}

void ReadKeysMax(RunContext& ctx, StartupInfo& info) {
  ctx.KeysMax = 260;
  const std::string file = ctx.ProgramFile("KEYS.MAX");
  if (!fs::Exists(file, /*includeHidden=*/false)) return;
  const auto bytes = TryReadFile(file);
  std::string item;
  bool ok = false;
  if (bytes) {
    ListReader reader(*bytes);
    if (!reader.AtEnd()) {
      item = reader.ReadItem();
      if (LooksNumeric(item)) {
        ok = TryStep([&] { ctx.KeysMax = num::RoundToInt16(num::LeadingNumber(item)); });
      }
    }
  }
  if (!ok) {
    info.warnings.push_back("KEYS.MAX line 1 does not hold a number from -32768 to 32767 (\"" + item +
                            "\"); the key limit 260 is used.");
  }
}

void ReadUpdatedDat(const RunContext& ctx, StartupInfo& info) {
  const std::string file = ctx.ProgramFile("UPDATED.DAT");
  if (!fs::Exists(file, /*includeHidden=*/false)) return;
  info.updateExistingEnabled = true;
  const auto bytes = TryReadFile(file);
  if (!bytes) {
    info.warnings.push_back("UPDATED.DAT in the program folder cannot be read.");
    return;
  }
  ListReader reader(*bytes);
  if (reader.AtEnd()) {
    info.warnings.push_back("UPDATED.DAT in the program folder is empty.");
    return;
  }
  info.caption += reader.ReadItem();
}

}  // namespace

std::string ReadIniDir(const RunContext& ctx) {
  const std::string file = ctx.ProgramFile("INIPATH.TXT");
  if (!fs::Exists(file, /*includeHidden=*/false)) return {};
  const auto bytes = TryReadFile(file);
  if (!bytes) return {};
  const std::size_t end = bytes->find_first_of("\r\n");
  return bytes->substr(0, end);
}

std::string ReadNetworkDir(const RunContext& ctx) {
  const std::string buffer = profile::ReadProfileBuffer("MAIN", "NETDIR", "Not Used", ctx.ProfileFile(), 255);
  return profile::TrimIniValue(buffer);
}

namespace {

std::string ProfileValue(std::string_view section, std::string_view key, const std::string& file) {
  const std::string buffer = profile::ReadProfileBuffer(section, key, "", file, 4096);
  return buffer.substr(0, buffer.find('\0'));
}

// TIMEOUT's seconds: digits only, 1 to kMaxTimeout; 0 when it is not that.
int TimeoutSeconds(std::string_view text) {
  if (text.empty() || text.size() > 4) return 0;
  int seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds <= store::pg::kMaxTimeout ? seconds : 0;
}

}  // namespace

HistoryConfig ReadHistoryConfig(const RunContext& ctx) {
  const std::string file = ctx.ProfileFile();
  const std::string engine = ProfileValue("HISTORY", "ENGINE", file);
  const std::string connect = ProfileValue("HISTORY", "CONNECT", file);
  const std::string timeout = ProfileValue("HISTORY", "TIMEOUT", file);
  const std::string where = "section [HISTORY] of '" + fs::ForDisplay(file) + "'";
  HistoryConfig config;
  if (engine.empty() && connect.empty()) return config;
#ifndef PRAX_WITH_POSTGRESQL
  config.problem = where + " keeps the History database on a server, but this build of PraxServer has no server "
                   "engine. Remove the section from PXNET.INI to keep the History database in PRAXDATA.MDB, or run "
                   "a build made with the server engine, then run the command again. Nothing was changed.";
  return config;
#endif
  if (text::FoldCase1252(engine) != "postgresql") {
    config.problem = where + (engine.empty() ? " has CONNECT but no ENGINE" : " names the engine '" + engine + "'") +
                     ". Write ENGINE=postgresql there to keep the History database on a PostgreSQL server, or "
                     "remove the section to keep it in PRAXDATA.MDB, then run the command again. Nothing was changed.";
  } else if (connect.empty()) {
    config.problem = where + " has ENGINE=postgresql but no CONNECT. Write the server's libpq connection string "
                     "there (for example CONNECT=host=dbserver dbname=praxdata user=praxload), then run the command "
                     "again. Nothing was changed.";
  } else if (auto problem = store::pg::ConnectProblem(connect, where)) {
    config.problem = std::move(problem);
  } else if (!timeout.empty() && !(config.timeout = TimeoutSeconds(timeout))) {
    config.problem = where + " has TIMEOUT=" + timeout + ". Write TIMEOUT=<seconds>, a whole number from 1 to " +
                     std::to_string(store::pg::kMaxTimeout) +
                     " (how long a command waits for the History server to connect and for a table another "
                     "session holds), or remove the line for " + std::to_string(store::pg::kDefaultTimeout) +
                     " seconds, then run the command again. Nothing was changed.";
  } else {
    config.server = connect;
  }
  return config;
}

HistoryConfig ReadUsableHistoryConfig(const RunContext& ctx) {
  HistoryConfig config = ReadHistoryConfig(ctx);
  if (config.problem) throw Error(err::kCannotOpenFile, *config.problem, Cause::kData);
  return config;
}

std::string ReadHistoryServer(const RunContext& ctx) { return ReadUsableHistoryConfig(ctx).server; }

StartupInfo RunStartup(RunContext& ctx) {
  StartupInfo info;

  ctx.IniDir = ReadIniDir(ctx);

  const std::string logo = ctx.ProgramFile("SrvLogo.BMP");
  if (fs::Exists(logo, /*includeHidden=*/false)) info.logoFile = fs::ToText(fs::RealPath(logo));

  ctx.NetworkDir = ReadNetworkDir(ctx);

  ctx.NetworkCount = 0;
  ctx.NetworkPaths.clear();
  ctx.NetworkPrefixes.clear();
  ctx.NetworkNames.clear();
  ReadNetworksList(ctx, info);
  if (!info.multipleNetworks) info.networks = {ctx.NetworkDir};

  ReadUpdatedDat(ctx, info);
  ctx.AppsNoPresent = fs::Exists(ctx.ProgramFile("APPS.NO"), /*includeHidden=*/false);
  ReadKeysMax(ctx, info);
  return info;
}

void ReadEnvironmentSettings(RunContext& ctx) {
  if (const char* ahead = std::getenv("PRAX_PARSE_AHEAD"); ahead != nullptr && std::string_view(ahead) == "0")
    ctx.ParseAhead = false;
  if (const char* threads = std::getenv("PRAX_PARSE_THREADS")) {
    const long n = std::strtol(threads, nullptr, 10);
    if (n >= 0 && n <= 64) ctx.ParseThreads = static_cast<int>(n);
  }
  if (const char* journal = std::getenv("PRAX_JOURNAL")) {
    if (text::EqualsIgnoreCase(journal, "wal")) ctx.HistoryJournal = RunContext::Journal::kWal;
    if (text::EqualsIgnoreCase(journal, "delete")) ctx.HistoryJournal = RunContext::Journal::kRollback;
  }
  if (const char* stale = std::getenv("PRAX_LOCK_STALE_SECONDS")) {
    const long seconds = std::strtol(stale, nullptr, 10);
    if (seconds > 0 && seconds <= 24L * 3600) ctx.LockStaleSeconds = static_cast<int>(seconds);
  }
}

}  // namespace prax

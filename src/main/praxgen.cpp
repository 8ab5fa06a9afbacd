// praxgen: writes a demo network directory (roster, user directories with
// Alert and Activity logs, UserDefs.Prn) and optionally a program folder that
// points at it, or appends one more day to a network it made before.
//
//   praxgen NETDIR --users N --days D [--seed S] [--start YYYY-MM-DD] [--program-dir DIR] [--nasty RATE]
//   praxgen NETDIR --append-day
//
// Without --start the network ends ten weekdays before today, so that a load
// run today takes all of it; --append-day adds days up to yesterday.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "gen/generate_network.h"
#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/text.h"
#include "program_info.h"

namespace {

constexpr const char* kFooter = R"(Exit status: 0 written; 1 a failure stopped the writing (message on standard error);
2 bad options. --append-day takes no other option.

Examples:
  praxgen /srv/praxilo/demo --users 20 --days 10 --program-dir /srv/praxilo/program
                                          a demo network and a program folder that finds it
  praxgen /srv/praxilo/demo --append-day  the next working day for every user)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes a demo network directory of user logs for praxload."};
  app.name("praxgen");
  prax::program::SetUp(app, "praxgen", kFooter);
  std::string networkDir, start, programDir;
  prax::gen::GenOptions options;
  bool appendDay = false;
  app.add_option("NETDIR", networkDir, "network directory to create (new or empty)")->type_name("")->required();
  auto* users = app.add_option("--users", options.users, "number of users with logs")->type_name("N")->check(CLI::Range(1, 32000));
  auto* days = app.add_option("--days", options.days, "number of consecutive weekdays")->type_name("D")->check(CLI::Range(0, 2000));
  auto* seed = app.add_option("--seed", options.seed, "random seed (same seed, same bytes)")->type_name("S");
  auto* startOpt = app.add_option("--start", start, "first day, YYYY-MM-DD (a weekend moves to Monday; default: the network ends ten weekdays before today)")->type_name("YYYY-MM-DD");
  auto* programOpt =
      app.add_option("--program-dir", programDir, "also write INIPATH.TXT and PXNET.INI into this folder")->type_name("DIR");
  auto* unassigned =
      app.add_option("--unassigned", options.unassigned, "unassigned roster slots (default one per twenty users)")->type_name("N")
          ->check(CLI::Range(0, 32000));
  auto* nasty = app.add_option("--nasty", options.nasty,
                               "share of log lines damaged as real logs are: cut lines, junk bytes, numbers out of "
                               "range, missing marks, quotes in names, empty names (0..1, default 0)")->type_name("RATE")
                    ->check(CLI::Range(0.0, 1.0));
  app.add_option("--threads", options.threads, "worker threads (default: one per processor)")->type_name("N")
      ->check(CLI::Range(0, 64));
  auto* appendOpt = app.add_flag("--append-day", appendDay, "append the next weekday to a network made by praxgen");
  appendOpt->excludes(users)->excludes(days)->excludes(seed)->excludes(startOpt)->excludes(programOpt)->excludes(
      unassigned)->excludes(nasty);

  try {
    app.parse(argc, argv);
    if (!appendDay && (users->count() == 0 || days->count() == 0))
      throw CLI::ValidationError("--users and --days are required (or --append-day)");
    if (start.empty()) {
      options.start = prax::gen::DefaultStart(prax::dt::Today(), options.days);
    } else if (std::sscanf(start.c_str(), "%d-%d-%d", &options.start.year, &options.start.month, &options.start.day) != 3 ||
        !prax::dt::IsValid(options.start.year, options.start.month, options.start.day))
      throw CLI::ValidationError("--start", "expects a date YYYY-MM-DD, got " + start);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }

  try {
    options.networkDir = networkDir;
    options.programDir = programDir;
    const prax::gen::GenSummary summary =
        appendDay ? prax::gen::AppendDay(networkDir, options.threads) : prax::gen::GenerateNetwork(options);
    std::cout << prax::gen::SummaryLine(summary) << "\n";
    if (!appendDay && !programDir.empty())
      std::cout << "Program folder " << prax::text::Visible(programDir)
                << " holds INIPATH.TXT and PXNET.INI for this network.\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "praxgen: " << prax::text::Visible(e.what()) << "\n";
    return 1;
  }
}

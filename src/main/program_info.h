#pragma once
// What the three programs print alike: --version (the program, the version
// of this build and the SQLite library it runs on) and the option list of
// --help, each option with its argument only (which options exclude which is
// said in the footer and the man page, not on every line).

#include <sqlite3.h>

#include <memory>
#include <string>

#ifndef PRAX_NO_CLI
#include <CLI/CLI.hpp>
#endif

#include "prax_version.h"

namespace prax::program {

inline std::string VersionText(const std::string& program) {
  return program + " (PraxServer) " PRAX_VERSION "\nSQLite " + sqlite3_libversion();
}

#ifndef PRAX_NO_CLI
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* opt) const override {
    if (!opt->get_option_text().empty()) return " " + opt->get_option_text();
    if (opt->get_type_size() == 0) return {};
    // The argument's name without the range its check adds ("N", not "N:INT in [1 - 32000]").
    const std::string name = opt->get_type_name();
    return " " + name.substr(0, name.find(':'));
  }
};

// --version, the plain option list and the footer (exit statuses, examples).
inline void SetUp(CLI::App& app, const std::string& program, const std::string& footer) {
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->column_width(34);
  app.set_version_flag("--version", VersionText(program), "print the version and that of SQLite, then exit");
  app.footer(footer);
}
#endif

}  // namespace prax::program

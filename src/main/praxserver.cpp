// praxserver: the administrator's window for loading the Praxilo logs of a
// network into the History database. Its own options are --version and
// --help, answered without opening a display; Qt takes the others. The program folder is the
// executable's own, or /var/lib/praxserver when it is installed in /usr/bin
// (app/program_folder.h).

#include <QApplication>
#include <QMessageBox>

#include <cstring>
#include <iostream>

#define PRAX_NO_CLI
#include "app/program_folder.h"
#include "app/startup.h"
#include "command/run_context.h"
#include "app/window/main_window.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "program_info.h"

namespace {

constexpr const char* kHelp = R"(The administrator's window of PraxServer: choose what to load, press Execute.
Usage: praxserver [OPTIONS]

Options:
  -h,--help                       print this help message and exit
  --version                       print the version and that of SQLite, then exit

Other options are Qt's own (-platform, -style, ...).

Exit status: 0 the window was closed; 3 the program folder does not exist.

Examples:
  sudo -u praxserver praxserver   open the window as the account of the nightly load
  praxserver --version            print the version of PraxServer and of SQLite
)";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << prax::program::VersionText("praxserver") << '\n';
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kHelp;
      return 0;
    }
  }
  QApplication app(argc, argv);
  const prax::ProgramFolders folders = prax::LocateProgramFolders(prax::fs::ExecutableDir());
  if (auto problem = prax::ProgramFolderProblem(folders, false)) {
    std::cerr << prax::text::Visible(*problem) << '\n';
    QMessageBox::critical(nullptr, "PraxServer", QString::fromStdString(prax::text::Visible(*problem)));
    return 3;
  }
  prax::RunContext ctx;
  prax::ReadEnvironmentSettings(ctx);
  ctx.ProgramDir = folders.programDir;
  ctx.ProfileDir = folders.profileDir;
  prax::MainWindow window(ctx);
  window.show();
  return app.exec();
}

// praxserver: the administrator's window for loading the Praxilo logs of a
// network into the History database. Reads no command line.

#include <QApplication>

#include "app/startup.h"
#include "command/run_context.h"
#include "app/window/main_window.h"
#include "platform/fs.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  prax::RunContext ctx;
  prax::ReadEnvironmentSettings(ctx);
  std::string dir = prax::fs::ToText(prax::fs::ExecutableDir());
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  ctx.ProgramDir = dir;
  prax::MainWindow window(ctx);
  window.show();
  return app.exec();
}

#include "app/settings.h"

#include <system_error>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/listio.h"
#include "platform/numbers.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <chrono>
#include <thread>
extern char** environ;
#endif

namespace prax {

namespace {

// An index item of PXSERVER.SET as a whole number in 0..2, or 0 (the design
// value of each) when it is not one (a damaged file).
int IndexItem(ListReader& reader) {
  const double value = reader.ReadNumber();
  int index = 0;
  TryStep([&] { index = num::RoundToInt16(value); });
  return index >= 0 && index <= 2 ? index : 0;
}

}  // namespace

void LoadSettings(const RunContext& ctx, WindowChoices& choices) {
  const std::string file = ctx.ProgramFile("PXSERVER.SET");
  if (!fs::Exists(file, /*includeHidden=*/true)) return;
  // Reading stops at the first failure (unreadable file, file ending early);
  // what was taken up to there stays.
  TryStep([&] {
    ListReader reader(fs::ReadFile(file));
    if (reader.ReadNumber() != 2) return;
    choices.universe = static_cast<Universe>(IndexItem(reader));
    choices.startText = reader.ReadItem();
    choices.endText = reader.ReadItem();
    choices.creationRule = IndexItem(reader) == 0 ? CreationRule::kCreateFresh : CreationRule::kUpdateExisting;
    choices.masterImport = static_cast<MasterImport>(IndexItem(reader));
  });
}

std::string SettingsBytes(const WindowChoices& choices) {
  ListWriter out;
  out.Line({int64_t{2}})
      .Line({static_cast<int64_t>(choices.universe)})
      .Line({choices.startText, choices.endText})
      .Line({static_cast<int64_t>(CreationRule::kUpdateExisting)})
      .Line({static_cast<int64_t>(choices.masterImport)});
  return out.Bytes();
}

void SaveSettings(const RunContext& ctx, const WindowChoices& choices) {
  fs::WriteFile(ctx.ProgramFile("PXSERVER.SET"), SettingsBytes(choices));
}

void WriteRestoreMarker(const RunContext& ctx) { fs::WriteFile(ctx.ProgramFile("Restore.KTR"), "\r\n"); }

void ActivateConsoleWindow() {
  static constexpr const char* kTitle = "Praxilo Kontorium";
#ifdef _WIN32
  if (HWND window = FindWindowA(nullptr, kTitle)) SetForegroundWindow(window);
#else
  // wmctrl activates a window by its title on X11 desktops; without it there
  // is no portable means, and nothing happens.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char arg0[] = "wmctrl";
  char arg1[] = "-a";
  std::string title = kTitle;
  char* argv[] = {arg0, arg1, title.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "wmctrl", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;
  // Wait at most about a second; a helper that hangs is ended.
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || done < 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
#endif
}

bool CloseWork(const RunContext& ctx, const WindowChoices& choices, bool commandRunning) {
  if (commandRunning) return false;
  TryStep([&] { SaveSettings(ctx, choices); });
  {
    std::error_code ec;
    std::filesystem::current_path(fs::RealPath(ctx.ProgramDir), ec);
  }
  TryStep([&] { WriteRestoreMarker(ctx); });
  ActivateConsoleWindow();
  return true;
}

}  // namespace prax

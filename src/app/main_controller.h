#pragma once
// The main window's state and decisions without any widgets: start-up, what
// a press of Execute does, the button's three states, the command's outcome
// and whether the window may close. The window shows this state and asks the
// administrator what the controller says to ask.

#include <optional>
#include <string>

#include "app/execute_command.h"
#include "app/praxload_run.h"
#include "command/run_context.h"
#include "app/settings.h"
#include "app/startup.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace prax {

// The Execute button: "Execute" enabled (idle), disabled (a command is
// running or awaits its confirmation), "Close" enabled (after a command).
enum class ButtonState { kExecute, kRunning, kClose };

// What the window does after a press of Execute.
enum class PressAction {
  kIgnore,            // the button is disabled: nothing happens
  kShowMessage,       // message box with OK only (a range message, a missing
                      // network directory); nothing else changes
  kClose,             // close the window (the close request goes through CanClose)
  kConfirm,           // ask kConfirmText (Yes/No); then ConfirmAnswered
  kRun,               // start the command (RunCommand on a worker thread)
};

struct PressResult {
  PressAction action = PressAction::kRun;
  std::string message;  // the text of kShowMessage
};

// How a command ended.
struct CommandOutcome {
  bool ok = false;
  ExecuteResult result;
  std::string errorText;  // DescribeError of the failure when !ok
};

class MainController {
 public:
  // ctx.ProgramDir must be set; every operation reports to `status`.
  MainController(RunContext& ctx, Status& status) : ctx_(ctx), status_(status) {}

  // Start-up: RunStartup, then the saved settings; warnings go to the status
  // line (without leaving the window busy). Returns what the window shows.
  const StartupInfo& Startup();
  const StartupInfo& Info() const { return info_; }

  // The choices as the widgets hold them; the window keeps them current.
  WindowChoices& Choices() { return choices_; }
  const WindowChoices& Choices() const { return choices_; }

  ButtonState Button() const { return button_; }
  std::string ButtonCaption() const;
  bool ButtonEnabled() const { return button_ != ButtonState::kRunning; }

  // A press of Execute: re-reads the network directory and user-slot count,
  // checks the range, then closes, refuses a missing network directory, asks
  // or runs. For kConfirm and kRun the
  // button is disabled and the choices of the command are fixed.
  PressResult ExecutePressed();
  // The answer to the confirmation: true runs the command; any other answer
  // enables the button again with its caption unchanged.
  bool ConfirmAnswered(bool yes);

  // Runs the command with the choices fixed at the press. Called on the
  // worker thread; touches only the RunContext and the Status, never the
  // button. A failure is shown by FailCommand and returned.
  CommandOutcome RunCommand();
  // After RunCommand, on the window's thread: the button reads "Close".
  void CommandFinished(const CommandOutcome& outcome);

  // What the details area shows after a command: RunSummaryLines of the run
  // and, after a failure, the error that ended it. Read on the window's
  // thread once the command has ended.
  std::string DetailsText(const CommandOutcome& outcome) const;
  // The run report of the last command as a real path, when it exists.
  std::optional<std::string> ReportFile() const;

  // A close request (close box or Execute reading "Close"). False while a
  // command runs (the window beeps and stays open); otherwise the closing
  // work is done with the current choices and true returned.
  bool CanClose();

 private:
  RunContext& ctx_;
  Status& status_;
  StartupInfo info_;
  WindowChoices choices_;
  WindowChoices commandChoices_;
  ButtonState button_ = ButtonState::kExecute;
  bool closeCaption_ = false;  // the caption reads "Close" (also while disabled)
};

}  // namespace prax

#include "app/main_controller.h"

#include "app/run_report.h"
#include "command/status.h"

namespace prax {

const StartupInfo& MainController::Startup() {
  info_ = RunStartup(ctx_);
  LoadSettings(ctx_, choices_);
  if (!info_.warnings.empty()) {
    std::string text;
    for (const std::string& w : info_.warnings) text += (text.empty() ? "" : "  ") + w;
    status_.SetStatus(text);
    status_.EndBusy();
  }
  return info_;
}

std::string MainController::ButtonCaption() const { return closeCaption_ ? "Close" : "Execute"; }

PressResult MainController::ExecutePressed() {
  PressResult press;
  if (button_ == ButtonState::kRunning) {
    // A press cannot arrive while the button is disabled; ignore it if it does.
    press.action = PressAction::kIgnore;
    return press;
  }
  TryStep([&] { PrepareCommand(ctx_, choices_); });
  if (auto message = RangeMessage(choices_)) {
    press.action = PressAction::kShowMessage;
    press.message = std::move(*message);
    return press;
  }
  if (button_ == ButtonState::kClose) {
    press.action = PressAction::kClose;
    return press;
  }
  if (auto message = NetworkDirMessage(ctx_)) {
    press.action = PressAction::kShowMessage;
    press.message = std::move(*message);
    return press;
  }
  button_ = ButtonState::kRunning;
  commandChoices_ = choices_;
  press.action = commandChoices_.creationRule == CreationRule::kCreateFresh ? PressAction::kConfirm : PressAction::kRun;
  return press;
}

bool MainController::ConfirmAnswered(bool yes) {
  if (button_ != ButtonState::kRunning) return false;
  if (!yes) button_ = closeCaption_ ? ButtonState::kClose : ButtonState::kExecute;
  return yes;
}

CommandOutcome MainController::RunCommand() {
  CommandOutcome outcome;
  try {
    const auto lock = TakeRunLock(ctx_, status_);
    outcome.result = RunExecute(ctx_, status_, commandChoices_);
    outcome.ok = true;
  } catch (const Error& e) {
    outcome.errorText = DescribeError(e);
    FailCommand(status_, e);
  } catch (const std::exception& e) {
    const Error wrapped(err::kOtherEngineError, e.what(), Cause::kEnvironment);
    outcome.errorText = DescribeError(wrapped);
    FailCommand(status_, wrapped);
  }
  // The run report, as praxload writes it: a failed run's too.
  ReportRun(ctx_, status_, RunReportPath(ctx_));
  return outcome;
}

void MainController::CommandFinished(const CommandOutcome&) {
  closeCaption_ = true;
  button_ = ButtonState::kClose;
}

bool MainController::CanClose() { return CloseWork(ctx_, choices_, button_ == ButtonState::kRunning); }

std::string MainController::DetailsText(const CommandOutcome& outcome) const {
  std::string text;
  // Names show their control characters as escapes, as on the console.
  for (const std::string& line : RunSummaryLines(status_.Summary())) text += text::Visible(line) + "\n";
  if (!outcome.ok) text += "\nThe command stopped: " + text::Visible(outcome.errorText) + "\n";
  return text;
}

std::optional<std::string> MainController::ReportFile() const {
  const std::string path = RunReportPath(ctx_);
  if (!fs::Exists(path)) return std::nullopt;
  return fs::ToText(fs::RealPath(path));
}

}  // namespace prax

#pragma once
// The main window frmPXlog: the universe, creation-rule and processing
// groups, the Execute button, the status line and the two progress displays;
// below them what the last command did and a button that opens its report.
// Widgets hold no logic: MainController decides, this class shows and asks.

#include <QWidget>

#include <thread>

#include "app/main_controller.h"
#include "app/window/window_status.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace prax {

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // ctx.ProgramDir must be set; the window is the status display and runs
  // start-up (Form_Load) before it returns.
  explicit MainWindow(RunContext& ctx, QWidget* parent = nullptr);
  ~MainWindow() override;

  MainController& Controller() { return controller_; }
  // Delivers pending status changes to the widgets at once.
  void FlushStatus() { status_.Flush(); }

 signals:
  // A command has ended (finished or failed) and the button reads "Close".
  void commandFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildWidgets();
  void ApplyStartup();
  void ApplyChoices();
  void SyncChoices();
  void UpdateButton();
  void PlaceRangeBoxes();
  void PlaceLogo();
  void ExecuteClicked();
  void StartCommand();
  void CommandDone(const CommandOutcome& outcome);
  void ShowStatus(const StatusSnapshot& snapshot);

  RunContext& ctx_;
  WindowStatus status_;
  MainController controller_;
  std::thread worker_;

  QGroupBox* frame1_ = nullptr;
  QGroupBox* frame2_ = nullptr;
  QGroupBox* frame3_ = nullptr;
  // Members of the option-button arrays optUniverse(0..2) and optFresh(0..1)
  // carry the object names "optUniverse0".."optUniverse2", "optFresh0" and
  // "optFresh1"; their button-group ids are the array indexes.
  QRadioButton* optUniverse_[3] = {};
  QRadioButton* optFresh_[2] = {};
  QButtonGroup* universeGroup_ = nullptr;
  QButtonGroup* freshGroup_ = nullptr;
  QLineEdit* txtStart_ = nullptr;
  QLineEdit* txtEnd_ = nullptr;
  QComboBox* comboNetworks_ = nullptr;
  QCheckBox* chkMultCreateOnly_ = nullptr;
  QCheckBox* chkMaster_ = nullptr;
  QPushButton* cmdExecute_ = nullptr;
  QLabel* lblMessage_ = nullptr;
  QLabel* lblLoading_ = nullptr;
  QLabel* lblExecute_ = nullptr;
  QProgressBar* progExecute_ = nullptr;
  QLabel* lblDatabase_ = nullptr;
  QLabel* lblData_ = nullptr;
  QProgressBar* progDatabase_ = nullptr;
  QLabel* imgLogo_ = nullptr;
  // Below the form: what the last command did, and its run report.
  QPlainTextEdit* txtDetails_ = nullptr;
  QPushButton* cmdReport_ = nullptr;
};

}  // namespace prax

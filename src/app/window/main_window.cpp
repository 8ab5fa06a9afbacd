#include "app/window/main_window.h"

#include <algorithm>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/text.h"

namespace prax {

namespace {

constexpr char kRangeCaption[] = "Range of users from:                to:";  // 16 blanks
constexpr char kFreshCaption[] =
    "Create fresh database and update with any new data   (Warning! This erases current database!)";
constexpr int kLogoInset = 7;  // 100 twips

QString FromCp1252(const std::string& bytes) { return QString::fromStdString(text::Cp1252ToUtf8(bytes)); }
std::string ToCp1252(const QString& s) { return text::Utf8ToCp1252(s.toStdString()); }

// Message-box text of the program's own: it separates paragraphs with CR alone.
QString BoxText(std::string_view text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

// A message that carries names (paths, log and roster names): shown on one
// line, its control characters as visible escapes.
QString NamesText(std::string_view text) { return QString::fromStdString(text::Visible(text)); }

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

}  // namespace

MainWindow::MainWindow(RunContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx), status_(this), controller_(ctx, status_) {
  BuildWidgets();
  connect(&status_, &WindowStatus::changed, this, &MainWindow::ShowStatus);
  // Form_Load: start-up, saved choices, then what they show.
  controller_.Startup();
  ApplyStartup();
  ApplyChoices();
  UpdateButton();
  status_.Flush();
}

MainWindow::~MainWindow() {
  if (worker_.joinable()) worker_.join();
}

void MainWindow::BuildWidgets() {
  setObjectName(QStringLiteral("frmPXlog"));
  setWindowTitle(QString::fromLatin1(kProgramTitle.data(), kProgramTitle.size()));

  auto* outer = new QVBoxLayout(this);

  // Set the universe to process.
  frame1_ = Named(new QGroupBox(QStringLiteral("Set the universe to process"), this), "SSFrame1");
  auto* f1 = new QVBoxLayout(frame1_);
  optUniverse_[0] = Named(new QRadioButton(QStringLiteral("Full Universe"), frame1_), "optUniverse0");
  optUniverse_[1] = Named(new QRadioButton(QString::fromLatin1(kRangeCaption), frame1_), "optUniverse1");
  // The range boxes stand in the blanks of the option's caption and after it.
  txtStart_ = Named(new QLineEdit(optUniverse_[1]), "txtStart");
  txtEnd_ = Named(new QLineEdit(optUniverse_[1]), "txtEnd");
  optUniverse_[1]->installEventFilter(this);
  optUniverse_[2] = Named(new QRadioButton(QStringLiteral("Multiple Networks:"), frame1_), "optUniverse2");
  comboNetworks_ = Named(new QComboBox(frame1_), "comboNetworks");
  comboNetworks_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  chkMultCreateOnly_ = Named(new QCheckBox(QStringLiteral("Only Create"), frame1_), "chkMultCreateOnly");
  f1->addWidget(optUniverse_[0]);
  f1->addWidget(optUniverse_[1]);
  auto* networksRow = new QHBoxLayout;
  networksRow->addWidget(optUniverse_[2]);
  networksRow->addWidget(comboNetworks_, 1);
  f1->addLayout(networksRow);
  auto* onlyRow = new QHBoxLayout;
  onlyRow->addSpacing(24);
  onlyRow->addWidget(chkMultCreateOnly_);
  onlyRow->addStretch(1);
  f1->addLayout(onlyRow);
  imgLogo_ = Named(new QLabel(frame1_), "imgLogo");
  imgLogo_->hide();
  frame1_->installEventFilter(this);
  universeGroup_ = new QButtonGroup(this);
  for (int i = 0; i < 3; ++i) universeGroup_->addButton(optUniverse_[i], i);

  // Set the database creation rules.
  frame2_ = Named(new QGroupBox(QStringLiteral("Set the database creation rules"), this), "SSFrame2");
  auto* f2 = new QVBoxLayout(frame2_);
  optFresh_[0] = Named(new QRadioButton(QString::fromLatin1(kFreshCaption), frame2_), "optFresh0");
  optFresh_[1] =
      Named(new QRadioButton(QStringLiteral("Update existing database with any new data"), frame2_), "optFresh1");
  chkMaster_ = Named(new QCheckBox(QStringLiteral("Update Master database with UserDefs.Prn"), frame2_), "chkMaster");
  f2->addWidget(optFresh_[0]);
  f2->addWidget(optFresh_[1]);
  f2->addWidget(chkMaster_);
  freshGroup_ = new QButtonGroup(this);
  for (int i = 0; i < 2; ++i) freshGroup_->addButton(optFresh_[i], i);

  // Process database.
  frame3_ = Named(new QGroupBox(QStringLiteral("Process database"), this), "SSFrame3");
  auto* f3 = new QGridLayout(frame3_);
  cmdExecute_ = Named(new QPushButton(QStringLiteral("Execute"), frame3_), "cmdExecute");
  lblMessage_ = Named(new QLabel(QStringLiteral("Status:"), frame3_), "lblMessage");
  lblLoading_ = Named(new QLabel(QStringLiteral("Current User:"), frame3_), "lblLoading");
  lblExecute_ = Named(new QLabel(QStringLiteral("0%"), frame3_), "lblExecute");
  progExecute_ = Named(new QProgressBar(frame3_), "progExecute");
  lblDatabase_ = Named(new QLabel(QStringLiteral("Database:"), frame3_), "lblDatabase");
  lblData_ = Named(new QLabel(QStringLiteral("0%"), frame3_), "lblData");
  progDatabase_ = Named(new QProgressBar(frame3_), "progDatabase");
  for (QProgressBar* bar : {progExecute_, progDatabase_}) {
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
  }
  const int percentWidth = fontMetrics().horizontalAdvance(QStringLiteral(" 100% ")) + 4;
  lblExecute_->setMinimumWidth(percentWidth);
  lblData_->setMinimumWidth(percentWidth);
  lblMessage_->setWordWrap(true);
  f3->addWidget(cmdExecute_, 0, 0);
  f3->addWidget(lblMessage_, 0, 1, 1, 3);
  f3->addWidget(lblLoading_, 1, 0, 1, 4);
  f3->addWidget(lblExecute_, 2, 1);
  f3->addWidget(progExecute_, 2, 2, 1, 2);
  f3->addWidget(lblDatabase_, 3, 0);
  f3->addWidget(lblData_, 3, 1);
  f3->addWidget(progDatabase_, 3, 2, 1, 2);
  f3->setColumnStretch(3, 1);

  outer->addWidget(frame1_);
  outer->addWidget(frame2_);
  outer->addWidget(frame3_);

  // The window grows below the form: the last command's summary and its report.
  txtDetails_ = Named(new QPlainTextEdit(this), "txtDetails");
  txtDetails_->setReadOnly(true);
  txtDetails_->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtDetails_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  txtDetails_->setMinimumHeight(txtDetails_->fontMetrics().lineSpacing() * 18);
  cmdReport_ = Named(new QPushButton(QStringLiteral("Report..."), this), "cmdReport");
  cmdReport_->setEnabled(false);
  outer->addWidget(txtDetails_, 1);
  auto* reportRow = new QHBoxLayout;
  reportRow->addStretch(1);
  reportRow->addWidget(cmdReport_);
  outer->addLayout(reportRow);

  connect(cmdExecute_, &QPushButton::clicked, this, &MainWindow::ExecuteClicked);
  connect(cmdReport_, &QPushButton::clicked, this, [this] {
    if (const auto file = controller_.ReportFile())
      QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(*file)));
  });
  PlaceRangeBoxes();
}

void MainWindow::ApplyStartup() {
  const StartupInfo& info = controller_.Info();
  setWindowTitle(NamesText(text::Cp1252ToUtf8(info.caption)));
  for (const std::string& path : info.networks) comboNetworks_->addItem(NamesText(text::Cp1252ToUtf8(path)));
  if (comboNetworks_->count() > 0) comboNetworks_->setCurrentIndex(0);
  optUniverse_[2]->setEnabled(info.multipleNetworks);
  comboNetworks_->setEnabled(info.multipleNetworks);
  chkMultCreateOnly_->setEnabled(info.multipleNetworks);
  optFresh_[1]->setEnabled(info.updateExistingEnabled);

  if (info.logoFile) {
    QPixmap logo(QString::fromStdString(*info.logoFile));
    if (!logo.isNull()) {
      imgLogo_->setPixmap(logo);
      imgLogo_->resize(logo.size());
      // Keep the logo clear of the frame's own controls.
      QMargins m = frame1_->layout()->contentsMargins();
      m.setRight(m.right() + logo.width() + kLogoInset);
      frame1_->layout()->setContentsMargins(m);
      frame1_->setMinimumHeight(logo.height() + 2 * kLogoInset);
      imgLogo_->raise();
      imgLogo_->show();
      PlaceLogo();
    }
  }
}

void MainWindow::ApplyChoices() {
  const WindowChoices& c = controller_.Choices();
  optUniverse_[static_cast<int>(c.universe)]->setChecked(true);
  txtStart_->setText(FromCp1252(c.startText));
  txtEnd_->setText(FromCp1252(c.endText));
  optFresh_[static_cast<int>(c.creationRule)]->setChecked(true);
  if (c.masterImport == MasterImport::kGreyed) chkMaster_->setTristate(true);
  chkMaster_->setCheckState(c.masterImport == MasterImport::kTicked   ? Qt::Checked
                            : c.masterImport == MasterImport::kGreyed ? Qt::PartiallyChecked
                                                                      : Qt::Unchecked);
  chkMultCreateOnly_->setChecked(c.onlyCreate);
}

void MainWindow::SyncChoices() {
  WindowChoices& c = controller_.Choices();
  c.universe = static_cast<Universe>(std::max(universeGroup_->checkedId(), 0));
  c.startText = ToCp1252(txtStart_->text());
  c.endText = ToCp1252(txtEnd_->text());
  c.creationRule = static_cast<CreationRule>(std::max(freshGroup_->checkedId(), 0));
  c.masterImport = chkMaster_->checkState() == Qt::Checked            ? MasterImport::kTicked
                   : chkMaster_->checkState() == Qt::PartiallyChecked ? MasterImport::kGreyed
                                                                      : MasterImport::kUnticked;
  c.onlyCreate = chkMultCreateOnly_->isChecked();
}

void MainWindow::UpdateButton() {
  cmdExecute_->setText(QString::fromStdString(controller_.ButtonCaption()));
  cmdExecute_->setEnabled(controller_.ButtonEnabled());
}

void MainWindow::PlaceRangeBoxes() {
  QRadioButton* option = optUniverse_[1];
  const QFontMetrics fm = option->fontMetrics();
  const int textLeft = option->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, option) +
                       option->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, option);
  const int fromEnd = textLeft + fm.horizontalAdvance(QStringLiteral("Range of users from: "));
  const int toStart = textLeft + fm.horizontalAdvance(QStringLiteral("Range of users from:               "));
  const int toEnd = textLeft + fm.horizontalAdvance(QString::fromLatin1(kRangeCaption));
  const int boxWidth = std::max(toStart - fromEnd - 2, fm.horizontalAdvance(QStringLiteral("000000")) + 8);
  const int height = std::min(option->height(), fm.height() + 6);
  const int top = std::max(0, (option->height() - height) / 2);
  txtStart_->setGeometry(fromEnd, top, boxWidth, height);
  txtEnd_->setGeometry(toEnd + fm.horizontalAdvance(QLatin1Char(' ')), top, boxWidth, height);
  option->setMinimumWidth(txtEnd_->geometry().right() + 4);
  option->setMinimumHeight(fm.height() + 6);
}

void MainWindow::PlaceLogo() {
  if (imgLogo_->isHidden()) return;
  imgLogo_->move(frame1_->width() - imgLogo_->width() - kLogoInset, kLogoInset);
  imgLogo_->raise();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize || event->type() == QEvent::Show) {
    if (watched == frame1_) PlaceLogo();
    if (watched == optUniverse_[1]) PlaceRangeBoxes();
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::ExecuteClicked() {
  SyncChoices();
  const PressResult press = controller_.ExecutePressed();
  const QString title = QString::fromLatin1(kProgramTitle.data(), kProgramTitle.size());
  switch (press.action) {
    case PressAction::kIgnore:
      return;
    case PressAction::kShowMessage: {
      QMessageBox box(QMessageBox::NoIcon, title, NamesText(press.message), QMessageBox::Ok, this);
      box.exec();
      return;
    }
    case PressAction::kClose:
      close();
      return;
    case PressAction::kConfirm: {
      UpdateButton();
      QMessageBox box(QMessageBox::Critical, title, BoxText(kConfirmText), QMessageBox::Yes | QMessageBox::No,
                      this);
      box.setDefaultButton(QMessageBox::Yes);
      const bool yes = box.exec() == QMessageBox::Yes;
      if (!controller_.ConfirmAnswered(yes)) {
        UpdateButton();
        return;
      }
      StartCommand();
      return;
    }
    case PressAction::kRun:
      UpdateButton();
      StartCommand();
      return;
  }
}

void MainWindow::StartCommand() {
  if (worker_.joinable()) worker_.join();
  worker_ = std::thread([this] {
    const CommandOutcome outcome = controller_.RunCommand();
    QMetaObject::invokeMethod(this, [this, outcome] { CommandDone(outcome); }, Qt::QueuedConnection);
  });
}

void MainWindow::CommandDone(const CommandOutcome& outcome) {
  if (worker_.joinable()) worker_.join();
  controller_.CommandFinished(outcome);
  status_.Flush();
  UpdateButton();
  txtDetails_->setPlainText(QString::fromStdString(controller_.DetailsText(outcome)));
  cmdReport_->setEnabled(controller_.ReportFile().has_value());
  if (!outcome.ok) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kProgramTitle.data(), kProgramTitle.size()),
                    NamesText(outcome.errorText), QMessageBox::Ok, this);
    box.exec();
  }
  emit commandFinished();
}

void MainWindow::ShowStatus(const StatusSnapshot& s) {
  lblMessage_->setText(QString::fromStdString(s.message));
  lblLoading_->setText(QString::fromStdString(s.loading));
  lblExecute_->setText(QString::fromStdString(s.fileCaption));
  lblData_->setText(QString::fromStdString(s.userCaption));
  progExecute_->setValue(s.fileBar);
  progDatabase_->setValue(s.userBar);
  if (s.busy)
    setCursor(Qt::WaitCursor);
  else
    unsetCursor();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  SyncChoices();
  if (!controller_.CanClose()) {
    QApplication::beep();
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace prax

#include "gui/UMain.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "gui/Dialogs.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UAbout.hpp"
#include "gui/UDetails.hpp"
#include "gui/UFiles.hpp"
#include "gui/UUpdate.hpp"
#include "gui/UUpdateCheckThread.hpp"
#include "merge/SetupFile.hpp"
#include "update/UpdateCheck.hpp"

#ifndef TABLOOM_WEB_HOST
#define TABLOOM_WEB_HOST "www.quernby.example"
#endif

namespace gui {

TFMain* FMain = nullptr;

const QString TFMain::NotAllParametersMessage = "Not all the parameters are specified";
const QString TFMain::StopQuestion =
    "Stop the merge? Nothing will be written, and the tables stay as they are.";

namespace {

QFont Font(int pixels, bool bold = false) {
  QFont font = QApplication::font();
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

constexpr int kLabelLeft = 264, kLabelTop = 64;  // the status label, right of the buttons

// Office texts use "\r\n"; a label breaks on "\n".
QString LabelText(const QString& text) {
  return QString(text).remove('\r');
}

}  // namespace

TFMain::TFMain(automation::ObjectFactory& factory, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), factory_(factory), dialogs_(dialogs) {
  FMain = this;
  const QFileInfo program(QCoreApplication::applicationFilePath());
  CommandProgram = program.fileName() == "tabloom" ? program.absoluteFilePath() : "tabloom";
  ShowSetup = [](TFMain& main) {
    TFFiles files(main);
    files.exec();
  };
  BuildWindow();
  FormCreate();
  SetSetupButtons(true);
}

TFMain::~TFMain() {
  // A run still under way uses the store: it is stopped, its office ended, and waited for.
  if (worker_) {
    stop_.request_stop();
    factory_.Abort();
    worker_->wait();
  }
  // The update check must not reach a window that is gone: cancel it, answer its waiting
  // calls (they now do nothing), and give it a moment to end.
  updateCancel_->store(true);
  for (int i = 0; UpdateThread && UpdateThread->isRunning() && i < 150; ++i) {
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    UpdateThread->wait(20);
  }
  // The engine refers to the store; both go before the office connection's end.
  Merge.reset();
  Store.reset();
  if (FMain == this) FMain = nullptr;
}

void TFMain::BuildWindow() {
  setWindowIcon(ProgramIcon());
  setFont(Font(13));
  resize(780, 156);
  setMinimumSize(760, 156);  // the buttons, About and ? apart; the label wraps
  MainWindowPanel = new QFrame(this);
  MainWindowPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  MainWindowPanel->setLineWidth(2);

  FilesButton = new QPushButton("Select Files", MainWindowPanel);
  FilesButton->setGeometry(8, 16, 225, 25);
  FilesButton->setFont(Font(13, true));
  OpenSetupButton = new QPushButton("Open Setup...", MainWindowPanel);
  OpenSetupButton->setGeometry(241, 16, 104, 25);
  OpenSetupButton->setToolTip(
      "Opens a saved setup: both files, their sheets, rows, links and "
      "choices");
  SaveSetupButton = new QPushButton("Save Setup...", MainWindowPanel);
  SaveSetupButton->setGeometry(351, 16, 104, 25);
  SaveSetupButton->setToolTip(
      "Saves this setup to a file, to open it again next time or to "
      "run it with tabloom merge --setup FILE");
  CommandButton = new QPushButton("Copy as Command", MainWindowPanel);
  CommandButton->setGeometry(461, 16, 140, 25);
  CommandButton->setToolTip(
      "Copies this merge as a tabloom merge command line, each argument "
      "quoted for a POSIX shell, to paste into a script");
  StartButton = new QPushButton("Start", MainWindowPanel);
  StartButton->setGeometry(8, 56, 225, 25);
  StartButton->setFont(Font(13, true));
  StartButton->setEnabled(false);
  DetailsButton = new QPushButton("Details...", MainWindowPanel);
  DetailsButton->setGeometry(8, 88, 225, 25);
  DetailsButton->setToolTip(
      "Why rows matched or not: the rows that found nothing with their nearest keys, the near "
      "matches, the add rows nobody took, the keys of several add rows");
  DetailsButton->hide();
  OKLabel = new QLabel(MainWindowPanel);
  OKLabel->setFont(Font(13, true));
  OKLabel->setWordWrap(true);
  OKLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);  // the result's name to copy
  OKLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  AboutButton = new QToolButton(MainWindowPanel);
  AboutButton->setText("About");
  AboutButton->setAutoRaise(true);
  QFont underlined = Font(13);
  underlined.setUnderline(true);
  AboutButton->setFont(underlined);
  AboutButton->setCursor(Qt::PointingHandCursor);
  HelpButton = new QToolButton(MainWindowPanel);
  HelpButton->setText("?");
  HelpButton->setToolTip("Online Help");
  HelpButton->setFont(Font(17, true));
  HelpButton->setCursor(Qt::PointingHandCursor);
  pb = new QProgressBar(MainWindowPanel);
  pb->setTextVisible(false);
  pb->setValue(0);

  connect(FilesButton, &QPushButton::clicked, this, &TFMain::FilesButtonClick);
  connect(StartButton, &QPushButton::clicked, this, &TFMain::StartButtonClick);
  connect(DetailsButton, &QPushButton::clicked, this, &TFMain::DetailsButtonClick);
  connect(OpenSetupButton, &QPushButton::clicked, this, &TFMain::OpenSetupButtonClick);
  connect(SaveSetupButton, &QPushButton::clicked, this, &TFMain::SaveSetupButtonClick);
  connect(CommandButton, &QPushButton::clicked, this, &TFMain::CommandButtonClick);
  connect(AboutButton, &QToolButton::clicked, this, &TFMain::AboutButtonClick);
  connect(HelpButton, &QToolButton::clicked, this, &TFMain::HelpButtonClick);
}

void TFMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width() - 8, h = height() - 8;
  MainWindowPanel->setGeometry(4, 4, w, h);
  // The design panel is 690 x 148: About and ? keep their distance from the right edge, the
  // progress bar stretches and keeps its distance from the bottom.
  AboutButton->setGeometry(w - 148, 8, 105, 33);
  HelpButton->setGeometry(w - 34, 8, 23, 33);
  pb->setGeometry(8, h - 30, w - 28, 21);
  OKLabel->setGeometry(kLabelLeft, kLabelTop, w - kLabelLeft - 12, h - 30 - kLabelTop - 4);
}

void TFMain::FitLabel() {
  // A report longer than the room above the bar makes the window taller, never narrower.
  const int needed = OKLabel->heightForWidth(OKLabel->width());
  if (needed > OKLabel->height()) resize(width(), height() + needed - OKLabel->height());
}

void TFMain::FormCreate() {
  Store.reset();
  WebSite = QString("http://") + TABLOOM_WEB_HOST;
  UpdateHost = TABLOOM_WEB_HOST;
  CompanyName = "Quernby Software";
  UpdatePath = "/version_check.php?id=3";
  DownloadPage = WebSite + "/content/download/3/";
  DetailsPage = WebSite + "/content/details/3/";
  ProgramTitle = "Tabloom";
  ProgramVersion = "1.0.7";
  QApplication::setApplicationName(ProgramTitle);
  QApplication::setOrganizationName(CompanyName);  // where settings (the last folder) are kept
  UpdateAnswer.clear();
  // An administrator (or a test) may point the check elsewhere: host or host:port.
  if (const QString host = qEnvironmentVariable("TABLOOM_UPDATE_HOST"); !host.isNull()) {
    UpdateHost = host.section(':', 0, 0);
    if (host.contains(':')) UpdatePort = host.section(':', 1).toInt();
  }
  LockedMessage = "File is locked\r\nby another application";
  IllegalTargetMessage = "Illegal target file name";
  ReadyMessage = "Everything is OK, press Start Button\r\nto continue";
  OKLabel->clear();
  StartUpdateCheck();
  setWindowTitle(ProgramTitle);
  NoOfficeMessage =
      "To use the " + ProgramTitle + "\r" + "\n" + "you must have Open Office installed on your PC";
  CreateStore();
}

void TFMain::StartUpdateCheck() {
  UpdateThread = new TUpdateCheckThread(*this, updateCancel_);
  UpdateThread->start(QThread::LowPriority);
}

void TFMain::UpdateAnswerReceived() {
  if (UpdateAnswer.isEmpty()) return;
  if (Running()) {  // offered once the run has ended
    updatePending_ = true;
    return;
  }
  UpdateAnswer = QString::fromStdString(update::ExtractMarkup(UpdateAnswer.toStdString()));
  if (!update::OfferUpdate(UpdateAnswer.toStdString(), ProgramVersion.toStdString())) return;
  TFUpdate offer(*this);
  offer.exec();
}

void TFMain::CreateStore() {
  Store = std::make_unique<store::clc>(factory_);
  Merge = std::make_unique<merge::MergeRun>(*Store);
  Merge->AddPhaseListener([this](merge::Phase phase) {
    if (onPhase_) onPhase_(phase);
  });
  if (!Store->Connected) {
    dialogs_.Message(this, NoOfficeMessage, "warnining");
    Terminating = true;
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }
}

void TFMain::TestParameters() {
  OKLabel->clear();
  SetSetupButtons(true);
  if (MainParamsComplete() && AddParamsComplete() && Params.MainBook >= 0 && !setupUnsettled_) {
    StartButton->setEnabled(true);
    OKLabel->setText(LabelText(ReadyMessage));
  } else {
    StartButton->setEnabled(false);
    std::vector<std::string> missing = Params.Missing();
    if (Params.MainBook < 0 && !Params.MainFile.empty())  // it could not be opened again
      missing.insert(missing.begin(), "the main table");
    if (missing.empty() && setupUnsettled_) missing.push_back("the choices the note named");
    OKLabel->setText(QString::fromStdString(merge::NotAllSpecified(missing)));
  }
  FitLabel();
}

void TFMain::FilesButtonClick() {
  StartButton->setEnabled(false);
  const merge::SavedSetup before = merge::Capture(*Store, Params, {});
  if (ShowSetup) ShowSetup(*this);
  setupUnsettled_ = false;  // what a setup could not restore has now been seen
  // Changed by hand: it is no longer the setup the title names.
  if (!(merge::Capture(*Store, Params, {}) == before)) ShowSetupName({});
  TestParameters();
}

void TFMain::ShowSetupName(const QString& setupFile) {
  setWindowTitle(setupFile.isEmpty()
                     ? ProgramTitle
                     : QFileInfo(setupFile).completeBaseName() + " — " + ProgramTitle);
}

QString TFMain::Proposed(const QString& suffix) const {
  const QFileInfo table(
      QString::fromStdString(Params.MainFile.empty() ? Params.AddFile : Params.MainFile));
  return table.absolutePath() + "/" + table.completeBaseName() + suffix;
}

void TFMain::DetailsButtonClick() {
  if (!details_) return;
  TFDetails details(*this, details_);
  details.exec();
}

void TFMain::AboutButtonClick() {
  TFAbout about(*this);
  about.exec();
}

void TFMain::HelpButtonClick() {
  ShowPage(dialogs_, this, DetailsPage);
}

void TFMain::closeEvent(QCloseEvent* event) {
  // Quitting the application comes here too.
  if (state_ == RunState::Idle) {
    event->accept();
    return;
  }
  // The window goes once the run has stopped.
  event->ignore();
  if (closeAfterRun_) return;
  if (state_ == RunState::Reopening || state_ == RunState::Opening) {  // no run to stop
    closeAfterRun_ = true;
    return;
  }
  const int run = runNumber_;
  if (!dialogs_.Confirm(this, StopQuestion, "Stop")) return;
  closeAfterRun_ = true;
  if (state_ == RunState::Idle)  // it ended while the question was open
    QTimer::singleShot(0, this, &QWidget::close);
  else if (state_ == RunState::Running && runNumber_ == run)
    AskToStop(true);
}

}  // namespace gui

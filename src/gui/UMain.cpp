#include "gui/UMain.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "gui/Dialogs.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UAbout.hpp"
#include "gui/UFiles.hpp"
#include "gui/UUpdate.hpp"
#include "gui/UUpdateCheckThread.hpp"
#include "update/UpdateCheck.hpp"

#ifndef TABLOOM_WEB_HOST
#define TABLOOM_WEB_HOST "www.quernby.example"
#endif

namespace gui {

TFMain* FMain = nullptr;

const QString TFMain::NotAllParametersMessage = "Not all the parameters are specified";
const QString TFMain::SetupAgainMessage =
    "The main table could not be loaded again.\r\nPlease select the files again";

namespace {

constexpr int kRepaintMs = 100;  // how often a run lets the window repaint

QFont Font(int pixels, bool bold = false) {
  QFont font = QApplication::font();
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// Office texts use "\r\n"; a label breaks on "\n".
QString LabelText(const QString& text) {
  return QString(text).remove('\r');
}

}  // namespace

TFMain::TFMain(automation::ObjectFactory& factory, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), factory_(factory), dialogs_(dialogs) {
  FMain = this;
  ShowSetup = [](TFMain& main) {
    TFFiles files(main);
    files.exec();
  };
  BuildWindow();
  FormCreate();
}

TFMain::~TFMain() {
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
  resize(698, 156);
  MainWindowPanel = new QFrame(this);
  MainWindowPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  MainWindowPanel->setLineWidth(2);

  FilesButton = new QPushButton("Select Files", MainWindowPanel);
  FilesButton->setGeometry(8, 16, 225, 25);
  FilesButton->setFont(Font(13, true));
  StartButton = new QPushButton("Start", MainWindowPanel);
  StartButton->setGeometry(8, 56, 225, 25);
  StartButton->setFont(Font(13, true));
  StartButton->setEnabled(false);
  OKLabel = new QLabel(MainWindowPanel);
  OKLabel->setFont(Font(13, true));
  OKLabel->move(264, 64);
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
  UpdateAnswer = QString::fromStdString(update::ExtractMarkup(UpdateAnswer.toStdString()));
  if (!update::OfferUpdate(UpdateAnswer.toStdString(), ProgramVersion.toStdString())) return;
  TFUpdate offer(*this);
  offer.exec();
}

void TFMain::CreateStore() {
  Store = std::make_unique<store::clc>(factory_);
  Merge = std::make_unique<merge::MergeRun>(*Store);
  if (!Store->Connected) {
    dialogs_.Message(this, NoOfficeMessage, "warnining");
    Terminating = true;
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }
}

QString TFMain::ColumnLetters(int column) {
  return QString::fromStdString(merge::ColumnLetters(column));
}

void TFMain::TestParameters() {
  OKLabel->clear();
  if (MainParamsComplete() && AddParamsComplete() && !Merge->MainBookLost()) {
    StartButton->setEnabled(true);
    OKLabel->setText(LabelText(ReadyMessage));
  } else {
    StartButton->setEnabled(false);
    OKLabel->setText(NotAllParametersMessage);
  }
  OKLabel->adjustSize();
}

void TFMain::FilesButtonClick() {
  StartButton->setEnabled(false);
  if (ShowSetup) ShowSetup(*this);
  TestParameters();
}

void TFMain::ShowProgress(std::int32_t position, std::int32_t maximum) {
  pb->setMaximum(maximum);
  pb->setValue(position);
  // Keep the window alive and its bar moving, without repainting for every row.
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (now - lastRepaint_ >= kRepaintMs) {
    lastRepaint_ = now;
    QCoreApplication::processEvents();
  }
}

void TFMain::StartButtonClick() {
  if (running_) return;
  const QString mainFile = QString::fromStdString(Merge->MainFile);
  const std::optional<QString> chosen = dialogs_.SaveFile(
      this, "Save Result As", "ods|*.ods", QFileInfo(mainFile).suffix(), lastTarget_);
  if (!chosen) return;
  lastTarget_ = *chosen;
  const std::string target = chosen->toStdString();
  if (Merge->IsIllegalTarget(target)) {
    dialogs_.Message(this, IllegalTargetMessage, "Error");
    return;
  }

  // The whole run, indexing included, with both buttons off and closing refused.
  running_ = true;
  FilesButton->setEnabled(false);
  StartButton->setEnabled(false);
  OKLabel->clear();
  repaint();
  Merge->SetProgress(
      [this](std::int32_t position, std::int32_t maximum) { ShowProgress(position, maximum); });
  const bool ok = Merge->Run(target);
  Merge->SetProgress(nullptr);
  pb->setValue(0);
  running_ = false;
  FilesButton->setEnabled(true);

  if (!ok) dialogs_.Message(this, LockedMessage, "Error");
  if (Merge->MainBookLost()) {
    OKLabel->setText(LabelText(SetupAgainMessage));
  } else {
    StartButton->setEnabled(true);
    if (ok) {
      QString report = QString("Done: %1 of %2 main rows matched")
                           .arg(Merge->RowsMatched)
                           .arg(Merge->RowsWalked);
      for (const std::string& warning : Merge->Warnings)
        report += "\nWarning: " + QString::fromStdString(warning) + ".";
      OKLabel->setText(report);
    }
  }
  OKLabel->adjustSize();
}

void TFMain::AboutButtonClick() {
  TFAbout about(*this);
  about.exec();
}

void TFMain::HelpButtonClick() {
  dialogs_.OpenUrl(DetailsPage);
}

void TFMain::closeEvent(QCloseEvent* event) {
  if (running_)
    event->ignore();
  else
    event->accept();
}

}  // namespace gui

#include "gui/UMain.hpp"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <span>

#include "gui/Dialogs.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UAbout.hpp"
#include "gui/UFiles.hpp"
#include "gui/UUpdate.hpp"
#include "gui/UUpdateCheckThread.hpp"
#include "merge/RunProgress.hpp"
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

// The save dialog's types: the result's formats in their order, the office's own first.
QString ResultTypes() {
  QStringList types;
  for (const merge::FormatNames& format : merge::ResultFormats())
    types << format.description << QString("*") + format.extension;
  return types.join('|');
}

const QString kSetupTypes = "Tabloom setup|*.tabloom|All files|*";

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
  OKLabel = new QLabel(MainWindowPanel);
  OKLabel->setFont(Font(13, true));
  OKLabel->setWordWrap(true);
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
    OKLabel->setText(NotAllParametersMessage);
  }
  FitLabel();
}

void TFMain::FilesButtonClick() {
  StartButton->setEnabled(false);
  if (ShowSetup) ShowSetup(*this);
  setupUnsettled_ = false;  // what a setup could not restore has now been seen
  TestParameters();
}

void TFMain::SetSetupButtons(bool enabled) {
  const bool idle = enabled && state_ == RunState::Idle;
  OpenSetupButton->setEnabled(idle);
  SaveSetupButton->setEnabled(idle && (!Params.MainFile.empty() || !Params.AddFile.empty()));
  CommandButton->setEnabled(idle && MainParamsComplete() && AddParamsComplete() &&
                            Params.MainBook >= 0 && Params.AddBook >= 0);
}

QString TFMain::CommandTarget() const {
  if (!lastTarget_.isEmpty()) return lastTarget_;
  return QFileInfo(QString::fromStdString(Params.MainFile)).absolutePath() + "/merged" +
         merge::NamesOf(Params.Format).extension;
}

void TFMain::SaveSetupButtonClick() {
  const QString proposed =
      !lastSetup_.isEmpty()
          ? lastSetup_
          : QFileInfo(QString::fromStdString(Params.MainFile)).absolutePath() + "/";
  const std::optional<SaveChoice> chosen =
      dialogs_.SaveFile(this, "Save Setup As", kSetupTypes, "tabloom", proposed, 0, true);
  if (!chosen) return;
  QString file = chosen->file;
  if (QFileInfo(file).suffix().isEmpty()) file += ".tabloom";
  // A setup is written over an older setup, never over a table.
  std::vector<merge::RoleFile> tables = Params.Inputs();
  std::erase_if(tables, [](const merge::RoleFile& f) { return f.role == merge::FileRole::Setup; });
  if (const std::optional<merge::Clash> clash =
          merge::FirstClash(tables, {{merge::FileRole::Setup, file.toStdString()}})) {
    dialogs_.Message(this, QString::fromStdString(merge::ClashSentence(*clash)) + ".", "Error");
    return;
  }
  try {
    merge::WriteSetup(merge::Capture(*Store, Params, lastTarget_.toStdString()),
                      file.toStdString());
    lastSetup_ = file;
    Params.SetupFile = file.toStdString();
  } catch (const merge::SetupError& e) {
    dialogs_.Message(this, QString::fromStdString(e.what()), "Error");
  }
}

void TFMain::CommandButtonClick() {
  const merge::SavedSetup setup = merge::Capture(*Store, Params, CommandTarget().toStdString());
  QGuiApplication::clipboard()->setText(
      QString::fromStdString(merge::CommandLine(CommandProgram.toStdString(), setup)));
  OKLabel->setText("The merge is on the clipboard as a command line");
  FitLabel();
}

void TFMain::OpenSetupButtonClick() {
  if (Running()) return;
  const std::optional<QString> chosen = dialogs_.OpenFile(this, "Open Setup", kSetupTypes);
  if (chosen) OpenSetup(*chosen);
}

void TFMain::OpenSetup(const QString& file) {
  merge::SavedSetup setup;
  try {
    setup = merge::ReadSetup(file.toStdString());
  } catch (const merge::SetupError& e) {  // nothing changes
    dialogs_.Message(this, QString::fromStdString(e.what()), "Error");
    return;
  }
  lastSetup_ = file;
  StartButton->setEnabled(false);
  OKLabel->setText("Opening the setup's tables...");
  FitLabel();
  struct Restored {
    merge::Parameters p;
    std::vector<merge::SetupNote> notes;
  };
  auto restored = std::make_shared<Restored>();
  restored->p.ExactCalls = Params.ExactCalls;  // how the window runs stays as it was
  restored->p.ReloadMain = Params.ReloadMain;
  restored->p.SetupFile = file.toStdString();
  UseStoreOffThread(
      [this, restored, setup, folder = QFileInfo(file).absolutePath().toStdString(),
       books = std::array{Params.MainBook, Params.AddBook}] {
        try {  // the thread's outermost frame
          // The setup's tables first: the office the window holds stays whatever they are.
          ReviveOffice({}, {});
          const std::size_t before = Store->Books.size();
          restored->notes = merge::Restore(*Store, setup, folder, restored->p);
          for (const std::int32_t book : books)
            if (book >= 0 && static_cast<std::size_t>(book) < before) Store->CloseBook(book);
        } catch (const std::exception& e) {
          restored->notes.push_back({merge::SetupNote::Kind::CannotOpen, e.what()});
        } catch (...) {
          restored->notes.push_back(
              {merge::SetupNote::Kind::CannotOpen, "An unknown failure stopped the opening"});
        }
      },
      [this, restored, target = QString::fromStdString(setup.Target)] {
        Params = restored->p;
        lastTarget_ = target;
        QString text;
        setupUnsettled_ = false;
        for (const merge::SetupNote& note : restored->notes) {
          text += QString::fromStdString(note.sentence) + ".\n";
          setupUnsettled_ = setupUnsettled_ || note.kind != merge::SetupNote::Kind::Used;
        }
        if (setupUnsettled_) text += "Please choose these again in Select Files.";
        if (!text.isEmpty()) dialogs_.Message(this, text.trimmed(), "Note");
        TestParameters();
      });
}

void TFMain::StartButtonClick() {
  if (Running()) {
    AskToStop();
    return;
  }
  const QString mainFile = QString::fromStdString(Params.MainFile);
  const std::span<const merge::FormatNames> formats = merge::ResultFormats();
  const auto picked = std::find_if(formats.begin(), formats.end(), [this](const auto& format) {
    return format.format == Params.Format;
  });
  // The first proposal is the main table's folder; the type picked is the result's format.
  const std::optional<SaveChoice> chosen = dialogs_.SaveFile(
      this, "Save Result As", ResultTypes(), QFileInfo(mainFile).suffix(),
      lastTarget_.isEmpty() ? QFileInfo(mainFile).absolutePath() + "/" : lastTarget_,
      static_cast<int>(picked - formats.begin()));
  if (!chosen) return;
  lastTarget_ = chosen->file;
  if (chosen->type >= 0 && static_cast<std::size_t>(chosen->type) < formats.size())
    Params.Format = formats[static_cast<std::size_t>(chosen->type)].format;
  Params.Target = chosen->file.toStdString();
  if (const std::optional<merge::Clash> clash = Params.OutputClash()) {
    QString why = QString::fromStdString(clash->Why());
    why[0] = why[0].toUpper();
    dialogs_.Message(this, IllegalTargetMessage + "\r\n" + why + ".", "Error");
    return;
  }
  RunMerge();
}

void TFMain::RunMerge() {
  state_ = RunState::Running;
  const int run = ++runNumber_;
  stopAsked_ = false;
  stop_ = std::stop_source();
  FilesButton->setEnabled(false);
  SetSetupButtons(false);
  AboutButton->setEnabled(false);
  HelpButton->setEnabled(false);
  StartButton->setText("Stop");
  StartButton->setEnabled(true);
  OKLabel->clear();
  FollowProgress(run);

  struct Outcome {
    merge::RunReport report;
    bool officeGone = false;
  };
  auto outcome = std::make_shared<Outcome>();
  outcome->report.MainBook = Params.MainBook;  // as long as the run does not say otherwise
  OffThread(
      [this, outcome, parameters = Params, stop = stop_.get_token()] {
        // The thread's outermost frame: whatever it meets is the run's error, and then the
        // office is started afresh.
        try {
          outcome->report = Merge->Run(parameters, stop);
          // An office that was ended, or ended by itself, took the tables along.
          outcome->officeGone = !Store->Office->Answers();
        } catch (const std::exception& e) {
          outcome->report.Error = e.what();
          outcome->officeGone = true;
        } catch (...) {
          outcome->report.Error = "An unknown failure ended the run";
          outcome->officeGone = true;
        }
      },
      [this, outcome] { RunEnded(outcome->report, outcome->officeGone); });
}

void TFMain::FollowProgress(int run) {
  // The worker reports; the window shows, at most once per thousandth of the bar.
  const std::int32_t addRows = Params.AddBook >= 0
                                   ? Store->Books[static_cast<std::size_t>(Params.AddBook)]
                                         .SheetList[static_cast<std::size_t>(Params.AddSheet)]
                                         .RowCount
                                   : 0;
  auto progress =
      std::make_shared<merge::RunProgress>(addRows, Params.ReloadMain, Params.ExactCalls);
  pb->setRange(0, merge::RunProgress::kScale);
  pb->setValue(0);
  auto shown = std::make_shared<std::atomic<int>>(0);
  const auto post = [this, run, shown, progress] {
    const int value = progress->Value();
    if (shown->exchange(value) == value) return;
    QMetaObject::invokeMethod(
        this,
        [this, run, value] {
          if (state_ == RunState::Running && runNumber_ == run) pb->setValue(value);
        },
        Qt::QueuedConnection);
  };
  Merge->SetProgress([progress, post](std::int32_t position, std::int32_t maximum) {
    progress->Rows(position, maximum);
    post();
  });
  Merge->SetPhaseProgress([progress, post](double fraction) {
    progress->Within(fraction);
    post();
  });
  // The office works for seconds without a word (an ods store): the bar creeps meanwhile.
  auto* creep = new QTimer(this);
  connect(creep, &QTimer::timeout, this, [this, run, creep, progress, post] {
    if (state_ != RunState::Running || runNumber_ != run) {
      creep->deleteLater();
      return;
    }
    progress->Creep();
    post();
  });
  creep->start(100);
  onPhase_ = [this, run, progress, post](merge::Phase phase) {
    progress->Enter(phase);
    post();
    QString text = QString::fromUtf8(merge::PhaseText(phase));
    text[0] = text[0].toUpper();
    QMetaObject::invokeMethod(
        this,
        [this, run, text] {
          if (state_ == RunState::Running && runNumber_ == run && !stopAsked_) {
            OKLabel->setText(text + "...");
            FitLabel();
          }
        },
        Qt::QueuedConnection);
  };
}

void TFMain::OffThread(std::function<void()> work, std::function<void()> done) {
  QThread* thread = QThread::create(std::move(work));
  thread->setParent(this);
  worker_ = thread;
  connect(
      thread, &QThread::finished, this,
      [this, thread, done = std::move(done)] {
        thread->wait();  // finished comes just before the thread's very end
        thread->deleteLater();
        worker_ = nullptr;
        done();
      },
      Qt::QueuedConnection);
  thread->start();
}

void TFMain::UseStoreOffThread(std::function<void()> work, std::function<void()> done) {
  state_ = RunState::Opening;
  FilesButton->setEnabled(false);
  SetSetupButtons(false);
  OffThread(std::move(work), [this, done = std::move(done)] {
    state_ = RunState::Idle;
    FilesButton->setEnabled(true);
    SetSetupButtons(true);
    done();
    BackToIdle();
  });
}

std::optional<std::pair<std::int32_t, std::int32_t>> TFMain::ReviveOffice(
    const std::string& mainFile, const std::string& addFile, bool always) {
  if (!always && Store->Office->Answers()) return std::nullopt;
  std::pair<std::int32_t, std::int32_t> books{-1, -1};
  Store->Reconnect();
  if (!Store->Connected) return books;
  if (!mainFile.empty()) books.first = Store->OpenBook(mainFile);
  if (!addFile.empty()) books.second = Store->OpenBook(addFile);
  return books;
}

void TFMain::RunEnded(const merge::RunReport& report, bool officeGone) {
  Merge->SetProgress(nullptr);
  Merge->SetPhaseProgress(nullptr);
  onPhase_ = nullptr;
  Params.MainBook = report.MainBook;
  if (officeGone)
    ReopenTables(report);  // a new office opens them again
  else
    FinishRun(report);
}

void TFMain::ReopenTables(const merge::RunReport& report) {
  state_ = RunState::Reopening;
  StartButton->setEnabled(false);
  OKLabel->setText("Starting the office again and opening the tables...");
  FitLabel();
  auto books = std::make_shared<std::pair<std::int32_t, std::int32_t>>(-1, -1);
  OffThread(
      [this, books, mainFile = Params.MainFile, addFile = Params.AddFile] {
        try {
          *books = *ReviveOffice(mainFile, addFile, true);
        } catch (...) {
          // the thread's outermost frame: what could not be opened is chosen again
        }
      },
      [this, books, report] {
        Params.MainBook = books->first;
        Params.AddBook = books->second;
        FinishRun(report);
      });
}

void TFMain::FinishRun(const merge::RunReport& report) {
  state_ = RunState::Idle;
  pb->setValue(0);
  StartButton->setText("Start");
  FilesButton->setEnabled(true);
  AboutButton->setEnabled(true);
  HelpButton->setEnabled(true);
  ShowOutcome(report);
  SetSetupButtons(true);
  BackToIdle();
}

void TFMain::BackToIdle() {
  if (closeAfterRun_) {
    close();
    return;
  }
  if (updatePending_) {
    updatePending_ = false;
    UpdateAnswerReceived();
  }
}

QString TFMain::FailureMessage(const merge::RunReport& report) const {
  if (report.Error.empty()) return LockedMessage;
  return LockedMessage + "\r\n\r\nThe merge failed: " + QString::fromStdString(report.Error);
}

QString TFMain::ForgetLostTables() {
  merge::Parameters& p = Params;
  const bool mainLost = p.MainBook < 0 && !p.MainFile.empty();
  const bool addLost = p.AddBook < 0 && !p.AddFile.empty();
  if (mainLost) {
    p.MainFile.clear();
    p.MainSheet = p.MainTitleRow = p.MainFirstRow = p.AddThereColumn = -1;
  }
  if (addLost) {
    p.AddFile.clear();
    p.AddSheet = p.AddTitleRow = -1;
  }
  if (!mainLost && !addLost) return {};
  p.Links.clear();  // a link names columns of both tables
  p.LinkCount = 0;
  StartButton->setEnabled(false);
  return mainLost && addLost ? "The tables could not be loaded again"
         : mainLost          ? "The main table could not be loaded again"
                             : "The add table could not be loaded again";
}

void TFMain::ShowOutcome(const merge::RunReport& report) {
  // A stop the office did not answer ends in its loss: that is the stop asked for too.
  const bool stopped = !report.Ok && (report.Stopped || stopAsked_);
  if (!report.Ok && !stopped) dialogs_.Message(this, FailureMessage(report), "Error");
  const QString lost = ForgetLostTables();
  if (!lost.isEmpty()) {
    OKLabel->setText(report.Ok ? QString("The result was written to %1.\n%2: please open it again.")
                                     .arg(QString::fromStdString(report.ResultPath), lost)
                               : lost + ".\nPlease select the files again");
    FitLabel();
    return;
  }
  if (stopped) {
    TestParameters();  // as before Start
    return;
  }
  QString text;
  if (report.Ok) {
    text =
        QString("Done: %1 of %2 main rows matched").arg(report.RowsMatched).arg(report.RowsWalked);
    for (const std::string& warning : report.Warnings)
      text += "\nWarning: " + QString::fromStdString(warning) + ".";
  }
  StartButton->setEnabled(true);
  OKLabel->setText(text);
  FitLabel();
}

void TFMain::AskToStop(bool asked) {
  const int run = runNumber_;
  const auto stoppable = [this, run] {
    return state_ == RunState::Running && runNumber_ == run && !stopAsked_;
  };
  if (!stoppable()) return;
  if (!asked && !dialogs_.Confirm(this, StopQuestion, "Stop")) return;
  if (!stoppable()) return;  // the run ended while the question was open
  stopAsked_ = true;
  StartButton->setEnabled(false);
  OKLabel->setText("Stopping...");
  FitLabel();
  stop_.request_stop();
  // An office in the middle of a long call does not reach a safe point: it is ended.
  QTimer::singleShot(StopGraceMs, this, [this, run] {
    if (state_ == RunState::Running && runNumber_ == run) factory_.Abort();
  });
}

void TFMain::AboutButtonClick() {
  TFAbout about(*this);
  about.exec();
}

void TFMain::HelpButtonClick() {
  dialogs_.OpenUrl(DetailsPage);
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

// The main window's runs: Start and Stop, the run on a thread of its own, its progress, its
// outcome, and the office started again when a run lost it.
#include "gui/UMain.hpp"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <memory>
#include <span>

#include "gui/Dialogs.hpp"
#include "gui/UDetails.hpp"
#include "merge/RunProgress.hpp"

namespace gui {

namespace {

// The save dialog's types: the result's formats in their order, the office's own first.
QString ResultTypes() {
  QStringList types;
  for (const merge::FormatNames& format : merge::ResultFormats())
    types << format.description << QString("*") + format.extension;
  return types.join('|');
}

}  // namespace

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
  // The first proposal is named for the main table, beside it; the type picked is the
  // result's format.
  const std::optional<SaveChoice> chosen = dialogs_.SaveFile(
      this, "Save Result As", ResultTypes(), QFileInfo(mainFile).suffix(),
      lastTarget_.isEmpty() ? Proposed(QString(" merged") + picked->extension) : lastTarget_,
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

namespace {

// The window's run lists every row its details show.
merge::Parameters ForTheWindow(merge::Parameters p) {
  p.ListDetails = true;
  return p;
}

}  // namespace

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
  DetailsButton->hide();
  details_.reset();
  OKLabel->clear();
  FollowProgress(run);

  struct Outcome {
    merge::RunReport report;
    bool officeGone = false;
  };
  auto outcome = std::make_shared<Outcome>();
  outcome->report.MainBook = Params.MainBook;  // as long as the run does not say otherwise
  OffThread(
      [this, outcome, parameters = ForTheWindow(Params), stop = stop_.get_token()] {
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
  if (mainLost) p.ForgetTable(true);
  if (addLost) p.ForgetTable(false);
  if (!mainLost && !addLost) return {};
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
    if (report.RowsNear > 0) text += QString(" (%1 near)").arg(report.RowsNear);
    text += "\nResult: " + QString::fromStdString(report.ResultPath);
    for (const std::string& warning : report.Warnings)
      text += "\nWarning: " + QString::fromStdString(warning) + ".";
  }
  StartButton->setEnabled(true);
  if (TFDetails::Offered(report)) {
    details_ = std::make_shared<const merge::RunReport>(report);
    DetailsButton->show();
  }
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

}  // namespace gui

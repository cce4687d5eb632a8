// The main window: owner of the workbook store, the merge parameters (held by the merge
// engine) and the product texts; "Select Files", "Start", "About" and "?".
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>

#include "automation/Variant.hpp"
#include "merge/MergeRun.hpp"
#include "store/UClc.hpp"

class QFrame;
class QLabel;
class QThread;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace gui {

class Dialogs;
class TUpdateCheckThread;

class TFMain : public QWidget {
  Q_OBJECT

 public:
  TFMain(automation::ObjectFactory& factory, Dialogs& dialogs, QWidget* parent = nullptr);
  ~TFMain() override;

  // Components, in the window's own names.
  QFrame* MainWindowPanel = nullptr;
  QPushButton* FilesButton = nullptr;
  QPushButton* OpenSetupButton = nullptr;
  QPushButton* SaveSetupButton = nullptr;
  QPushButton* CommandButton = nullptr;  // "Copy as Command"
  QPushButton* StartButton = nullptr;
  QPushButton* DetailsButton = nullptr;  // "Details...", after a run with rows to explain
  QLabel* OKLabel = nullptr;
  QToolButton* AboutButton = nullptr;
  QToolButton* HelpButton = nullptr;
  QProgressBar* pb = nullptr;

  // Product texts.
  QString WebSite, DetailsPage, DownloadPage, CompanyName, ProgramTitle, ProgramVersion;
  QString UpdateHost, UpdatePath, UpdateAnswer;
  int UpdatePort = 80;
  QPointer<TUpdateCheckThread> UpdateThread;  // frees itself when it ends
  QString LockedMessage, IllegalTargetMessage, ReadyMessage, NoOfficeMessage;
  static const QString NotAllParametersMessage;
  static const QString StopQuestion;
  // How long a stop may wait for the office to reach a safe point before it is ended.
  int StopGraceMs = 5000;

  std::unique_ptr<store::clc> Store;
  // The merge parameters (MainFile, MainSheet, Links, ...), filled by the setup window.
  merge::Parameters Params;
  // The merge engine; a run takes a copy of the parameters.
  std::unique_ptr<merge::MergeRun> Merge;
  // Set when the office is missing: the program ends as soon as its event loop starts.
  bool Terminating = false;
  // From Start until the window shows the run's outcome (a fresh office included).
  bool Running() const { return state_ != RunState::Idle; }

  // Shows the setup window (TFFiles); a test puts its own set-up here.
  std::function<void(TFMain&)> ShowSetup;
  // The program named by "Copy as Command".
  QString CommandProgram;

  void FilesButtonClick();
  // A saved setup: its files opened off the window's thread and its choices restored; what
  // no longer fits is named in one note, and Start waits until the setup window was seen.
  void OpenSetupButtonClick();
  void SaveSetupButtonClick();
  // The same merge as a `tabloom merge` line on the clipboard.
  void CommandButtonClick();
  void OpenSetup(const QString& file);
  // The setup window's work on the store (a table it opens) off the window's thread, then
  // `done` on it. Meanwhile, as while a setup opens, Select Files and the setup buttons wait,
  // a close waits for the end, and at exit the office is ended under it.
  void UseStoreOffThread(std::function<void()> work, std::function<void()> done);
  // Off the window's thread, before a table is opened: an office found gone (or any office,
  // when `always`) is started again and the given files (empty: none) opened anew in it.
  // Their new books, -1 each that could not be opened; nothing when the office was kept.
  std::optional<std::pair<std::int32_t, std::int32_t>> ReviveOffice(const std::string& mainFile,
                                                                    const std::string& addFile,
                                                                    bool always = false);
  // Starts a run, or, during one (the button then reads "Stop"), asks whether to stop it.
  void StartButtonClick();
  void AboutButtonClick();
  void HelpButtonClick();
  // The update thread's answer is in UpdateAnswer: offer the download when it names another
  // version. Runs on the main thread; every failure is silent.
  void UpdateAnswerReceived();
  bool MainParamsComplete() const { return Params.MainParamsComplete(); }
  bool AddParamsComplete() const { return Params.AddParamsComplete(); }
  Dialogs& dialogs() { return dialogs_; }
  // A file beside the main table (else the add table) named for it, with `suffix`
  // (" merged.ods", ".tabloom").
  QString Proposed(const QString& suffix) const;
  // Why rows matched or not, after a run that has anything to say of it.
  void DetailsButtonClick();
  std::shared_ptr<const merge::RunReport> Details() const { return details_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;  // the layout rule
  void closeEvent(QCloseEvent* event) override;    // not while a run is under way

 private:
  void FormCreate();
  void CreateStore();
  void BuildWindow();
  void TestParameters();
  void FitLabel();
  // Running: the merge on a worker thread. Reopening: the office that a stop ended is
  // started again and the tables opened, also off the window's thread.
  // Opening: a saved setup's tables are opened, off the window's thread.
  enum class RunState { Idle, Running, Reopening, Opening };

  // The run on a worker thread, the office used by it alone; the window hears of its end.
  void RunMerge();
  // The bar and the label follow run number `run` through the engine's reports.
  void FollowProgress(int run);
  // Runs `work` on a thread of its own and then `done` on the window's thread. `work` is the
  // thread's outermost frame: it lets nothing escape.
  void OffThread(std::function<void()> work, std::function<void()> done);
  void RunEnded(const merge::RunReport& report, bool officeGone);
  // A new office, with the files of the run opened again (a stop ended the old one).
  void ReopenTables(const merge::RunReport& report);
  void FinishRun(const merge::RunReport& report);
  // Idle again: an update offer that waited is made, a close that waited is done.
  void BackToIdle();
  void SetSetupButtons(bool enabled);
  // The window's title names the setup it shows; empty: none.
  void ShowSetupName(const QString& setupFile);
  // The target a command or a saved setup names: the last one chosen, else one proposed.
  QString CommandTarget() const;
  void AskToStop(bool asked = false);
  void ShowOutcome(const merge::RunReport& report);
  // "File is locked..." first, then the run's own cause.
  QString FailureMessage(const merge::RunReport& report) const;
  // Choices on a table that could not be opened again are cleared: the setup is redone.
  QString ForgetLostTables();

  automation::ObjectFactory& factory_;
  Dialogs& dialogs_;
  void StartUpdateCheck();

  RunState state_ = RunState::Idle;
  int runNumber_ = 0;
  std::stop_source stop_;  // of the run under way; a new one per run
  QThread* worker_ = nullptr;
  bool stopAsked_ = false;
  bool closeAfterRun_ = false;
  bool updatePending_ = false;  // an offer that came during a run
  std::function<void(merge::Phase)> onPhase_;
  std::shared_ptr<std::atomic<bool>> updateCancel_ = std::make_shared<std::atomic<bool>>(false);
  QString lastTarget_;
  std::shared_ptr<const merge::RunReport> details_;  // of the last run, when it has any
  QString lastSetup_;
  bool setupUnsettled_ = false;  // a setup restored with notes: Start waits for the window
};

// The main window's one instance, through which the other windows reach its fields.
extern TFMain* FMain;

}  // namespace gui

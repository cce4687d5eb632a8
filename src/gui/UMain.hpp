// The main window: owner of the workbook store, the merge parameters (held by the merge
// engine) and the product texts; "Select Files", "Start", "About" and "?".
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "automation/Variant.hpp"
#include "merge/MergeRun.hpp"
#include "store/UClc.hpp"

class QFrame;
class QLabel;
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
  QPushButton* StartButton = nullptr;
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
  static const QString SetupAgainMessage;
  static const QString StopQuestion;
  // How long a stop may wait for the office to reach a safe point before it is ended.
  int StopGraceMs = 5000;

  std::unique_ptr<store::clc> Store;
  // The merge engine holds the merge parameters (MainFile, MainSheet, Links, ...).
  std::unique_ptr<merge::MergeRun> Merge;
  // Set when the office is missing: the program ends as soon as its event loop starts.
  bool Terminating = false;
  bool Running() const { return running_; }

  // Shows the setup window; the windows issue's TFFiles plugs in here.
  std::function<void(TFMain&)> ShowSetup;

  void FilesButtonClick();
  // Starts a run, or, during one (the button then reads "Stop"), asks whether to stop it.
  void StartButtonClick();
  void AboutButtonClick();
  void HelpButtonClick();
  // The update thread's answer is in UpdateAnswer: offer the download when it names another
  // version. Runs on the main thread; every failure is silent.
  void UpdateAnswerReceived();
  bool MainParamsComplete() const { return Merge->MainParamsComplete(); }
  bool AddParamsComplete() const { return Merge->AddParamsComplete(); }
  static QString ColumnLetters(int column);
  Dialogs& dialogs() { return dialogs_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;  // the layout rule
  void closeEvent(QCloseEvent* event) override;    // not while a run is under way

 private:
  void FormCreate();
  void CreateStore();
  void BuildWindow();
  void TestParameters();
  void FitLabel();
  // The run on a worker thread, the office used by it alone; the window only hears of it.
  void RunMerge(const std::string& target);
  void AskToStop(bool asked = false);
  void ShowOutcome(bool ok);
  // The office was ended by a stop: a new one, with the files of the run opened again.
  void RestartOffice();

  automation::ObjectFactory& factory_;
  Dialogs& dialogs_;
  void StartUpdateCheck();

  bool running_ = false;
  int runNumber_ = 0;
  bool stopAsked_ = false;
  bool officeEnded_ = false;  // by a stop that the office did not answer
  bool closeAfterRun_ = false;
  bool updatePending_ = false;  // an offer that came during a run
  std::function<void(merge::Phase)> onPhase_;
  std::shared_ptr<std::atomic<bool>> updateCancel_ = std::make_shared<std::atomic<bool>>(false);
  QString lastTarget_;
};

// The main window's one instance, through which the other windows reach its fields.
extern TFMain* FMain;

}  // namespace gui

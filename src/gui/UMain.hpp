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

  std::unique_ptr<store::clc> Store;
  // The merge engine holds the merge parameters (MainFile, MainSheet, Links, ...).
  std::unique_ptr<merge::MergeRun> Merge;
  // Set when the office is missing: the program ends as soon as its event loop starts.
  bool Terminating = false;
  bool Running() const { return running_; }

  // Shows the setup window; the windows issue's TFFiles plugs in here.
  std::function<void(TFMain&)> ShowSetup;

  void FilesButtonClick();
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
  void ShowProgress(std::int32_t position, std::int32_t maximum);
  void TestParameters();

  automation::ObjectFactory& factory_;
  Dialogs& dialogs_;
  void StartUpdateCheck();

  bool running_ = false;
  std::shared_ptr<std::atomic<bool>> updateCancel_ = std::make_shared<std::atomic<bool>>(false);
  QString lastTarget_;
  qint64 lastRepaint_ = 0;
};

// The main window's one instance, through which the other windows reach its fields.
extern TFMain* FMain;

}  // namespace gui

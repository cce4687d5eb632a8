// The main window's saved setups: Save Setup, Open Setup and Copy as Command.
#include "gui/UMain.hpp"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <memory>

#include "gui/Dialogs.hpp"
#include "merge/SetupFile.hpp"

namespace gui {

namespace {

const QString kSetupTypes = "Tabloom setup|*.tabloom|All files|*";

}  // namespace

void TFMain::SetSetupButtons(bool enabled) {
  const bool idle = enabled && state_ == RunState::Idle;
  OpenSetupButton->setEnabled(idle);
  SaveSetupButton->setEnabled(idle && (!Params.MainFile.empty() || !Params.AddFile.empty()));
  CommandButton->setEnabled(idle && MainParamsComplete() && AddParamsComplete() &&
                            Params.MainBook >= 0 && Params.AddBook >= 0);
}

QString TFMain::CommandTarget() const {
  if (!lastTarget_.isEmpty()) return lastTarget_;
  return Proposed(QString(" merged") + merge::NamesOf(Params.Format).extension);
}

void TFMain::SaveSetupButtonClick() {
  const QString proposed = !lastSetup_.isEmpty() ? lastSetup_ : Proposed(".tabloom");
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
    ShowSetupName(file);
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
        ShowSetupName(lastSetup_);
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

}  // namespace gui

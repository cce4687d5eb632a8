// Renders Tabloom's windows to PNG files with the example workbooks set up, for the README:
//   tabloom_screenshots OUTPUT_FOLDER [SUFFIX]   (run it under a display, e.g. xvfb-run)
// The examples are taken from TABLOOM_EXAMPLES when set (a neutral folder), else the sources.
// SUFFIX goes into each file name ("main-150.png").
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTabBar>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <optional>

#include "gui/Dialogs.hpp"
#include "gui/PreviewGrid.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UAbout.hpp"
#include "gui/UDetails.hpp"
#include "gui/UFiles.hpp"
#include "gui/UMain.hpp"

namespace {

void Settle() {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
}

// Qt's dialogs, but the result is saved where the tool says, unasked.
class ResultInto : public gui::QtDialogs {
 public:
  explicit ResultInto(QString file) : file_(std::move(file)) {}
  std::optional<gui::SaveChoice> SaveFile(QWidget*, const QString&, const QString&, const QString&,
                                          const QString&, int type, bool) override {
    return gui::SaveChoice{file_, type};
  }

 private:
  QString file_;
};

bool Save(QWidget& window, const QString& file) {
  Settle();
  const bool ok = window.grab().save(file);
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QDir out(argc > 1 ? argv[1] : "docs");
  const QString examples =
      (qEnvironmentVariableIsEmpty("TABLOOM_EXAMPLES") ? QString(TABLOOM_SOURCE_DIR) + "/examples"
                                                       : qEnvironmentVariable("TABLOOM_EXAMPLES")) +
      "/";
  const QString suffix = argc > 2 ? QString("-") + argv[2] : QString();
  const auto name = [&](const char* base) { return out.filePath(base + suffix + ".png"); };
  QTemporaryDir scratch;
  ResultInto dialogs(scratch.filePath("orders merged.ods"));
  gui::TFMain window(automation::SystemFactory(), dialogs);
  if (window.Terminating) return 4;
  window.show();

  // The setup a user would make on the examples: orders by customer, titles in row 1.
  if (!merge::SetUp(*window.Store,
                    {.MainFile = (examples + "orders.ods").toStdString(),
                     .AddFile = (examples + "customers.ods").toStdString(),
                     .MainTitleRow = 0,
                     .AddTitleRow = 0,
                     .MainFirstRow = 1,
                     .Links = {{1, 0}},
                     .CaseSensitive = false},
                    window.Params))
    return 3;

  // Two add columns marked for copying, values kept: the choices show in the setup window.
  const std::int32_t addColumns =
      window.Store->Books[static_cast<std::size_t>(window.Params.AddBook)].SheetList[0].ColCount;
  for (const std::int32_t column : {2, 1})
    if (column < addColumns) window.Params.CopyColumns.push_back(column);
  window.Params.KeepValues = true;

  bool ok = true;
  window.ShowSetup = [&](gui::TFMain& main) {
    gui::TFFiles files(main);
    files.show();
    // A link being defined, to show its marks too.
    files.HotCol1 = 3;
    ok &= Save(files, name("setup"));
  };
  window.FilesButtonClick();
  // The window after a run: its report, and the details of the rows that found nothing.
  window.StartButtonClick();
  QElapsedTimer waited;
  waited.start();
  while (window.Running() && waited.elapsed() < 120000) QApplication::processEvents();
  ok &= Save(window, name("main"));
  if (window.Details()) {
    gui::TFDetails details(window, window.Details());
    details.show();
    ok &= Save(details, name("details"));
  }
  gui::TFAbout about(window);
  about.show();
  ok &= Save(about, name("about"));
  ok &= gui::ProgramPixmap(128).save(out.filePath("tabloom.png"));
  return ok ? 0 : 1;
}

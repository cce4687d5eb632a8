// How long the main window's event loop waits during a whole run: a timer asks every 10 ms,
// and the longest time between two of its turns is the longest the window could not repaint
// or answer. Offscreen; the office is started by the benchmark.
// Usage: gui_responsiveness ROWS [--keys text|numbers|dates|formulas]
// The last line: "longest event-loop gap: N ms".
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Tables.hpp"
#include "gui/Dialogs.hpp"
#include "gui/UMain.hpp"
#include "support/OfficeTesting.hpp"

namespace {

// Answers the window's one question: where to write.
class TargetOnly : public gui::Dialogs {
 public:
  explicit TargetOnly(QString target) : target_(std::move(target)) {}
  void Message(QWidget*, const QString& text, const QString&) override {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
  }
  bool Confirm(QWidget*, const QString&, const QString&) override { return false; }
  std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override {
    return std::nullopt;
  }
  std::optional<gui::SaveChoice> SaveFile(QWidget*, const QString&, const QString&, const QString&,
                                          const QString&, int) override {
    return gui::SaveChoice{target_, 0};
  }
  void OpenUrl(const QString&) override {}

 private:
  QString target_;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("TABLOOM_UPDATE_HOST", "127.0.0.1:9");  // no update check leaves the machine
  int rows = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--keys" && i + 1 < argc)
      bench::gKeys = bench::ParseKeys(argv[++i]);
    else
      rows = std::atoi(argv[i]);
  }
  if (rows <= 0) {
    std::fprintf(stderr, "usage: gui_responsiveness ROWS [--keys text|numbers|dates|formulas]\n");
    return 2;
  }
  QApplication app(argc, argv);
  int status = 0;
  {
    office_testing::TempDir dir;
    const std::string main = dir / "main.ods", add = dir / "add.ods";
    bench::MakeTables(dir, rows, main, add);

    TargetOnly dialogs(QString::fromStdString(dir / "result.ods"));
    gui::TFMain window(office_testing::SharedOffice(), dialogs);
    if (window.Terminating) return 4;
    window.show();
    if (!merge::SetUp(*window.Store, {.MainFile = main, .AddFile = add, .Links = {{0, 0}}},
                      window.Params))
      return 3;
    window.ShowSetup = nullptr;
    window.FilesButton->click();

    // The gap between two turns of the event loop, while the run is under way.
    QElapsedTimer clock;
    qint64 last = -1, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      if (last >= 0) longest = std::max(longest, now - last);
      last = now;
    });
    clock.start();
    tick.start(10);
    QElapsedTimer run;
    run.start();
    window.StartButton->click();
    QEventLoop wait;  // the bench's own loop, turning while the run is under way
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!window.Running()) wait.quit();
    });
    poll.start(5);
    wait.exec();
    tick.stop();
    const qint64 whole = run.elapsed();
    std::printf("%s keys, %d rows x 10: %s in %.1f s\n", bench::KeysName(), rows,
                window.OKLabel->text().toUtf8().constData(), whole / 1000.0);
    std::printf("longest event-loop gap: %lld ms\n", static_cast<long long>(longest));
    status = window.OKLabel->text().startsWith("Done") ? 0 : 1;
  }
  office_testing::SharedOffice().Release();
  return status;
}

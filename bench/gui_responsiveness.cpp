// How long the windows' event loop waits: a timer asks every 10 ms, and the longest time
// between two of its turns is the longest a window could not repaint or answer. Offscreen;
// the office is started by the benchmark.
//   gui_responsiveness ROWS [--keys KIND]         a whole run from the main window
//   gui_responsiveness --open ROWS [--keys KIND]  opening a table in the setup window
// The last line: "longest event-loop gap: N ms". A run also tells the longest time its bar
// showed one value ("longest time the bar stood still: N ms"), what a user takes for a hang;
// with --trace, each change of the bar or the label as shown (ms, per mille, label).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "Tables.hpp"
#include "gui/Dialogs.hpp"
#include "gui/UFiles.hpp"
#include "gui/UMain.hpp"
#include "support/OfficeTesting.hpp"

namespace {

// Answers the windows' questions: which file to open, where to write.
class Answers : public gui::Dialogs {
 public:
  Answers(QString open, QString target) : open_(std::move(open)), target_(std::move(target)) {}
  void Message(QWidget*, const QString& text, const QString&) override {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    ++messages;
  }
  bool Confirm(QWidget*, const QString&, const QString&) override { return false; }
  std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override {
    return open_;
  }
  std::optional<gui::SaveChoice> SaveFile(QWidget*, const QString&, const QString&, const QString&,
                                          const QString&, int, bool) override {
    return gui::SaveChoice{target_, 0};
  }
  bool OpenUrl(const QString&) override { return true; }
  int messages = 0;

 private:
  QString open_, target_;
};

// The longest gap between two turns of the event loop while `until` is false; `start` is
// called once the loop turns. Returns the whole time in ms.
qint64 MeasureGaps(const std::function<void()>& start, const std::function<bool()>& until,
                   qint64& longest) {
  QElapsedTimer clock;
  qint64 last = -1;
  longest = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    if (last >= 0) longest = std::max(longest, now - last);
    last = now;
  });
  clock.start();
  tick.start(10);
  QEventLoop wait;  // the bench's own loop, turning while the work is under way
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (until()) wait.quit();
  });
  QTimer::singleShot(0, &wait, [&] {
    last = clock.elapsed();  // a turn of the loop: what `start` holds up counts
    start();
  });
  poll.start(5);
  wait.exec();
  tick.stop();
  return clock.elapsed();
}

// The bar's value over a run, from its changes as the window shows them.
struct BarWatch {
  explicit BarWatch(bool trace) : trace(trace) {}

  void Start() {
    clock.start();
    since = 0;
  }
  void Moved(int value, const QString& text) {
    Still(clock.elapsed());
    at = value;
    label = text;
    Print();
  }
  void Label(const QString& text) {
    if (text == label) return;
    label = text;
    Print();
  }
  void End() { Still(clock.elapsed()); }

  bool trace;
  QElapsedTimer clock;
  qint64 since = 0, longest = 0;
  int at = 0, longestAt = 0;
  QString label, longestLabel;

 private:
  void Still(qint64 now) {
    if (now - since > longest) {
      longest = now - since;
      longestAt = at;
      longestLabel = label;
    }
    since = now;
  }
  void Print() const {
    if (trace)
      std::printf("%8lld ms %4d  %s\n", static_cast<long long>(clock.elapsed()), at,
                  label.toUtf8().constData());
  }
};

int MeasureRun(int rows, bool trace) {
  office_testing::TempDir dir;
  const std::string main = dir / "main.ods", add = dir / "add.ods";
  bench::MakeTables(dir, rows, main, add);
  Answers dialogs(QString(), QString::fromStdString(dir / "result.ods"));
  gui::TFMain window(office_testing::SharedOffice(), dialogs);
  if (window.Terminating) return 4;
  window.show();
  if (!merge::SetUp(*window.Store, {.MainFile = main, .AddFile = add, .Links = {{0, 0}}},
                    window.Params))
    return 3;
  window.ShowSetup = nullptr;
  window.FilesButton->click();
  BarWatch bar(trace);
  QObject::connect(window.pb, &QProgressBar::valueChanged, [&](int value) {
    if (window.Running()) bar.Moved(value, window.OKLabel->text());
  });
  QTimer labels;
  QObject::connect(&labels, &QTimer::timeout, [&] {
    if (window.Running()) bar.Label(window.OKLabel->text());
  });
  labels.start(10);
  qint64 longest = 0;
  const qint64 whole = MeasureGaps(
      [&] {
        bar.Start();
        window.StartButton->click();
      },
      [&] { return !window.Running(); }, longest);
  bar.End();
  labels.stop();
  std::printf("%s keys, %d rows x 10: %s in %.1f s\n", bench::KeysName(), rows,
              window.OKLabel->text().toUtf8().constData(), whole / 1000.0);
  std::printf("longest time the bar stood still: %lld ms (at %d of %d, \"%s\")\n",
              static_cast<long long>(bar.longest), bar.longestAt, window.pb->maximum(),
              bar.longestLabel.toUtf8().constData());
  std::printf("longest event-loop gap: %lld ms\n", static_cast<long long>(longest));
  return window.OKLabel->text().startsWith("Done") ? 0 : 1;
}

// "Open" of the setup window's main table, as a click; measured until the table is shown
// and half a second after, so that the first preview's painting counts too.
int MeasureOpen(int rows) {
  office_testing::TempDir dir;
  const std::string main = dir / "main.ods", add = dir / "add.ods";
  bench::MakeTables(dir, rows, main, add);
  Answers dialogs(QString::fromStdString(main), QString());
  gui::TFMain window(office_testing::SharedOffice(), dialogs);
  if (window.Terminating) return 4;
  gui::TFFiles files(window);
  files.show();
  QElapsedTimer open;
  qint64 opened = -1, longest = 0;
  MeasureGaps(
      [&] {
        open.start();
        files.FileChoiseButton1->click();
      },
      [&] {
        const bool done = window.Params.MainBook >= 0 || dialogs.messages > 0;
        if (done && opened < 0) opened = open.elapsed();
        return done && open.elapsed() > opened + 500;
      },
      longest);
  std::printf("%s keys, %d rows x 10: opened in %.1f s\n", bench::KeysName(), rows,
              opened / 1000.0);
  std::printf("longest event-loop gap: %lld ms\n", static_cast<long long>(longest));
  return window.Params.MainBook >= 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("TABLOOM_UPDATE_HOST", "127.0.0.1:9");  // no update check leaves the machine
  int rows = 0;
  bool open = false, trace = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--keys" && i + 1 < argc)
      bench::gKeys = bench::ParseKeys(argv[++i]);
    else if (a == "--open")
      open = true;
    else if (a == "--trace")
      trace = true;
    else
      rows = std::atoi(argv[i]);
  }
  if (rows <= 0) {
    std::fprintf(stderr,
                 "usage: gui_responsiveness [--open] ROWS [--keys text|numbers|dates|formulas] "
                 "[--trace]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const int status = open ? MeasureOpen(rows) : MeasureRun(rows, trace);
  office_testing::SharedOffice().Release();
  return status;
}

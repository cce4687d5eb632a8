// Tabloom: with no arguments the windows; `tabloom merge ...` the batch command.
#include <unistd.h>

#include <QApplication>
#include <clocale>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "automation/Backend.hpp"
#include "cli/MergeCommand.hpp"
#include "gui/Dialogs.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UMain.hpp"

namespace {

int Merge(const std::vector<std::string>& args) {
  // Copied numbers take the user's decimal separator, as in the windows (Qt sets the locale).
  std::setlocale(LC_ALL, "");
  try {
    const cli::MergeOptions options = cli::ParseMergeArguments(args);
    if (options.help) {
      std::cout << cli::kMergeUsage;
      return cli::kMerged;
    }
    return cli::RunMerge(options, automation::SystemFactory(), std::cout, std::cerr,
                         ::isatty(STDERR_FILENO) != 0);
  } catch (const cli::UsageError& e) {
    std::cerr << e.what() << "\nTry 'tabloom merge --help'.\n";
    return cli::kUsage;
  }
}

// Without a display Qt aborts the program; a platform named explicitly (offscreen) is the
// caller's choice.
bool HasDesktop(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "-platform") return true;
  return !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int Windows(int argc, char** argv) {
  if (!HasDesktop(argc, argv)) {
    std::cerr << "Tabloom's windows need a desktop session (neither DISPLAY nor WAYLAND_DISPLAY "
                 "is set): merge without windows with 'tabloom merge' (see 'tabloom merge "
                 "--help'), or try 'scripts/run --demo'.\n";
    return 1;
  }
  QApplication app(argc, argv);
  app.setWindowIcon(gui::ProgramIcon());
  gui::QtDialogs dialogs;
  // The main window, and with it the store and the office, ends before main returns.
  gui::TFMain window(automation::SystemFactory(), dialogs);
  if (window.Terminating) return cli::kNoOffice;
  window.show();
  return app.exec();
}

int Tabloom(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "merge") return Merge({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "--version") {
    std::cout << TABLOOM_VERSION << "\n";
    return 0;
  }
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << "usage: tabloom                 start Tabloom\n"
                 "       tabloom merge ...       merge two tables without windows\n"
                 "       tabloom --version\n\n"
              << cli::kMergeUsage;
    return 0;
  }
  return Windows(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  int code = 1;
  try {
    code = Tabloom(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "Tabloom failed: " << e.what() << "\n";
  }
  // Every office object is gone by now; the office and the module end here, in this order.
  automation::ShutdownSystemFactory();
  return code;
}

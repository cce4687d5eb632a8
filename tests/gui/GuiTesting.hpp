// Support for window tests: dialogs answered by the test, and waiting for modal windows.
#pragma once

#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include "gui/Dialogs.hpp"

// Failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace gui {
class TFMain;
}

namespace gui_testing {

class FakeDialogs : public gui::Dialogs {
 public:
  struct Shown {
    QString text, caption;
  };
  struct SaveAsked {
    QString title, filter, defaultSuffix, proposed;
    int type = 0;
    bool askBeforeReplacing = false;
  };

  void Message(QWidget*, const QString& text, const QString& caption) override {
    messages.push_back({text, caption});
  }
  bool Confirm(QWidget*, const QString& text, const QString& caption) override {
    questions.push_back({text, caption});
    if (onConfirm) onConfirm();
    const bool yes = confirmAnswers.empty() || confirmAnswers.front();
    if (!confirmAnswers.empty()) confirmAnswers.pop_front();
    return yes;
  }
  std::optional<QString> OpenFile(QWidget*, const QString&, const QString& filter) override {
    openFilters.push_back(filter);
    return Next(openAnswers);
  }
  std::optional<gui::SaveChoice> SaveFile(QWidget*, const QString& title, const QString& filter,
                                          const QString& defaultSuffix, const QString& proposed,
                                          int type, bool askBeforeReplacing) override {
    saves.push_back({title, filter, defaultSuffix, proposed, type, askBeforeReplacing});
    const std::optional<QString> file = Next(saveAnswers);
    if (!file) return std::nullopt;
    const int picked = saveTypes.empty() ? 0 : saveTypes.front();
    if (!saveTypes.empty()) saveTypes.pop_front();
    return gui::SaveChoice{*file, picked};
  }
  bool OpenUrl(const QString& url) override {
    urls.push_back(url);
    return browser;
  }

  std::vector<Shown> messages;
  std::vector<Shown> questions;
  std::deque<bool> confirmAnswers;  // none left: yes
  std::function<void()> onConfirm;  // while the question is open
  std::vector<SaveAsked> saves;
  std::vector<QString> openFilters;
  std::vector<QString> urls;
  bool browser = true;              // false: no browser shows a page
  std::deque<QString> saveAnswers;  // an empty answer, or none left: cancelled
  std::deque<int> saveTypes;        // the type picked with each answer; none left: the first
  std::deque<QString> openAnswers;

 private:
  static std::optional<QString> Next(std::deque<QString>& answers) {
    if (answers.empty()) return std::nullopt;
    const QString answer = answers.front();
    answers.pop_front();
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  }
};

// Runs `act` once a modal window is up (polled, bounded), then returns; use before exec().
void WhenModal(std::function<void(QWidget*)> act);

// Clicks Start and waits (bounded) until the run it began, if any, has shown its outcome.
// False when it had not within a minute.
bool StartAndWait(gui::TFMain& window);

}  // namespace gui_testing

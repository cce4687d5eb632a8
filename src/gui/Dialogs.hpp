// Everything the windows ask of the person or of the desktop goes through this interface:
// message boxes, open and save dialogs, opening a web address. Tests answer it themselves.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace gui {

// A file chosen to save to, and the type picked for it: the index of its filter.
struct SaveChoice {
  QString file;
  int type = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A message box with one OK button.
  virtual void Message(QWidget* parent, const QString& text, const QString& caption) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool Confirm(QWidget* parent, const QString& text, const QString& caption) = 0;
  // Filters are written "description|pattern|description|pattern" ("ods|*.ods").
  virtual std::optional<QString> OpenFile(QWidget* parent, const QString& title,
                                          const QString& filter) = 0;
  // Asks before replacing an existing file only when `askBeforeReplacing`; `defaultSuffix` is
  // added to a name without one while the first type is picked, another type's own extension
  // while that one is. `type` is picked first.
  virtual std::optional<SaveChoice> SaveFile(QWidget* parent, const QString& title,
                                             const QString& filter, const QString& defaultSuffix,
                                             const QString& proposed, int type = 0,
                                             bool askBeforeReplacing = false) = 0;
  // Opens a web address in the user's browser; false when nothing could show it.
  virtual bool OpenUrl(const QString& url) = 0;
};

// A web page in the user's browser; where none shows it, a note names its address.
void ShowPage(Dialogs& dialogs, QWidget* parent, const QString& url);

// The real thing: Qt's message boxes and file dialogs, the desktop's browser.
class QtDialogs : public Dialogs {
 public:
  void Message(QWidget* parent, const QString& text, const QString& caption) override;
  bool Confirm(QWidget* parent, const QString& text, const QString& caption) override;
  std::optional<QString> OpenFile(QWidget* parent, const QString& title,
                                  const QString& filter) override;
  std::optional<SaveChoice> SaveFile(QWidget* parent, const QString& title, const QString& filter,
                                     const QString& defaultSuffix, const QString& proposed,
                                     int type = 0, bool askBeforeReplacing = false) override;
  bool OpenUrl(const QString& url) override;
};

// "ods|*.ods" -> "ods (*.ods)"; pairs joined with ";;".
QString QtFilter(const QString& filter);

}  // namespace gui

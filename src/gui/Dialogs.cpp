#include "gui/Dialogs.hpp"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <algorithm>

namespace gui {

QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList pairs;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    pairs << QString("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(';', ' '));
  return pairs.join(";;");
}

void QtDialogs::Message(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);  // a file or an address to copy
  box.exec();
}

bool QtDialogs::Confirm(QWidget* parent, const QString& text, const QString& caption) {
  return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

namespace {

// The folder of the last file opened or saved, kept between starts.
constexpr const char* kLastFolder = "dialogs/lastFolder";

QString LastFolder() {
  return QSettings().value(kLastFolder).toString();
}

void RememberFolder(const QString& file) {
  QSettings().setValue(kLastFolder, QFileInfo(file).absolutePath());
}

}  // namespace

std::optional<QString> QtDialogs::OpenFile(QWidget* parent, const QString& title,
                                           const QString& filter) {
  const QString name = QFileDialog::getOpenFileName(parent, title, LastFolder(), QtFilter(filter));
  if (name.isEmpty()) return std::nullopt;
  RememberFolder(name);
  return name;
}

std::optional<SaveChoice> QtDialogs::SaveFile(QWidget* parent, const QString& title,
                                              const QString& filter, const QString& defaultSuffix,
                                              const QString& proposed, int type,
                                              bool askBeforeReplacing) {
  const QString qtFilter = QtFilter(filter);
  const QStringList types = qtFilter.split(";;");
  const QStringList parts = filter.split('|');
  QFileDialog dialog(parent, title, proposed, qtFilter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !askBeforeReplacing);
  // The first type adds the suffix asked for; another type its own extension ("*.xlsx").
  const auto suffixOf = [&](int index) {
    return index == 0 ? defaultSuffix : QString(parts.value(2 * index + 1)).remove("*.");
  };
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& picked) {
    dialog.setDefaultSuffix(suffixOf(static_cast<int>(types.indexOf(picked))));
  });
  if (type > 0 && type < types.size()) dialog.selectNameFilter(types[type]);
  dialog.setDefaultSuffix(suffixOf(type < types.size() ? type : 0));
  if (!proposed.isEmpty()) dialog.selectFile(proposed);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  RememberFolder(dialog.selectedFiles().constFirst());
  return SaveChoice{
      dialog.selectedFiles().constFirst(),
      static_cast<int>(std::max<qsizetype>(0, types.indexOf(dialog.selectedNameFilter())))};
}

bool QtDialogs::OpenUrl(const QString& url) {
  return QDesktopServices::openUrl(QUrl(url));
}

void ShowPage(Dialogs& dialogs, QWidget* parent, const QString& url) {
  if (!dialogs.OpenUrl(url))
    dialogs.Message(parent, "No web browser could show the page. Its address is\n" + url, "Note");
}

}  // namespace gui

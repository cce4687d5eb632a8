#include "gui/Dialogs.hpp"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QUrl>

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

std::optional<QString> QtDialogs::SaveFile(QWidget* parent, const QString& title,
                                           const QString& filter, const QString& defaultSuffix,
                                           const QString& proposed) {
  QFileDialog dialog(parent, title, proposed, QtFilter(filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setDefaultSuffix(defaultSuffix);
  if (!proposed.isEmpty()) dialog.selectFile(proposed);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  RememberFolder(dialog.selectedFiles().constFirst());
  return dialog.selectedFiles().constFirst();
}

void QtDialogs::OpenUrl(const QString& url) {
  QDesktopServices::openUrl(QUrl(url));
}

}  // namespace gui

// What the setup window's files share: its measures and the small builders of its controls.
#pragma once

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace gui::setup_window {

constexpr int kLeftWidth = 361;
constexpr int kBaseHeight = 209;
constexpr int kAddHeight = 201;
constexpr int kIndexMinHeight = 282;  // the links panel with its list, choices and buttons
constexpr int kSheetPanelWidth = 149;
constexpr int kFileBarHeight = 41;
constexpr int kTabHeight = 21;
constexpr int kInitialGridRows = 65536;
// The widest row label; the header column fits it from the start.
inline const QString kDataBegin = "Data Begin";
// Rows of a sheet the store keeps read (CachedCell's window): the most an open reads ahead.
constexpr int kStoreWindowRows = 21;

inline QFont Font(bool bold = false) {
  QFont font = QApplication::font();
  font.setPixelSize(13);
  font.setBold(bold);
  return font;
}

inline QFrame* Panel(QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  return panel;
}

inline QPushButton* Button(const QString& text, const QString& hint, QWidget* parent,
                           QRect geometry, bool bold = true) {
  auto* button = new QPushButton(text, parent);
  button->setToolTip(hint);
  button->setGeometry(geometry);
  button->setFont(Font(bold));
  return button;
}

inline QLabel* NumberPanel(const QString& hint, QWidget* parent, QPoint at) {
  auto* panel = new QLabel(parent);
  panel->setToolTip(hint);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignCenter);
  panel->setFont(Font(true));
  panel->setGeometry(at.x(), at.y(), 73, 25);
  return panel;
}

inline void SetBold(QPushButton* button, bool bold) {
  button->setFont(Font(bold));
}

inline QString RowText(int row, bool awaited) {
  if (awaited) return "?";
  return row < 0 ? QString() : QString::number(row + 1);
}

}  // namespace gui::setup_window

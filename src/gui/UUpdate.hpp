// The update offer: "A new update is available", Yes opens the download page.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace gui {

class TFMain;

class TFUpdate : public QDialog {
  Q_OBJECT

 public:
  explicit TFUpdate(TFMain& main);

  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* yes_button = nullptr;
  QPushButton* no_button = nullptr;

  void yes_buttonClick();
  void no_buttonClick() { accept(); }

 protected:
  // The caption names the product from before the first paint on.
  void showEvent(QShowEvent* event) override;

 private:
  TFMain& main_;
};

}  // namespace gui

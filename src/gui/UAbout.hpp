// The About box: icon, product name and version, the maker's line and web site link.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace gui {

class TFMain;

class TFAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TFAbout(TFMain& main);

  QFrame* WindowPanel = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* ProductNameLabel = nullptr;
  QLabel* CompanyNameLabel = nullptr;
  QLabel* CompanyLinkLabel = nullptr;
  QPushButton* OKButton = nullptr;

  void CompanyLinkLabelClick();
  void OKButtonClick() { accept(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;  // lays the texts and the panel out
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TFMain& main_;
};

}  // namespace gui

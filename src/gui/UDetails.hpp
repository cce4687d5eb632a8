// Why rows matched or not, after a run: the main rows that found nothing with their nearest
// add keys, the near matches made, the add rows nobody took and the keys of several add rows,
// each a list sorted by a click on its header and saved as csv. The lists are models read as
// they are shown, so 100,000 rows open at once.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "merge/MergeRun.hpp"

class QPushButton;
class QTabWidget;
class QTableView;

namespace gui {

class TFMain;

// A list of texts, its columns numbers where `numeric` says so (sorted as numbers).
class ListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  ListModel(QStringList headers, std::vector<bool> numeric,
            std::vector<std::vector<std::string>> rows, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

  // The list as shown, a header and a record per row.
  std::string Csv() const;

 private:
  QStringList headers_;
  std::vector<bool> numeric_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::size_t> order_;  // the rows as shown
};

class TFDetails : public QDialog {
  Q_OBJECT

 public:
  TFDetails(TFMain& main, std::shared_ptr<const merge::RunReport> report);

  // Whether a report has anything to show here.
  static bool Offered(const merge::RunReport& report);

  QTabWidget* Tabs = nullptr;
  std::vector<QTableView*> Lists;  // in the tabs' order
  QPushButton* SaveButton = nullptr;
  QPushButton* CloseButton = nullptr;

  // The list shown, as a csv file the user chooses.
  void SaveButtonClick();
  ListModel& Model(int tab) const;

 private:
  void AddList(const QString& title, QStringList headers, std::vector<bool> numeric,
               std::vector<std::vector<std::string>> rows);

  TFMain& main_;
  std::shared_ptr<const merge::RunReport> report_;
  std::vector<QString> titles_;
};

}  // namespace gui

#include "gui/UDetails.hpp"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <numeric>

#include "gui/Dialogs.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UMain.hpp"
#include "merge/Lists.hpp"
#include "merge/ResultFile.hpp"

namespace gui {

namespace {

std::string Number(std::int32_t row) {
  return row < 0 ? std::string() : std::to_string(row + 1);
}

long long AsNumber(const std::string& text) {
  long long n = -1;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

std::string RowsText(const std::vector<std::int32_t>& rows) {
  std::string text;
  for (const std::int32_t row : rows) text += (text.empty() ? "" : ", ") + Number(row);
  return text;
}

}  // namespace

ListModel::ListModel(QStringList headers, std::vector<bool> numeric,
                     std::vector<std::vector<std::string>> rows, QObject* parent)
    : QAbstractTableModel(parent),
      headers_(std::move(headers)),
      numeric_(std::move(numeric)),
      rows_(std::move(rows)),
      order_(rows_.size()) {
  std::iota(order_.begin(), order_.end(), std::size_t{0});
}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
  const std::vector<std::string>& row = rows_[order_[static_cast<std::size_t>(index.row())]];
  return QString::fromStdString(row[static_cast<std::size_t>(index.column())]);
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return headers_.value(section);
  return section + 1;
}

void ListModel::sort(int column, Qt::SortOrder order) {
  emit layoutAboutToBeChanged();
  if (column < 0 || column >= static_cast<int>(headers_.size())) {
    std::iota(order_.begin(), order_.end(), std::size_t{0});  // as the run listed them
  } else {
    const auto c = static_cast<std::size_t>(column);
    const bool numeric = numeric_[c];
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      const std::string& x = rows_[order == Qt::AscendingOrder ? a : b][c];
      const std::string& y = rows_[order == Qt::AscendingOrder ? b : a][c];
      return numeric ? AsNumber(x) < AsNumber(y) : x < y;
    });
  }
  emit layoutChanged();
}

std::string ListModel::Csv() const {
  std::vector<std::string> header;
  for (const QString& title : headers_) header.push_back(title.toStdString());
  std::string text = merge::CsvRecord(header);
  for (const std::size_t r : order_) text += merge::CsvRecord(rows_[r]);
  return text;
}

bool TFDetails::Offered(const merge::RunReport& report) {
  return report.Ok &&
         (!report.Unmatched.empty() || !report.NearMatches.empty() || !report.Duplicates.empty());
}

TFDetails::TFDetails(TFMain& main, std::shared_ptr<const merge::RunReport> report)
    : QDialog(&main), main_(main), report_(std::move(report)) {
  setWindowTitle("Why rows matched or not — " + main.ProgramTitle);
  setWindowIcon(ProgramIcon());
  resize(760, 480);
  Tabs = new QTabWidget(this);
  using merge::KeyText;
  std::vector<std::vector<std::string>> rows;
  for (const merge::UnmatchedRow& u : report_->Unmatched)
    rows.push_back({Number(u.row), KeyText(u.key), KeyText(u.nearest.addKey),
                    Number(u.nearest.addRow), u.nearest.why});
  AddList("Found nothing", {"Row", "Key", "Nearest add key", "Add row", "Why"},
          {true, false, false, true, false}, std::move(rows));
  rows.clear();
  for (const merge::NearMatchRow& n : report_->NearMatches)
    rows.push_back(
        {Number(n.row), KeyText(n.key), Number(n.took.addRow), KeyText(n.took.addKey), n.took.why});
  AddList("Near matches", {"Row", "Key", "Add row", "Add key", "Why"},
          {true, false, true, false, false}, std::move(rows));
  rows.clear();
  for (const merge::UnusedRow& u : report_->Unused) rows.push_back({Number(u.row), KeyText(u.key)});
  AddList("Add rows nobody took", {"Add row", "Key"}, {true, false}, std::move(rows));
  rows.clear();
  for (const merge::DuplicateKey& d : report_->Duplicates)
    rows.push_back({KeyText(d.key), std::to_string(d.addRows.size()), RowsText(d.addRows)});
  AddList("Duplicate keys", {"Key", "Rows", "Add rows"}, {false, true, false}, std::move(rows));

  SaveButton = new QPushButton("Save as CSV...", this);
  SaveButton->setToolTip("Saves the list shown, in the order shown, as a csv file");
  CloseButton = new QPushButton("Close", this);
  connect(SaveButton, &QPushButton::clicked, this, &TFDetails::SaveButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SaveButton);
  buttons->addStretch();
  buttons->addWidget(CloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Tabs);
  layout->addLayout(buttons);
  // The first list with anything in it.
  for (int tab = 0; tab < Tabs->count(); ++tab)
    if (Model(tab).rowCount() > 0) {
      Tabs->setCurrentIndex(tab);
      break;
    }
}

void TFDetails::AddList(const QString& title, QStringList headers, std::vector<bool> numeric,
                        std::vector<std::vector<std::string>> rows) {
  const std::size_t count = rows.size();
  auto* view = new QTableView(Tabs);
  view->setModel(new ListModel(std::move(headers), std::move(numeric), std::move(rows), view));
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setWordWrap(false);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);  // no row measured
  view->verticalHeader()->hide();  // the lists number their rows as the tables do
  view->horizontalHeader()->setStretchLastSection(true);
  // Columns as wide as their titles and the first rows need; the rest is not measured.
  const auto* model = static_cast<const ListModel*>(view->model());
  for (int c = 0; c + 1 < model->columnCount(); ++c) {
    int width = view->fontMetrics().horizontalAdvance(
                    model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()) +
                24;
    for (int r = 0; r < std::min(model->rowCount(), 200); ++r)
      width = std::max(width, view->fontMetrics().horizontalAdvance(
                                  model->data(model->index(r, c), Qt::DisplayRole).toString()) +
                                  12);
    view->setColumnWidth(c, std::min(width, 320));
  }
  // Sorted on a click on a header; opened as the run listed the rows.
  view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  view->setSortingEnabled(true);
  Tabs->addTab(view, QString("%1 (%2)").arg(title).arg(count));
  Lists.push_back(view);
  titles_.push_back(title);
}

ListModel& TFDetails::Model(int tab) const {
  return *static_cast<ListModel*>(Lists.at(static_cast<std::size_t>(tab))->model());
}

void TFDetails::SaveButtonClick() {
  const int tab = Tabs->currentIndex();
  const QString proposed =
      main_.Proposed(" - " + titles_[static_cast<std::size_t>(tab)].toLower() + ".csv");
  const std::optional<SaveChoice> chosen =
      main_.dialogs().SaveFile(this, "Save List As", "Text CSV|*.csv", "csv", proposed, 0, true);
  if (!chosen) return;
  const merge::RoleFile file{merge::FileRole::SavedList, chosen->file.toStdString()};
  const std::vector<merge::RoleFile> inputs = main_.Params.Inputs();
  try {
    if (const std::optional<merge::Clash> clash = merge::FirstClash(inputs, {file}))
      throw std::runtime_error(merge::ClashSentence(*clash));
    merge::ResultFile list(merge::DiskFiles(), file, inputs);
    merge::DiskFiles().Write(list.Temporary(), Model(tab).Csv());
    list.Commit();
  } catch (const std::exception& e) {
    main_.dialogs().Message(this, QString::fromStdString(e.what()) + ".", "Error");
  }
}

}  // namespace gui

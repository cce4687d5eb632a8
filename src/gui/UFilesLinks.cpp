// The setup window's choices: title and data rows, links, columns to copy and the switches,
// each written straight into the main window's parameters.
#include "gui/UFiles.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>

#include "gui/PreviewGrid.hpp"
#include "gui/UFilesParts.hpp"
#include "gui/UMain.hpp"

namespace gui {

using namespace setup_window;

void TFFiles::ClearPendingLink() {
  LinkPending = false;
  PendingMainCol = -1;
  PendingAddCol = -1;
}

void TFFiles::StartRowChoice(bool mainTable, int& parameter, const QString& mode) {
  merge::Parameters& p = main_.Params;
  const bool sheetChosen = mainTable ? p.MainSheet >= 0 : p.AddSheet >= 0;
  const bool fileOpen = !(mainTable ? p.MainFile : p.AddFile).empty();
  if (!sheetChosen) {
    Note(fileOpen ? "Please select the sheet first"
                  : "You need open the file and select the sheet first");
    return;
  }
  parameter = -1;
  PreviewGrid* grid = mainTable ? Grid1 : Grid2;
  grid->SetTopRow(1);
  grid->SetLeftCol(1);
  grid->Repaint();
  ClickMode = mode;
  if (LinkPending) {
    ClearPendingLink();
    MinusButton->setEnabled(true);
  }
  RefreshPanels();
}

void TFFiles::TitleRowButton1Click() {
  StartRowChoice(true, main_.Params.MainTitleRow, "TitleRow1");
}

void TFFiles::FirstRowButton1Click() {
  StartRowChoice(true, main_.Params.MainFirstRow, "FirstRow1");
}

void TFFiles::TitleRowButton2Click() {
  StartRowChoice(false, main_.Params.AddTitleRow, "TitleRow2");
}

void TFFiles::PlusButtonClick() {
  const merge::Parameters& p = main_.Params;
  if (p.MainFile.empty() || p.AddFile.empty() || ClickMode == "IdxCol1" || ClickMode == "IdxCol2" ||
      p.MainSheet < 0 || p.AddSheet < 0)
    return;
  MinusButton->setEnabled(false);
  for (PreviewGrid* grid : {Grid1, Grid2}) {
    grid->SetTopRow(1);
    grid->SetLeftCol(1);
  }
  ClearPendingLink();
  LinkPending = true;
  RefreshPanels();
  ClickMode = "IdxCol1";
}

void TFFiles::AppendPendingLink() {
  merge::Parameters& p = main_.Params;
  if (static_cast<int>(p.Links.size()) <= p.LinkCount) p.Links.emplace_back();
  p.Links[static_cast<std::size_t>(p.LinkCount)] = {PendingMainCol, PendingAddCol, false};
  ClearPendingLink();
  ++p.LinkCount;
}

void TFFiles::MinusButtonClick() {
  merge::Parameters& p = main_.Params;
  const int position = indexlb->currentRow();
  if (p.MainFile.empty() || position < 0 || !indexlb->currentItem()->isSelected()) return;
  delete indexlb->takeItem(position);
  // No line stays chosen: a second "-" must not take another link.
  indexlb->setCurrentRow(-1);
  indexlb->clearSelection();
  for (std::size_t i = static_cast<std::size_t>(position); i + 1 < p.Links.size(); ++i)
    p.Links[i] = p.Links[i + 1];
  if (!p.Links.empty()) p.Links.back().Deleted = true;
  --p.LinkCount;
  Grid1->Repaint();
  Grid2->Repaint();
}

void TFFiles::values_cbClick() {
  main_.Params.KeepValues = values_cb->isChecked();
}

void TFFiles::near_cbClick() {
  // A setup's typos stay while the box stays checked.
  merge::NearMatch& near = main_.Params.Near;
  if (!near_cb->isChecked())
    near = merge::NearMatch::Off;
  else if (near == merge::NearMatch::Off)
    near = merge::NearMatch::Forms;
}

void TFFiles::duplicates_cbChange(int index) {
  constexpr merge::Duplicates kRules[] = {merge::Duplicates::AsFound, merge::Duplicates::First,
                                          merge::Duplicates::Last, merge::Duplicates::Refuse};
  if (index >= 0 && index < 4) main_.Params.DuplicateRule = kRules[index];
}

void TFFiles::CopyButtonClick() {
  if (ClickMode == "Copy") {
    ClickMode.clear();
  } else if (main_.Params.AddFile.empty()) {
    Note("File not opened");
  } else {
    if (LinkPending) {
      ClearPendingLink();
      MinusButton->setEnabled(true);
    }
    ClickMode = "Copy";
  }
  RefreshPanels();
  Grid2->Repaint();
}

void TFFiles::case_snes_cbClick() {
  main_.Params.CaseSensitive = case_snes_cb->isChecked();
}

}  // namespace gui

#include "merge/Parameters.hpp"

#include <variant>

#include "office/uOpenOffice.hpp"
#include "store/UClc.hpp"

namespace merge {

const char* DuplicatesName(Duplicates rule) {
  switch (rule) {
    case Duplicates::First:
      return "first";
    case Duplicates::Last:
      return "last";
    case Duplicates::Refuse:
      return "refuse";
    case Duplicates::AsFound:
      break;
  }
  return "";
}

std::optional<Duplicates> DuplicatesNamed(const std::string& name) {
  for (const Duplicates rule : {Duplicates::First, Duplicates::Last, Duplicates::Refuse})
    if (name == DuplicatesName(rule)) return rule;
  return std::nullopt;
}

const char* NearName(NearMatch near) {
  switch (near) {
    case NearMatch::Forms:
      return "forms";
    case NearMatch::Typos:
      return "typos";
    case NearMatch::Off:
      break;
  }
  return "";
}

std::optional<NearMatch> NearNamed(const std::string& name) {
  for (const NearMatch near : {NearMatch::Forms, NearMatch::Typos})
    if (name == NearName(near)) return near;
  return std::nullopt;
}

namespace {

constexpr FormatNames kFormats[] = {
    {ResultFormat::Ods, "ods", "Calc", ".ods", "ods"},
    {ResultFormat::Xlsx, "xlsx", "Xlsx", ".xlsx", "Excel 2007-365"},
    {ResultFormat::Csv, "csv", "Csv", ".csv", "Text CSV"},
};

}  // namespace

std::span<const FormatNames> ResultFormats() {
  return kFormats;
}

const FormatNames& NamesOf(ResultFormat format) {
  for (const FormatNames& names : kFormats)
    if (names.format == format) return names;
  return kFormats[0];
}

const char* StoreFormat(ResultFormat format) {
  return NamesOf(format).store;
}

const char* FormatName(ResultFormat format) {
  return NamesOf(format).name;
}

std::optional<ResultFormat> FormatNamed(const std::string& name) {
  for (const FormatNames& names : kFormats)
    if (name == names.name) return names.format;
  return std::nullopt;
}

bool Parameters::MainParamsComplete() const {
  return !MainFile.empty() && MainFirstRow >= 0 && AddThereColumn >= 0 && LinkCount > 0 &&
         MainSheet >= 0;
}

bool Parameters::AddParamsComplete() const {
  return !AddFile.empty() && LinkCount > 0 && AddSheet >= 0;
}

std::vector<std::string> Parameters::Missing() const {
  std::vector<std::string> missing;
  if (MainFile.empty()) {
    missing.push_back("the main table");
  } else {
    if (MainSheet < 0) missing.push_back("the main table's sheet");
    if (MainFirstRow < 0) missing.push_back("the main table's data begin row");
    if (MainSheet >= 0 && AddThereColumn < 1) missing.push_back("the column the copies begin at");
  }
  if (AddFile.empty())
    missing.push_back("the add table");
  else if (AddSheet < 0)
    missing.push_back("the add table's sheet");
  if (LinkCount <= 0) missing.push_back("a link");
  return missing;
}

std::string NotAllSpecified(const std::vector<std::string>& missing) {
  std::string sentence = "Not all the parameters are specified";
  for (std::size_t i = 0; i < missing.size(); ++i) sentence += (i == 0 ? ": " : ", ") + missing[i];
  return sentence;
}

void Parameters::ForgetTable(bool mainTable) {
  if (mainTable) {
    MainFile.clear();
    MainSheet = MainTitleRow = MainFirstRow = AddThereColumn = -1;
  } else {
    AddFile.clear();
    AddSheet = AddTitleRow = -1;
  }
  Links.clear();
  LinkCount = 0;
}

std::vector<TLink> Parameters::LiveLinks() const {
  std::vector<TLink> live;
  for (const TLink& link : Links)
    if (!link.Deleted) live.push_back(link);
  return live;
}

std::string Parameters::StoredTarget() const {
  if (Target.empty()) return {};
  return office::TOOCalc::ChooseStoreTarget(Target, StoreFormat(Format)).fileName;
}

std::vector<RoleFile> Parameters::Inputs() const {
  std::vector<RoleFile> inputs;
  for (const RoleFile& file :
       {RoleFile{FileRole::MainTable, MainFile}, RoleFile{FileRole::AddTable, AddFile},
        RoleFile{FileRole::Setup, SetupFile}})
    if (!file.name.empty()) inputs.push_back(file);
  return inputs;
}

std::vector<RoleFile> Parameters::Outputs() const {
  std::vector<RoleFile> outputs;
  for (const RoleFile& file :
       {RoleFile{FileRole::Result, StoredTarget()},
        RoleFile{FileRole::UnmatchedList, UnmatchedFile},
        RoleFile{FileRole::UnusedList, UnusedFile}, RoleFile{FileRole::MatchesList, MatchesFile}})
    if (!file.name.empty()) outputs.push_back(file);
  return outputs;
}

std::optional<Clash> Parameters::OutputClash() const {
  return FirstClash(Inputs(), Outputs());
}

std::optional<Unfit> Parameters::Check(const store::clc& store) const {
  using Kind = Unfit::Kind;
  if (!MainParamsComplete() || !AddParamsComplete() || AddThereColumn < 1)
    return Unfit{Kind::Incomplete, NotAllSpecified(Missing())};
  const auto sheetOf = [&](const char* which, std::int32_t book,
                           std::int32_t sheet) -> std::variant<const store::sheet*, Unfit> {
    if (book < 0 || static_cast<std::size_t>(book) >= store.Books.size())
      return Unfit{Kind::NotOpen, std::string("The ") + which + " table is not open"};
    const store::sheets& list = store.Books[static_cast<std::size_t>(book)].SheetList;
    if (sheet < 0 || static_cast<std::size_t>(sheet) >= list.size())
      return Unfit{Kind::NoSuchSheet, std::string("The ") + which + " table has no sheet " +
                                          std::to_string(sheet + 1)};
    return &list[static_cast<std::size_t>(sheet)];
  };
  const auto main = sheetOf("main", MainBook, MainSheet);
  if (const Unfit* unfit = std::get_if<Unfit>(&main)) return *unfit;
  const auto add = sheetOf("add", AddBook, AddSheet);
  if (const Unfit* unfit = std::get_if<Unfit>(&add)) return *unfit;
  // Columns are letters, so any column can be named; the office's sheets end somewhere.
  for (const TLink& link : LiveLinks())
    for (const auto& [column, sheet] :
         {std::pair{link.MainCol, std::get<0>(main)}, std::pair{link.AddCol, std::get<0>(add)}})
      if (column < 0 || column >= sheet->ColumnLimit)
        return Unfit{Kind::BeyondSheet, "The link column " + store::clc::ColumnName(column) +
                                            " is beyond the office's last column " +
                                            store::clc::ColumnName(sheet->ColumnLimit - 1)};
  const store::sheet& addSheet = *std::get<0>(add);
  for (const std::int32_t column : CopyColumns)
    if (column < 0 || column >= addSheet.ColCount)
      return Unfit{Kind::BeyondSheet, "The add column " + store::clc::ColumnName(column) +
                                          " is beyond the add table's last used column " +
                                          store::clc::ColumnName(addSheet.ColCount - 1)};
  return std::nullopt;
}

bool SetUp(store::clc& store, const Setup& setup, Parameters& p) {
  const auto open = [&store](const std::string& file, std::string& heldFile, std::int32_t& book) {
    if (book < 0 || static_cast<std::size_t>(book) >= store.Books.size() || heldFile != file)
      book = store.OpenBook(file);
    heldFile = file;
    return book >= 0;
  };
  if (!open(setup.MainFile, p.MainFile, p.MainBook) || !open(setup.AddFile, p.AddFile, p.AddBook))
    return false;
  const store::sheets& mainSheets = store.Books[static_cast<std::size_t>(p.MainBook)].SheetList;
  const std::size_t addSheets = store.Books[static_cast<std::size_t>(p.AddBook)].SheetList.size();
  if (setup.MainSheet < 0 || static_cast<std::size_t>(setup.MainSheet) >= mainSheets.size() ||
      setup.AddSheet < 0 || static_cast<std::size_t>(setup.AddSheet) >= addSheets)
    return false;
  p.MainSheet = setup.MainSheet;
  p.AddSheet = setup.AddSheet;
  p.MainTitleRow = setup.MainTitleRow;
  p.AddTitleRow = setup.AddTitleRow;
  p.MainFirstRow = setup.MainFirstRow;
  p.AddThereColumn = setup.AddThereColumn >= 0
                         ? setup.AddThereColumn
                         : mainSheets[static_cast<std::size_t>(p.MainSheet)].ColCount + 2;
  p.Links.clear();
  for (const auto& [mainCol, addCol] : setup.Links) p.Links.push_back({mainCol, addCol, false});
  p.LinkCount = static_cast<std::int32_t>(p.Links.size());
  p.CaseSensitive = setup.CaseSensitive;
  return true;
}

}  // namespace merge

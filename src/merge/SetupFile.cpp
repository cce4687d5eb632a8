#include "merge/SetupFile.hpp"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "merge/ResultFile.hpp"
#include "merge/RunFiles.hpp"
#include "store/UClc.hpp"

namespace merge {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Rows as the office shows them (1 = first), null when not chosen.
json Row(std::int32_t row) {
  return row < 0 ? json(nullptr) : json(row + 1);
}

json TableJson(const TableSetup& table, std::optional<std::int32_t> firstRow) {
  json j = {{"file", table.File},
            {"relative", table.Relative},
            {"sheet", table.Sheet},
            {"titleRow", Row(table.TitleRow)}};
  if (firstRow) j["firstRow"] = Row(*firstRow);
  return j;
}

json SetupJson(const SavedSetup& s) {
  json links = json::array();
  for (const auto& [mainCol, addCol] : s.Links)
    links.push_back(
        {{"main", store::clc::ColumnName(mainCol)}, {"add", store::clc::ColumnName(addCol)}});
  json copy = json::array();
  for (const std::int32_t column : s.CopyColumns) copy.push_back(store::clc::ColumnName(column));
  return {
      {"tabloom", kSetupVersion},
      {"main", TableJson(s.Main, s.MainFirstRow)},
      {"add", TableJson(s.Add, std::nullopt)},
      {"links", links},
      {"caseSensitive", s.CaseSensitive},
      {"match",
       {{"near", s.Near ? json(NearName(*s.Near)) : json(nullptr)},
        {"duplicates", s.DuplicateRule ? json(DuplicatesName(*s.DuplicateRule)) : json(nullptr)}}},
      {"result",
       {{"keepValues", s.KeepValues},
        {"copy", copy},
        {"target", s.Target},
        {"format", s.Format ? json(FormatName(*s.Format)) : json(nullptr)}}}};
}

// What a damaged file holds wrongly is told by its key.
struct Damage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::int32_t ReadRow(const json& table, const char* key) {
  if (!table.contains(key) || table.at(key).is_null()) return -1;
  const json& v = table.at(key);
  if (!v.is_number_integer() || v.get<std::int64_t>() < 1 || v.get<std::int64_t>() > 1048576)
    throw Damage(std::string("\"") + key + "\" is no row number");
  return static_cast<std::int32_t>(v.get<std::int64_t>() - 1);
}

std::int32_t ReadColumn(const json& letters) {
  const std::int32_t column =
      letters.is_string() ? store::clc::ColumnIndex(letters.get<std::string>()) : -1;
  if (column < 0) throw Damage("\"" + letters.dump() + "\" is no column");
  return column;
}

TableSetup ReadTable(const json& j) {
  TableSetup t;
  t.File = j.value("file", std::string());
  t.Relative = j.value("relative", std::string());
  t.Sheet = j.value("sheet", std::string());
  t.TitleRow = ReadRow(j, "titleRow");
  return t;
}

SavedSetup FromJson(const json& j) {
  SavedSetup s;
  s.Main = ReadTable(j.at("main"));
  s.Add = ReadTable(j.at("add"));
  s.MainFirstRow = ReadRow(j.at("main"), "firstRow");
  for (const json& link : j.value("links", json::array()))
    s.Links.emplace_back(ReadColumn(link.at("main")), ReadColumn(link.at("add")));
  s.CaseSensitive = j.value("caseSensitive", true);
  const json match = j.value("match", json::object());
  if (match.contains("near") && !match.at("near").is_null()) {
    const std::string near = match.at("near").get<std::string>();
    s.Near = NearNamed(near);
    if (!s.Near) throw Damage("\"" + near + "\" is no way to match near keys");
  }
  if (match.contains("duplicates") && !match.at("duplicates").is_null()) {
    const std::string rule = match.at("duplicates").get<std::string>();
    s.DuplicateRule = DuplicatesNamed(rule);
    if (!s.DuplicateRule) throw Damage("\"" + rule + "\" is no rule for duplicate keys");
  }
  const json result = j.value("result", json::object());
  s.KeepValues = result.value("keepValues", false);
  for (const json& column : result.value("copy", json::array()))
    s.CopyColumns.push_back(ReadColumn(column));
  s.Target = result.value("target", std::string());
  if (result.contains("format") && !result.at("format").is_null()) {
    const std::string format = result.at("format").get<std::string>();
    s.Format = FormatNamed(format);
    if (!s.Format) throw Damage("\"" + format + "\" is no result format");
  }
  return s;
}

std::string RelativeTo(const std::string& file, const fs::path& folder) {
  if (file.empty()) return {};
  std::error_code ec;
  const fs::path absolute = fs::weakly_canonical(fs::absolute(file, ec), ec);
  const fs::path base = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  return absolute.lexically_relative(base).generic_string();
}

}  // namespace

void WriteSetup(SavedSetup setup, const fs::path& file) {
  const fs::path folder = fs::absolute(file).parent_path();
  setup.Main.Relative = RelativeTo(setup.Main.File, folder);
  setup.Add.Relative = RelativeTo(setup.Add.File, folder);
  std::string text;
  try {
    text = SetupJson(setup).dump(2) + "\n";
  } catch (const json::exception&) {  // a name that is not UTF-8
    throw SetupError("The setup cannot be saved: a file or sheet name is not UTF-8.");
  }
  std::error_code ec;
  if (fs::exists(file, ec) && !IsSetupFile(file))
    throw SetupError(file.string() + " is not a Tabloom setup file; it was left as it is.");
  // As every file the program writes: whole, synced, in the old file's place with its mode.
  try {
    ResultFile out(DiskFiles(), {FileRole::Setup, file.string()}, {});
    DiskFiles().Write(out.Temporary(), text);
    out.Commit();
  } catch (const std::runtime_error& e) {
    throw SetupError("The setup cannot be written to " + file.string() + ": " + e.what() + ".");
  }
}

namespace {

// The file's JSON when it holds a Tabloom setup of any version, else a discarded value.
json SetupJsonOf(const fs::path& file, bool& readable) {
  std::ifstream in(file, std::ios::binary);
  readable = static_cast<bool>(in);
  if (!readable) return json(json::value_t::discarded);
  std::ostringstream text;
  text << in.rdbuf();
  json j = json::parse(text.str(), nullptr, false);
  if (j.is_discarded() || !j.is_object() || !j.contains("tabloom") ||
      !j.at("tabloom").is_number_integer())
    return json(json::value_t::discarded);
  return j;
}

}  // namespace

bool IsSetupFile(const fs::path& file) {
  bool readable = false;
  return !SetupJsonOf(file, readable).is_discarded();
}

SavedSetup ReadSetup(const fs::path& file) {
  bool readable = false;
  const json j = SetupJsonOf(file, readable);
  if (!readable) throw SetupError("The setup file " + file.string() + " cannot be read.");
  if (j.is_discarded()) throw SetupError(file.string() + " is not a Tabloom setup file.");
  if (const std::int64_t version = j.at("tabloom").get<std::int64_t>(); version > kSetupVersion)
    throw SetupError(file.string() + " was saved by a newer Tabloom (setup version " +
                     std::to_string(version) + "); this one reads version " +
                     std::to_string(kSetupVersion) + ". Nothing was changed.");
  try {
    return FromJson(j);
  } catch (const Damage& e) {
    throw SetupError("The setup file " + file.string() + " is damaged: " + e.what() + ".");
  } catch (const json::exception&) {
    throw SetupError("The setup file " + file.string() + " is damaged.");
  }
}

SavedSetup Capture(const store::clc& store, const Parameters& p, const std::string& target) {
  const auto sheetName = [&store](std::int32_t book, std::int32_t sheet) -> std::string {
    if (book < 0 || sheet < 0 || static_cast<std::size_t>(book) >= store.Books.size()) return {};
    const store::sheets& list = store.Books[static_cast<std::size_t>(book)].SheetList;
    return static_cast<std::size_t>(sheet) < list.size()
               ? list[static_cast<std::size_t>(sheet)].Name
               : std::string();
  };
  SavedSetup s;
  s.Main = {p.MainFile, {}, sheetName(p.MainBook, p.MainSheet), p.MainTitleRow};
  s.Add = {p.AddFile, {}, sheetName(p.AddBook, p.AddSheet), p.AddTitleRow};
  s.MainFirstRow = p.MainFirstRow;
  for (const TLink& link : p.LiveLinks()) s.Links.emplace_back(link.MainCol, link.AddCol);
  s.CaseSensitive = p.CaseSensitive;
  s.KeepValues = p.KeepValues;
  s.CopyColumns = p.CopyColumns;
  s.Target = target;
  s.Format = p.Format;
  if (p.Near != NearMatch::Off) s.Near = p.Near;
  if (p.DuplicateRule != Duplicates::AsFound) s.DuplicateRule = p.DuplicateRule;
  return s;
}

std::int32_t FindSheet(const store::sheets& sheets, const std::string& wanted) {
  for (std::size_t i = 0; i < sheets.size(); ++i)
    if (sheets[i].Name == wanted) return static_cast<std::int32_t>(i);
  std::int64_t k = 0;
  for (const char c : wanted) {
    if (c < '0' || c > '9' || k > static_cast<std::int64_t>(sheets.size())) return -1;
    k = k * 10 + (c - '0');
  }
  if (wanted.empty() || k < 1 || k > static_cast<std::int64_t>(sheets.size())) return -1;
  return static_cast<std::int32_t>(k - 1);
}

Location Locate(const TableSetup& table, const fs::path& setupFolder) {
  std::error_code ec;
  const bool chosenThere = !table.File.empty() && fs::exists(table.File, ec);
  if (!table.Relative.empty()) {
    const std::string beside = (setupFolder / table.Relative).lexically_normal().string();
    if (fs::exists(beside, ec))
      return {beside, chosenThere && !SameFile(beside, table.File) ? table.File : std::string()};
  }
  if (chosenThere) return {table.File, {}};
  return {table.File.empty() ? table.Relative : table.File, {}};
}

std::string CannotOpenSentence(const char* which, const std::string& file,
                               const store::clc& store) {
  if (store.LastOpenTooLong) return store.LastOpenError;  // a sentence that names the file
  std::error_code ec;
  const std::string cause = !fs::exists(file, ec) ? "there is no such file" : store.LastOpenError;
  return std::string("The ") + which + " table " + file + " cannot be opened" +
         (cause.empty() ? "" : ": " + cause);
}

std::string NoSuchSheetSentence(const char* which, const std::string& sheet) {
  return "The sheet \"" + sheet + "\" is not in the " + which + " table";
}

namespace {

// One table of a setup opened and its sheet found: the sheet, or null with a note.
const store::sheet* OpenTable(store::clc& store, const char* which, const TableSetup& table,
                              const fs::path& folder, std::string& file, std::int32_t& book,
                              std::int32_t& sheet, std::vector<SetupNote>& notes) {
  using Kind = SetupNote::Kind;
  if (table.File.empty() && table.Relative.empty()) return nullptr;
  const Location located = Locate(table, folder);
  book = store.OpenBook(located.file);
  if (book < 0) {
    notes.push_back({Kind::CannotOpen, CannotOpenSentence(which, located.file, store)});
    return nullptr;
  }
  file = located.file;
  if (!located.passedOver.empty())
    notes.push_back({Kind::Used, std::string("The ") + which + " table beside the setup, " +
                                     located.file + ", was used, not " + located.passedOver});
  if (table.Sheet.empty()) {
    notes.push_back(
        {Kind::NotChosen, std::string("The setup chooses no sheet of the ") + which + " table"});
    return nullptr;
  }
  const store::sheets& sheets = store.Books[static_cast<std::size_t>(book)].SheetList;
  sheet = FindSheet(sheets, table.Sheet);
  if (sheet < 0) {
    notes.push_back({Kind::CannotOpen, NoSuchSheetSentence(which, table.Sheet)});
    return nullptr;
  }
  return &sheets[static_cast<std::size_t>(sheet)];
}

// A row the sheet still has, else -1 and a note.
std::int32_t RowThatFits(std::int32_t row, const store::sheet& sheet, const std::string& what,
                         std::vector<SetupNote>& notes) {
  if (row < sheet.RowCount) return row;
  notes.push_back({SetupNote::Kind::BeyondSheet, what + " " + std::to_string(row + 1) +
                                                     " is beyond its last row " +
                                                     std::to_string(sheet.RowCount)});
  return -1;
}

std::string BeyondColumn(const char* what, std::int32_t column, const char* which,
                         const store::sheet& sheet) {
  return std::string("The ") + what + " " + store::clc::ColumnName(column) + " is beyond the " +
         which + " table's last used column " + store::clc::ColumnName(sheet.ColCount - 1);
}

}  // namespace

std::vector<SetupNote> Restore(store::clc& store, const SavedSetup& setup,
                               const fs::path& setupFolder, Parameters& p) {
  std::vector<SetupNote> notes;
  const store::sheet* main =
      OpenTable(store, "main", setup.Main, setupFolder, p.MainFile, p.MainBook, p.MainSheet, notes);
  const store::sheet* add =
      OpenTable(store, "add", setup.Add, setupFolder, p.AddFile, p.AddBook, p.AddSheet, notes);
  if (main) {
    p.MainTitleRow = RowThatFits(setup.Main.TitleRow, *main, "The main table's title row", notes);
    p.MainFirstRow = RowThatFits(setup.MainFirstRow, *main, "The main table's first row", notes);
    p.AddThereColumn = main->ColCount + 2;  // one empty column after the main table's last
  }
  if (add)
    p.AddTitleRow = RowThatFits(setup.Add.TitleRow, *add, "The add table's title row", notes);
  p.Links.clear();
  for (const auto& [mainCol, addCol] : setup.Links) {
    if (main && mainCol >= main->ColCount)
      notes.push_back(
          {SetupNote::Kind::BeyondSheet, BeyondColumn("link column", mainCol, "main", *main)});
    else if (add && addCol >= add->ColCount)
      notes.push_back(
          {SetupNote::Kind::BeyondSheet, BeyondColumn("link column", addCol, "add", *add)});
    else
      p.Links.push_back({mainCol, addCol, false});
  }
  p.LinkCount = static_cast<std::int32_t>(p.Links.size());
  p.CopyColumns.clear();
  for (const std::int32_t column : setup.CopyColumns) {
    if (add && column >= add->ColCount)
      notes.push_back(
          {SetupNote::Kind::BeyondSheet, BeyondColumn("add column", column, "add", *add)});
    else
      p.CopyColumns.push_back(column);
  }
  p.CaseSensitive = setup.CaseSensitive;
  p.KeepValues = setup.KeepValues;
  p.Format = setup.Format.value_or(ResultFormat::Ods);
  p.Near = setup.Near.value_or(NearMatch::Off);
  p.DuplicateRule = setup.DuplicateRule.value_or(Duplicates::AsFound);
  return notes;
}

std::string ShellQuote(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_-+=,.:/@%") == std::string::npos;
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::vector<std::string> CommandArguments(const SavedSetup& s) {
  std::vector<std::string> args = {"merge"};
  const auto add = [&args](std::initializer_list<std::string> words) {
    args.insert(args.end(), words);
  };
  if (!s.Main.Sheet.empty()) add({"--main-sheet", s.Main.Sheet});
  if (!s.Add.Sheet.empty()) add({"--add-sheet", s.Add.Sheet});
  if (s.Main.TitleRow >= 0) add({"--main-title-row", std::to_string(s.Main.TitleRow + 1)});
  if (s.MainFirstRow >= 0) add({"--first-row", std::to_string(s.MainFirstRow + 1)});
  if (s.Add.TitleRow >= 0) add({"--add-title-row", std::to_string(s.Add.TitleRow + 1)});
  for (const auto& [mainCol, addCol] : s.Links)
    add({"--link", store::clc::ColumnName(mainCol) + "=" + store::clc::ColumnName(addCol)});
  if (!s.CaseSensitive) add({"--ignore-case"});
  if (s.KeepValues) add({"--keep-values"});
  if (!s.CopyColumns.empty()) {
    std::string list;
    for (const std::int32_t column : s.CopyColumns)
      list += (list.empty() ? "" : ",") + store::clc::ColumnName(column);
    add({"--copy", list});
  }
  if (s.Format && *s.Format != ResultFormat::Ods) add({"--format", FormatName(*s.Format)});
  if (s.Near == NearMatch::Forms) add({"--near"});
  if (s.Near == NearMatch::Typos) add({std::string("--near=") + NearName(NearMatch::Typos)});
  if (s.DuplicateRule && *s.DuplicateRule != Duplicates::AsFound)
    add({"--duplicates", DuplicatesName(*s.DuplicateRule)});
  add({"-o", s.Target, "--", s.Main.File, s.Add.File});
  return args;
}

std::string CommandLine(const std::string& program, const SavedSetup& setup) {
  std::string line = ShellQuote(program);
  for (const std::string& word : CommandArguments(setup)) line += " " + ShellQuote(word);
  return line;
}

}  // namespace merge

#include "support/OfficeTesting.hpp"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

namespace office_testing {

automation::ObjectRef SharedOfficeFactory::CreateObject(std::string_view progId) {
  if (shared_) {
    try {
      Variant(shared_).Call("CreateInstance", "com.sun.star.frame.Desktop");
      return shared_;
    } catch (const automation::Error&) {
      shared_.reset();  // terminated: start another
    }
  }
  shared_ = automation::SystemFactory().CreateObject(progId);
  return shared_;
}

SharedOfficeFactory& SharedOffice() {
  // Never destroyed: office objects must be released before the process exits (UNO's own
  // statics are gone by then), which RunOfficeTests and the benchmarks do explicitly.
  static auto* factory = new SharedOfficeFactory;
  return *factory;
}

std::vector<pid_t> ChildOfficePids(pid_t parent) {
  if (parent == 0) parent = ::getpid();
  std::vector<pid_t> pids;
  DIR* proc = ::opendir("/proc");
  if (!proc) return pids;
  while (dirent* entry = ::readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...
    const auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    const std::string comm = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (comm == "soffice.bin" && ppid == parent && state != 'Z') pids.push_back(pid);
  }
  ::closedir(proc);
  return pids;
}

char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return '\0';
  const auto close = line.rfind(')');
  return close == std::string::npos || line.size() <= close + 2 ? '\0' : line[close + 2];
}

bool ProcessEnded(pid_t pid) {
  const char state = ProcessState(pid);
  return state == '\0' || state == 'Z';
}

namespace {

// Child mode of the crash test: start an office, tell its process id, die without cleanup.
[[noreturn]] void StartOfficeAndDie() {
  auto calc = new office::TOOCalc(automation::SystemFactory());  // never freed: we crash
  calc->Connect(true);
  for (pid_t pid : ChildOfficePids()) std::printf("%d\n", pid);
  std::fflush(stdout);
  ::raise(SIGKILL);
  std::abort();
}

}  // namespace

const char* const kStartOfficeAndDie = "--start-office-and-die";

int RunOfficeTests(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == kStartOfficeAndDie) StartOfficeAndDie();
  testing::InitGoogleTest(&argc, argv);
  int status = RUN_ALL_TESTS();
  SharedOffice().Release();
  const auto left = ChildOfficePids();
  if (!left.empty()) {
    std::fprintf(stderr, "FAILED: %zu office process(es) left running by this test program\n",
                 left.size());
    status = 1;
  }
  return status;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TempDir::TempDir() {
  std::random_device random;
  path_ = fs::temp_directory_path() /
          ("tabloom-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

namespace {

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

void WriteFlatOds(const std::string& fileName, const std::vector<SheetSpec>& sheets,
                  std::int32_t activeSheet) {
  std::map<std::int32_t, std::string> backgrounds;  // office colour -> style name
  for (const auto& sheet : sheets)
    for (const auto& c : sheet.cells)
      if (c.backColor && !backgrounds.count(*c.backColor))
        backgrounds[*c.backColor] = "bg" + std::to_string(backgrounds.size());

  std::ofstream out(fileName);
  out << R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
      << R"(xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
      << R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
      << R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
      << R"(xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" )"
      << R"(xmlns:config="urn:oasis:names:tc:opendocument:xmlns:config:1.0" )"
      << R"(office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">)"
      << "\n<office:settings><config:config-item-set config:name=\"ooo:view-settings\">"
      << "<config:config-item-map-indexed config:name=\"Views\"><config:config-item-map-entry>"
      << "<config:config-item config:name=\"ViewId\" "
         "config:type=\"string\">view1</config:config-item>"
      << "<config:config-item config:name=\"ActiveTable\" config:type=\"string\">"
      << XmlEscape(sheets.at(static_cast<std::size_t>(activeSheet)).name)
      << "</config:config-item></config:config-item-map-entry></config:config-item-map-indexed>"
      << "</config:config-item-set></office:settings>\n<office:automatic-styles>";
  char hex[8];
  for (const auto& [color, style] : backgrounds) {
    std::snprintf(hex, sizeof hex, "#%06x", static_cast<unsigned>(color) & 0xFFFFFF);
    out << "<style:style style:name=\"" << style << "\" style:family=\"table-cell\">"
        << "<style:table-cell-properties fo:background-color=\"" << hex << "\"/></style:style>";
  }
  out << "</office:automatic-styles>\n<office:body><office:spreadsheet>\n";
  for (const auto& sheet : sheets) {
    std::map<std::pair<std::int32_t, std::int32_t>, const CellSpec*> grid;
    std::int32_t rows = 0, columns = 0;
    for (const auto& c : sheet.cells) {
      grid[{c.row, c.column}] = &c;
      rows = std::max(rows, c.row + 1);
      columns = std::max(columns, c.column + 1);
    }
    out << "<table:table table:name=\"" << XmlEscape(sheet.name) << "\">";
    if (rows == 0) out << "<table:table-row><table:table-cell/></table:table-row>";
    for (std::int32_t r = 0; r < rows; ++r) {
      out << "<table:table-row>";
      for (std::int32_t col = 0; col < columns; ++col) {
        const auto it = grid.find({r, col});
        if (it == grid.end()) {
          out << "<table:table-cell/>";
          continue;
        }
        const CellSpec& c = *it->second;
        out << "<table:table-cell";
        if (c.backColor) out << " table:style-name=\"" << backgrounds[*c.backColor] << "\"";
        if (c.number) {
          std::ostringstream value;
          value.precision(17);
          value << *c.number;
          out << " office:value-type=\"float\" office:value=\"" << value.str() << "\"><text:p>"
              << value.str() << "</text:p></table:table-cell>";
        } else if (!c.text.empty()) {
          out << " office:value-type=\"string\"><text:p>" << XmlEscape(c.text)
              << "</text:p></table:table-cell>";
        } else {
          out << "/>";
        }
      }
      out << "</table:table-row>";
    }
    out << "</table:table>\n";
  }
  out << "</office:spreadsheet></office:body></office:document>\n";
}

std::int32_t FormatKey(office::TOOCalc& calc, const std::string& code) {
  const Variant formats = calc.Document.Call("getNumberFormats");
  Variant locale = calc.ServiceManager.Call("Bridge_GetStruct", "com.sun.star.lang.Locale");
  locale.Set("Language", "en");
  locale.Set("Country", "US");
  const std::int32_t key = formats.Call("queryKey", code, locale, false).AsInt();
  return key >= 0 ? key : formats.Call("addNew", code, locale).AsInt();
}

const std::vector<std::pair<double, std::string>> kFormattedNumbers = {
    {1234.5, "#,##0.00 [$€-407]"},
    {0.256, "0%"},
    {1, "BOOLEAN"},
    {0, "BOOLEAN"},
    {12345.678, "0.00E+00"},
    {-2.5, "0.0;[RED]-0.0"},
    {0.75, "# ?/?"},
    {0.5, "HH:MM:SS"},
    {0, ""},
    {-7, "0.0;(0.0)"},
    {42, "@"},
    {42, "@\" kg\""},
    {1e20, ""},
    {1.5e-7, ""},
    {0.1 + 0.2, ""},
    {123456789012345678.0, "0"},
    {45000.25, "NNNN, D. MMMM YYYY"},
    {-0.0001, "0.00"}};

const std::vector<const char*> kFormulaKinds = {
    "=1/0", "=NA()", "=\"x\"&\"y\"", "=TODAY()>0", "=DATE(2024;2;29)", "=B21*3"};

SheetSpec CustomersSheet() {
  return {"Customers",
          {{0, 0, "ID", {}, {}},
           {1, 0, "Name", {}, {}},
           {0, 1, "C-03", {}, {}},
           {1, 1, "Åsa", {}, {}},
           {0, 2, "C-17", {}, {}},
           {1, 2, "Chloé", {}, {}}}};
}

NewBook::NewBook(const std::vector<std::string>& sheetNames) : calc(SharedOffice()) {
  calc.Connect(true);
  if (!calc.IsConnected()) throw std::runtime_error("no office");
  calc.LoadDocument("", office::loHidden, 0);
  const Variant all = calc.Document.Call("getSheets");
  for (std::size_t i = 0; i < sheetNames.size(); ++i) {
    if (i == 0)
      all.Call("getByIndex", std::int32_t{0}).Set("Name", sheetNames[0]);
    else
      all.Call("insertNewByName", sheetNames[i], static_cast<std::int32_t>(i));
  }
}

NewBook::~NewBook() {
  try {
    calc.Document.Call("close", true);
  } catch (const automation::Error&) {
    // the office went first
  }
}

Variant NewBook::Sheet(std::int32_t index) const {
  return calc.Document.Call("getSheets").Call("getByIndex", index);
}

void NewBook::Store(const std::string& fileName) {
  calc.StoreDocument(fileName, fileName.ends_with(".xls") ? "Excel97" : "Calc");
}

void MakeWorkbook(const std::string& fileName, const std::vector<SheetSpec>& sheets,
                  std::int32_t activeSheet) {
  std::vector<std::string> names;
  for (const SheetSpec& sheet : sheets) names.push_back(sheet.name);
  NewBook book(names);
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    const Variant sheet = book.Sheet(static_cast<std::int32_t>(i));
    for (const CellSpec& c : sheets[i].cells) {
      const Variant cell = sheet.Call("getCellByPosition", c.column, c.row);
      if (c.number)
        cell.Call("setValue", *c.number);
      else if (!c.text.empty())
        cell.Call("setString", c.text);
      if (c.backColor) cell.Set("CellBackColor", *c.backColor);
    }
  }
  book.calc.Sheets().ActivateSheet(activeSheet);
  book.Store(fileName);
}

void OfficeTest::SetUp() {
  calc = std::make_unique<office::TOOCalc>(SharedOffice());
  calc->Connect(true);
  ASSERT_TRUE(calc->IsConnected());
}

void OfficeTest::TearDown() {
  if (!calc) return;
  for (const Variant& doc : calc->Documents) {
    try {
      if (doc.IsObject()) doc.Call("close", true);
    } catch (const automation::Error&) {
      // closed by the test already
    }
  }
  calc.reset();
}

}  // namespace office_testing

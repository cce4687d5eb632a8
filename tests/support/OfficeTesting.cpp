#include "support/OfficeTesting.hpp"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
  static SharedOfficeFactory factory;
  return factory;
}

std::vector<pid_t> ChildOfficePids() {
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
    if (comm == "soffice.bin" && ppid == ::getpid() && state != 'Z') pids.push_back(pid);
  }
  ::closedir(proc);
  return pids;
}

int RunOfficeTests(int argc, char** argv) {
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

void MakeWorkbook(const std::string& fileName, const std::vector<SheetSpec>& sheets,
                  std::int32_t activeSheet) {
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  if (!calc.IsConnected()) throw std::runtime_error("no office");
  calc.LoadDocument("", office::loHidden, 0);
  const Variant doc = calc.Document;
  try {
    const Variant all = doc.Call("getSheets");
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      if (i == 0)
        all.Call("getByIndex", std::int32_t{0}).Set("Name", sheets[0].name);
      else
        all.Call("insertNewByName", sheets[i].name, static_cast<std::int32_t>(i));
      const Variant sheet = all.Call("getByIndex", static_cast<std::int32_t>(i));
      for (const CellSpec& c : sheets[i].cells) {
        const Variant cell = sheet.Call("getCellByPosition", c.column, c.row);
        if (c.number)
          cell.Call("setValue", *c.number);
        else if (!c.text.empty())
          cell.Call("setString", c.text);
        if (c.backColor) cell.Set("CellBackColor", *c.backColor);
      }
    }
    calc.Sheets().ActivateSheet(activeSheet);
    calc.StoreDocument(fileName, fileName.ends_with(".xls") ? "Excel97" : "Calc");
  } catch (...) {
    doc.Call("close", true);
    throw;
  }
  doc.Call("close", true);
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

// The office process: started privately, ended with its connection, dead with our process,
// and absent without harm.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "office/uOpenOffice.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;

bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

// Office processes started while `work` runs.
std::vector<pid_t> StartedDuring(const std::function<void()>& work) {
  const auto before = ChildOfficePids();
  work();
  std::vector<pid_t> started;
  for (pid_t pid : ChildOfficePids())
    if (std::find(before.begin(), before.end(), pid) == before.end()) started.push_back(pid);
  return started;
}

TEST(OfficeProcess, EndsWhenTheConnectionEnds) {
  auto calc = std::make_unique<office::TOOCalc>();
  const auto started = StartedDuring([&] { calc->Connect(true); });
  ASSERT_TRUE(calc->IsConnected());
  ASSERT_EQ(started.size(), 1u);
  calc->LoadDocument("", office::loHidden, 0);  // an open document does not keep it alive
  calc.reset();
  EXPECT_FALSE(Alive(started[0]));
}

TEST(OfficeProcess, ClosingTheLastDocumentTerminatesTheOffice) {
  office::TOOCalc calc;
  const auto started = StartedDuring([&] { calc.Connect(true); });
  ASSERT_EQ(started.size(), 1u);
  calc.LoadDocument("", office::loHidden, 0);
  calc.LoadDocument("", office::loHidden, 0);
  calc.CloseDocument();
  EXPECT_TRUE(calc.IsConnected());
  ASSERT_TRUE(calc.SelectDocument(0));
  calc.CloseDocument();
  EXPECT_FALSE(calc.IsConnected());
  EXPECT_TRUE(WaitFor([&] { return !Alive(started[0]); }, std::chrono::seconds(10)));
}

TEST(OfficeProcess, AnOfficeThatDiesMidWorkGivesErrorsNotCrashes) {
  auto calc = std::make_unique<office::TOOCalc>();
  const auto started = StartedDuring([&] { calc->Connect(true); });
  ASSERT_EQ(started.size(), 1u);
  calc->LoadDocument("", office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc->Sheets().SheetByIndex(0);
  ::kill(started[0], SIGKILL);
  EXPECT_THROW(sheet.CellAt(0, 0).WriteString("x"), automation::Error);
  EXPECT_THROW(calc->LoadDocument("", office::loHidden, 0), automation::Error);
  EXPECT_THROW(calc->CloseDocument(), automation::Error);
  calc.reset();  // ends a connection whose office is gone
  EXPECT_FALSE(Alive(started[0]));
}

TEST(OfficeProcess, DiesWithOurProcess) {
  // The orphaned office comes to us, so we can see it die and reap it.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe " + kStartOfficeAndDie;
  FILE* child = ::popen(command.c_str(), "r");
  ASSERT_NE(child, nullptr);
  int pid = 0;
  const bool told = std::fscanf(child, "%d", &pid) == 1;
  ::pclose(child);
  ASSERT_TRUE(told) << "the child started no office";
  EXPECT_TRUE(WaitFor([&] { return !Alive(pid); }, std::chrono::seconds(10)));
  if (Alive(pid)) ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST(OfficeProcess, NoOfficeWhereUnoPathPointsMeansNotConnected) {
  ::setenv("UNO_PATH", "/nonexistent/program", 1);
  office::TOOCalc calc;
  const auto started = StartedDuring([&] { EXPECT_NO_THROW(calc.Connect(true)); });
  ::unsetenv("UNO_PATH");
  EXPECT_FALSE(calc.IsConnected());
  EXPECT_TRUE(started.empty());
}

}  // namespace

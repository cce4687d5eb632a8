// The office process: started privately, ended with its connection, dead with our process,
// and absent without harm.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "automation/Backend.hpp"
#include "office/uOpenOffice.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;

bool Alive(pid_t pid) {
  return !ProcessEnded(pid);
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
  // A call may write to the dead office's pipe before the bridge has seen it close: that must
  // be an error, not SIGPIPE's end of the program.
  struct sigaction pipe {};
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &pipe), 0);
  EXPECT_EQ(pipe.sa_handler, SIG_IGN);
  // The socket of its pipe, named on its command line ("--accept=pipe,name=NAME;urp;...").
  std::ifstream cmdline("/proc/" + std::to_string(started[0]) + "/cmdline");
  const std::string args{std::istreambuf_iterator<char>(cmdline), {}};
  const std::size_t at = args.find("pipe,name=") + 10;
  const std::string socket = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" +
                             args.substr(at, args.find(';', at) - at);
  EXPECT_TRUE(fs::exists(socket)) << socket;
  ::kill(started[0], SIGKILL);
  try {
    sheet.CellAt(0, 0).WriteString("x");
    ADD_FAILURE() << "a dead office answered";
  } catch (const automation::ConnectionLost& e) {
    EXPECT_STREQ(e.what(), "The office ended unexpectedly (killed by signal 9)");
  }
  EXPECT_THROW(calc->LoadDocument("", office::loHidden, 0), automation::ConnectionLost);
  EXPECT_THROW(calc->CloseDocument(), automation::ConnectionLost);
  calc.reset();  // ends a connection whose office is gone
  EXPECT_FALSE(Alive(started[0]));
  EXPECT_FALSE(fs::exists(socket));  // a killed office's socket does not stay behind
}

// An office stopped in the middle of a call: the call limit ends it, as does an abort from
// another thread while the call waits for its answer; either way the call returns with the
// reason, and so does every later call.
TEST(OfficeProcess, AnOfficeThatStopsAnsweringIsEnded) {
  for (const bool abort : {false, true}) {
    SCOPED_TRACE(abort ? "aborted" : "past the limit");
    auto calc = std::make_unique<office::TOOCalc>();
    const auto started = StartedDuring([&] { calc->Connect(true); });
    ASSERT_EQ(started.size(), 1u);
    calc->LoadDocument("", office::loHidden, 0);
    office::TOOCalcSheet& sheet = calc->Sheets().SheetByIndex(0);
    ::kill(started[0], SIGSTOP);
    std::thread aborter;
    const auto caller = static_cast<pid_t>(::syscall(SYS_gettid));
    std::atomic<bool> calling{false};
    if (abort)
      aborter = std::thread([&] {
        // In flight: the calling thread sleeps, waiting for the answer, for 20 looks.
        int asleep = 0;
        EXPECT_TRUE(WaitFor(
            [&] { return (asleep = calling && ProcessState(caller) == 'S' ? asleep + 1 : 0) > 20; },
            std::chrono::seconds(30)));
        automation::SystemFactory().Abort();
      });
    else
      automation::SystemFactory().SetCallTimeout(std::chrono::milliseconds(300));
    try {
      calling = true;
      sheet.CellAt(0, 0).WriteString("x");
      ADD_FAILURE() << "a stopped office answered";
    } catch (const automation::ConnectionLost& e) {
      EXPECT_STREQ(e.what(), abort ? "The office was ended before the work was done"
                                   : "The office stopped answering: no answer within 0.3 "
                                     "seconds, so it was ended");
    }
    if (aborter.joinable()) aborter.join();
    automation::SystemFactory().SetCallTimeout(std::chrono::minutes(10));
    EXPECT_THROW(calc->Sheets().SheetCount(), automation::ConnectionLost);
    calc.reset();
    EXPECT_FALSE(Alive(started[0]));
  }
}

// A program that dies leaves its office's profile (and the office's temporary files in it)
// behind; the next start removes it.
TEST(OfficeProcess, DiesWithOurProcess) {
  TempDir tmp;
  const std::string tmpdir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", tmp.path().c_str(), 1);
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
  ASSERT_FALSE(fs::is_empty(tmp.path()));  // the dead program's office profile

  office::TOOCalc next;
  next.Connect(true);
  ASSERT_TRUE(next.IsConnected());
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(tmp.path())) left.push_back(entry.path());
  EXPECT_EQ(left.size(), 1u);  // the new office's own profile only
  next.Connect(false);
  EXPECT_TRUE(WaitFor([&] { return fs::is_empty(tmp.path()); }, std::chrono::seconds(10)));
  if (tmpdir.empty())
    ::unsetenv("TMPDIR");
  else
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
}

// The program's end: the office goes with the shutdown, and an office object still held (here
// until static data is destroyed, after UNO's own) is let go of without a crash.
automation::ObjectRef heldToTheEnd;

TEST(OfficeProcess, TheShutdownEndsTheOfficeAndAnObjectHeldLongerIsHarmless) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        automation::ObjectFactory& factory = automation::SystemFactory();
        const auto started = StartedDuring(
            [&] { heldToTheEnd = factory.CreateObject("com.sun.star.ServiceManager"); });
        if (started.size() != 1) std::exit(2);
        automation::ShutdownSystemFactory();
        if (Alive(started[0])) std::exit(3);
        try {
          heldToTheEnd->Call("getAvailableServiceNames", {});
          std::exit(4);
        } catch (const automation::ConnectionLost&) {
        }
        try {  // made locally, but with UNO's local state gone
          heldToTheEnd->Call("Bridge_GetStruct", {"com.sun.star.beans.PropertyValue"});
          std::exit(6);
        } catch (const automation::ConnectionLost&) {
        }
        try {
          factory.CreateObject("com.sun.star.ServiceManager");
          std::exit(5);
        } catch (const automation::Error&) {
        }
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
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

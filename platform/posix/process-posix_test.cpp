#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/testing/scratch_dir.h"
#include "platform/testing/sent_signals.h"

namespace platform {
namespace {

constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitFailed = 0xFFFFFFFFu;

class ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    setenv("CAPTURE_OUT", dir_.Path("out").c_str(), 1);
  }
  void TearDown() override { unsetenv("CAPTURE_OUT"); }

  // CreateProcessA as the launcher calls it.
  BOOL Create(std::string line, ProcessInformation* info,
              BOOL inherit_handles = 0) {
    StartupInfoA startup = {};
    startup.cb = sizeof startup;
    line_ = line;  // the call may write into the line, as on Windows
    return processes_.CreateProcessA(
        nullptr, &line_[0], nullptr, nullptr, inherit_handles,
        kNormalPriorityClass, nullptr, nullptr, &startup, info);
  }

  // Waits without limit, then reads the exit code and closes both handles.
  DWORD RunToEnd(const std::string& line) {
    ProcessInformation info = {};
    if (!Create(line, &info)) return 0xDEADu;
    EXPECT_EQ(kWaitObject0, processes_.WaitForSingleObject(info.hProcess, kInfinite));
    DWORD code = 0xDEADu;
    EXPECT_NE(0, processes_.GetExitCodeProcess(info.hProcess, &code));
    EXPECT_NE(0, processes_.CloseHandle(info.hThread));
    EXPECT_NE(0, processes_.CloseHandle(info.hProcess));
    return code;
  }

  Processes& processes_ = SystemProcesses();
  ScratchDir dir_;
  std::string line_;
};

TEST_F(ProcessesTest, ExitCodeOfTheChild) {
  EXPECT_EQ(0u, RunToEnd("\"/bin/sh\" \"-c\" \"exit 0\""));
  EXPECT_EQ(7u, RunToEnd("\"/bin/sh\" \"-c\" \"exit 7\""));
  EXPECT_EQ(255u, RunToEnd("/bin/sh -c \"exit 255\""));
  EXPECT_EQ(128u + 15, RunToEnd("/bin/sh -c \"kill -TERM $$\""));
  EXPECT_EQ(128u + 9, RunToEnd("/bin/sh -c \"kill -KILL $$\""));
}

TEST_F(ProcessesTest, HandlesAfterTheChildEnded) {
  ProcessInformation info = {};
  ASSERT_NE(0, Create("/bin/sh -c \"exit 6\"", &info));
  EXPECT_NE(nullptr, info.hProcess);
  EXPECT_NE(nullptr, info.hThread);
  EXPECT_NE(info.hProcess, info.hThread);
  EXPECT_GT(info.dwProcessId, 0u);
  EXPECT_EQ(kWaitFailed, processes_.WaitForSingleObject(info.hThread, kInfinite));
  EXPECT_EQ(kWaitObject0, processes_.WaitForSingleObject(info.hProcess, kInfinite));
  // The child is gone: terminating it changes nothing, and no signal goes
  // to a pid that may have been reused.
  ForgetSentSignals();
  EXPECT_EQ(0, processes_.TerminateProcess(info.hProcess, 1));
  EXPECT_EQ(std::vector<int>(), SignalsSentTo(pid_t(info.dwProcessId)));
  DWORD code = 0;
  EXPECT_NE(0, processes_.GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(6u, code);
  EXPECT_NE(0, processes_.CloseHandle(info.hThread));
  EXPECT_NE(0, processes_.CloseHandle(info.hProcess));
  // Closed handles are no longer known.
  EXPECT_EQ(0, processes_.CloseHandle(info.hProcess));
  EXPECT_EQ(0, processes_.CloseHandle(info.hThread));
  EXPECT_EQ(0, processes_.GetExitCodeProcess(info.hProcess, &code));
}

// Ended but not yet waited for, a child cannot be terminated, as on
// Windows: the call fails, sends it nothing and leaves its own exit code.
TEST_F(ProcessesTest, EndedChildIsNotTerminatedBeforeItsWait) {
  ProcessInformation info = {};
  ASSERT_NE(0, Create("/bin/sh -c \"exit 6\"", &info));
  const pid_t pid = static_cast<pid_t>(info.dwProcessId);
  siginfo_t ended;
  ASSERT_EQ(0, waitid(P_PID, id_t(pid), &ended, WEXITED | WNOWAIT));
  ForgetSentSignals();
  EXPECT_EQ(0, processes_.TerminateProcess(info.hProcess, 1));
  EXPECT_EQ(std::vector<int>(), SignalsSentTo(pid));
  DWORD code = 0;
  EXPECT_NE(0, processes_.GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(6u, code);
  EXPECT_EQ(kWaitObject0, processes_.WaitForSingleObject(info.hProcess, kInfinite));
  processes_.CloseHandle(info.hThread);
  processes_.CloseHandle(info.hProcess);
}

TEST_F(ProcessesTest, RunningChildIsStillActiveUntilTerminated) {
  ProcessInformation info = {};
  ASSERT_NE(0, Create("/bin/sleep infinity", &info));
  DWORD code = 0;
  EXPECT_NE(0, processes_.GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(kStillActive, code);
  EXPECT_NE(0, processes_.TerminateProcess(info.hProcess, 1));
  EXPECT_EQ(kWaitObject0, processes_.WaitForSingleObject(info.hProcess, kInfinite));
  EXPECT_NE(0, processes_.GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(1u, code);
  // The child is gone for good.
  EXPECT_EQ(-1, kill(static_cast<pid_t>(info.dwProcessId), 0));
  processes_.CloseHandle(info.hThread);
  processes_.CloseHandle(info.hProcess);
}

TEST_F(ProcessesTest, ProgramThatCannotStartFailsTheCreation) {
  std::string not_executable = dir_.Write("plain", "#!/bin/sh\nexit 0\n", 0644);
  std::string no_format = dir_.Write("garbage", "\x01\x02garbage\n", 0755);
  const std::string programs[] = {
      dir_.Path("missing"), not_executable, no_format, dir_.path(),
      "sh",  // a bare name is not looked up along the search path
  };
  for (const std::string& program : programs) {
    ProcessInformation info = {};
    EXPECT_EQ(0, Create("\"" + program + "\" \"-c\" \"exit 0\"", &info)) << program;
  }
}

// Every item quoted on the line arrives as one argument, unchanged.
TEST_F(ProcessesTest, QuotedItemsArriveAsArguments) {
  std::string capture = WriteCaptureScript(dir_);
  std::string line = "\"" + capture + "\" \"-Dqrvex.optdir=/opt/a b\" \"\"" +
                     " \"-classpath\" \"x\\y\" \"-l\" \"key\"";
  EXPECT_EQ(0u, RunToEnd(line));
  EXPECT_EQ("<-Dqrvex.optdir=/opt/a b><><-classpath><x\\y><-l><key>\n" +
                CurrentDirectory() + "\n",
            dir_.Read("out"));
}

// Without inheritance only the standard descriptors reach the child.
TEST_F(ProcessesTest, InheritHandlesDecidesOnOtherDescriptors) {
  int fd = open("/dev/null", O_RDONLY);  // no close-on-exec
  ASSERT_GE(fd, 0);
  int high = fcntl(fd, F_DUPFD, 60);
  close(fd);
  ASSERT_GE(high, 60);
  std::string line = "/bin/sh -c \"test -e /proc/self/fd/" +
                     std::to_string(high) + "\"";
  for (BOOL inherit : {1, 0}) {
    ProcessInformation info = {};
    ASSERT_NE(0, Create(line, &info, inherit));
    processes_.WaitForSingleObject(info.hProcess, kInfinite);
    DWORD code = 99;
    processes_.GetExitCodeProcess(info.hProcess, &code);
    EXPECT_EQ(inherit ? 0u : 1u, code);
    processes_.CloseHandle(info.hThread);
    processes_.CloseHandle(info.hProcess);
  }
  close(high);
}

// The "Sig...:" line of /proc/<pid>/status text, as its mask in hex.
std::string SignalLine(const std::string& status, const std::string& name) {
  std::string::size_type start = status.find("\n" + name + ":\t");
  if (start == std::string::npos) return "(no " + name + ")";
  start += name.size() + 3;
  return status.substr(start, status.find('\n', start) - start);
}

std::string OwnStatus() {
  std::ifstream in("/proc/self/status");
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

bool IsIgnored(int sig) {
  struct sigaction action = {};
  sigaction(sig, nullptr, &action);
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

// A child starts as a program started afresh: nothing blocked, whatever
// this process blocks, and only what it ignores ignored. The ignored
// signals stay ignored here too, and the rest are this process's own again
// once the child has ended.
TEST_F(ProcessesTest, ChildStartsWithNoSignalBlockedAndTheIgnoredIgnored) {
  struct sigaction ignore = {}, hup = {}, term = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGHUP, &ignore, &hup));
  sigaction(SIGTERM, nullptr, &term);
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  sigprocmask(SIG_BLOCK, &blocked, &previous);

  ProcessInformation info = {};
  ASSERT_NE(0, Create("/bin/sh -c \"exec cat /proc/self/status > "
                      "\\\"$CAPTURE_OUT\\\"\"",
                      &info));
  EXPECT_TRUE(IsIgnored(SIGHUP));
  processes_.WaitForSingleObject(info.hProcess, kInfinite);
  processes_.CloseHandle(info.hThread);
  processes_.CloseHandle(info.hProcess);
  std::string own = OwnStatus();
  std::string child = dir_.Read("out");
  EXPECT_TRUE(IsIgnored(SIGHUP));
  struct sigaction term_after = {};
  sigaction(SIGTERM, nullptr, &term_after);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  sigaction(SIGHUP, &hup, nullptr);

  EXPECT_EQ("0000000000000000", SignalLine(child, "SigBlk"));
  EXPECT_EQ(SignalLine(own, "SigIgn"), SignalLine(child, "SigIgn"));
  EXPECT_NE("0000000000000000", SignalLine(child, "SigIgn"));  // SIGHUP
  EXPECT_EQ(term.sa_handler, term_after.sa_handler);
}

// A child the system reaped behind the launcher's back (here: SIGCHLD
// ignored only once it ran) cannot be waited for: the wait fails, its code
// cannot be read, and nothing is sent to its pid, which may be another
// process's by now.
TEST_F(ProcessesTest, ChildReapedByTheSystemIsLost) {
  // The child ends only once SIGCHLD is ignored: a zombie made before
  // would not be reaped by the system.
  const std::string go = dir_.Path("go");
  ProcessInformation info = {};
  ASSERT_NE(0, Create("/bin/sh -c \"while [ ! -e '" + go +
                          "' ]; do sleep 0.01; done; exit 3\"",
                      &info));
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGCHLD, &ignore, &previous));
  dir_.Write("go", "", 0644);
  pid_t pid = static_cast<pid_t>(info.dwProcessId);
  for (int i = 0; i < 1000 && kill(pid, 0) == 0; ++i) usleep(5000);
  EXPECT_EQ(kWaitFailed, processes_.WaitForSingleObject(info.hProcess, kInfinite));
  DWORD code = 0xDEADu;
  EXPECT_EQ(0, processes_.GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(0xDEADu, code);
  EXPECT_EQ(0, processes_.TerminateProcess(info.hProcess, 1));
  EXPECT_EQ(kWaitFailed, processes_.WaitForSingleObject(info.hProcess, 10));
  EXPECT_NE(0, processes_.CloseHandle(info.hThread));
  EXPECT_NE(0, processes_.CloseHandle(info.hProcess));
  sigaction(SIGCHLD, &previous, nullptr);
}

}  // namespace
}  // namespace platform

#include "platform/posix/internal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/testing/sent_signals.h"

namespace platform {
namespace {

constexpr int kRelayed[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr std::size_t kCount = sizeof(kRelayed) / sizeof(kRelayed[0]);

// `sig` with `code` as its si_code, delivered to this thread before the
// call returns: to itself a thread may give any code, the terminal's too.
bool Deliver(int sig, int code) {
  siginfo_t info = {};
  info.si_signo = sig;
  info.si_code = code;
  info.si_pid = getpid();
  info.si_uid = getuid();
  return syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), sig, &info) == 0;
}

// The terminal's INT and QUIT reach the child with the launcher and stay
// here; the other relayed signals, and INT and QUIT sent any other way, go
// on. They go to a child that has ended and is not yet waited for: its pid
// stays its own, and nothing comes of what it is sent.
TEST(SignalRelayTest, TerminalsInterruptAndQuitAloneStayHere) {
  // At their defaults: ignored, as in a background job, the relay would
  // leave them alone.
  struct sigaction defaults = {}, previous[kCount];
  defaults.sa_handler = SIG_DFL;
  for (std::size_t i = 0; i < kCount; ++i)
    sigaction(kRelayed[i], &defaults, &previous[i]);
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  siginfo_t ended;
  ASSERT_EQ(0, waitid(P_PID, id_t(child), &ended, WEXITED | WNOWAIT));
  sigset_t all, unblocked;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &unblocked);
  CatchRelayedSignals();
  RelayTo(child);
  sigprocmask(SIG_SETMASK, &unblocked, nullptr);

  const struct {
    int sig;
    int code;
    bool relayed;
  } cases[] = {
      {SIGINT, SI_KERNEL, false}, {SIGQUIT, SI_KERNEL, false},
      {SIGTERM, SI_KERNEL, true}, {SIGHUP, SI_KERNEL, true},
      {SIGINT, SI_USER, true},    {SIGQUIT, SI_USER, true},
      {SIGQUIT, SI_TKILL, true},  {SIGINT, SI_QUEUE, true},
      {SIGTERM, SI_USER, true},
  };
  for (const auto& each : cases) {
    ForgetSentSignals();
    ASSERT_TRUE(Deliver(each.sig, each.code));
    EXPECT_EQ(each.relayed ? std::vector<int>{each.sig} : std::vector<int>(),
              SignalsSentTo(child))
        << strsignal(each.sig) << " with si_code " << each.code;
  }

  StopRelay(child);
  for (std::size_t i = 0; i < kCount; ++i)
    sigaction(kRelayed[i], &previous[i], nullptr);
  int status;
  waitpid(child, &status, 0);
}

}  // namespace
}  // namespace platform

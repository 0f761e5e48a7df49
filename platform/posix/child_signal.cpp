// SIGCHLD while a child of the launcher's may run. A caller that ignores it
// (a disposition that survives exec) would have the kernel reap the child
// by itself, and the launcher's wait fail.
#include "platform/posix/internal.h"

#include <signal.h>

namespace platform {
namespace {

struct ChildSignal {
  int children = 0;      // started and not yet reaped or lost
  bool ignored = false;  // by the caller: put back once no child is left
};
ChildSignal g_child_signal;

}  // namespace

void SetChildSignal(void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);
}

bool DefaultChildSignal() {
  if (g_child_signal.children++ == 0) {
    struct sigaction current;
    g_child_signal.ignored = sigaction(SIGCHLD, nullptr, &current) == 0 &&
                             (current.sa_flags & SA_SIGINFO) == 0 &&
                             current.sa_handler == SIG_IGN;
    if (g_child_signal.ignored) SetChildSignal(SIG_DFL);
  }
  return g_child_signal.ignored;
}

void RestoreChildSignal() {
  if (g_child_signal.children > 0) --g_child_signal.children;
  if (g_child_signal.children > 0 || !g_child_signal.ignored) return;
  SetChildSignal(SIG_IGN);
  g_child_signal.ignored = false;
}

}  // namespace platform

// The launcher's signals passed on to the child it waits for, so that
// stopping the launcher stops the Java VM as the signal meant to.
#include "platform/posix/internal.h"

#include <errno.h>
#include <signal.h>

#include <cstddef>

#include "platform/safeguards.h"

namespace {

struct Relayed {
  int sig;
  const char* safeguard;  // as the trace names it
};
constexpr Relayed kRelayed[] = {{SIGTERM, "the handler passing on SIGTERM"},
                                {SIGHUP, "the handler passing on SIGHUP"},
                                {SIGINT, "the handler passing on SIGINT"},
                                {SIGQUIT, "the handler passing on SIGQUIT"}};
constexpr std::size_t kCount = sizeof(kRelayed) / sizeof(kRelayed[0]);

// What each relayed signal did before it was caught, to be put back.
struct Previous {
  bool caught;
  struct sigaction action;
};
Previous g_previous[kCount];

// The child's pid while signals are relayed to it, else 0.
volatile sig_atomic_t g_child = 0;

// TERM and HUP are always passed on; INT and QUIT unless the terminal sent
// them (si_code SI_KERNEL), as it signals the child's process group too.
// Sent by kill(), tkill() or sigqueue() they are passed on, even where
// kill() named the process group and the child gets them twice: the two
// cannot be told apart.
bool FromTerminal(int sig, const siginfo_t* info) {
  return (sig == SIGINT || sig == SIGQUIT) && info->si_code == SI_KERNEL;
}

bool IsIgnored(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

}  // namespace

extern "C" {
static void RelaySignal(int sig, siginfo_t* info, void* /*context*/) {
  pid_t child = g_child;
  if (child <= 0 || FromTerminal(sig, info)) return;
  int saved = errno;
  kill(child, sig);
  errno = saved;
}
}

namespace platform {

void CatchRelayedSignals() {
  struct sigaction relay = {};
  relay.sa_sigaction = RelaySignal;
  // SA_RESTART: the launcher's wait goes on as if nothing had happened.
  relay.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&relay.sa_mask);
  for (std::size_t i = 0; i < kCount; ++i) {
    Previous& previous = g_previous[i];
    if (previous.caught) continue;
    const Relayed& relayed = kRelayed[i];
    if (sigaction(relayed.sig, &relay, &previous.action) != 0) {
      SafeguardNotSetUp(relayed.safeguard, static_cast<unsigned long>(errno));
      continue;
    }
    // Ignored: put back. One that came meanwhile waits, blocked, and is
    // dropped again as the ignoring is put back.
    if (IsIgnored(previous.action)) {
      sigaction(relayed.sig, &previous.action, nullptr);
      continue;
    }
    previous.caught = true;
  }
}

void RelayTo(pid_t child) { g_child = child; }

void StopRelay(pid_t child) {
  if (g_child != child) return;
  // Blocked meanwhile, so that none comes to a handler with nowhere to
  // send it: one that comes now finds the launcher as it was.
  sigset_t relayed, previous_mask;
  sigemptyset(&relayed);
  for (const Relayed& each : kRelayed) sigaddset(&relayed, each.sig);
  sigprocmask(SIG_BLOCK, &relayed, &previous_mask);
  g_child = 0;
  for (std::size_t i = 0; i < kCount; ++i) {
    if (!g_previous[i].caught) continue;
    sigaction(kRelayed[i].sig, &g_previous[i].action, nullptr);
    g_previous[i].caught = false;
  }
  sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
}

void ResetRelayedSignals() {
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  for (std::size_t i = 0; i < kCount; ++i) {
    if (g_previous[i].caught) {
      sigaction(kRelayed[i].sig, &default_action, nullptr);
    }
  }
}

}  // namespace platform

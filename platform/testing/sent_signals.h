// The signals the platform tests' program sends with kill(), its own calls
// and those of the code under test: the program links with --wrap=kill, so
// that each call is kept here before it is made. Keeping one is
// async-signal-safe, as the relay sends from its handler.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <vector>

namespace platform {

// One call of kill() with a signal.
struct SentSignal {
  pid_t pid;
  int sig;
};

inline constexpr int kSentSignalsKept = 64;
inline SentSignal g_sent_signals[kSentSignalsKept];
inline std::atomic<int> g_sent_signal_count{0};  // calls, kept or not

inline void ForgetSentSignals() { g_sent_signal_count = 0; }

// The signals sent to `pid` since the last ForgetSentSignals, in order; a
// probe for the pid (signal 0) sends none.
inline std::vector<int> SignalsSentTo(pid_t pid) {
  const int count = g_sent_signal_count;
  EXPECT_LE(count, kSentSignalsKept) << "more signals sent than kept";
  std::vector<int> sent;
  for (int i = 0; i < count && i < kSentSignalsKept; ++i) {
    if (g_sent_signals[i].pid == pid) sent.push_back(g_sent_signals[i].sig);
  }
  return sent;
}

}  // namespace platform

extern "C" int __real_kill(pid_t pid, int sig);

// What every call of kill() in the program comes to; emitted by each test
// that includes this, kept once by the linker.
extern "C" inline __attribute__((used)) int __wrap_kill(pid_t pid, int sig) {
  if (sig != 0) {
    const int at = platform::g_sent_signal_count.fetch_add(1);
    if (at < platform::kSentSignalsKept)
      platform::g_sent_signals[at] = {pid, sig};
  }
  return __real_kill(pid, sig);
}

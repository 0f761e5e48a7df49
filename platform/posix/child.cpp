#include "platform/posix/child.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/posix/descriptors.h"
#include "platform/posix/privilege_change.h"
#include "platform/posix/signal_relay.h"
#include "platform/safeguards.h"

extern char** environ;

namespace platform {
namespace {

// execve wants a null-terminated array of writable pointers; null when
// memory ran out.
std::unique_ptr<char*[]> PointerArray(const std::vector<std::string>& items) {
  std::unique_ptr<char*[]> pointers(
      new (std::nothrow) char*[items.size() + 1]);
  if (pointers == nullptr) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    pointers[i] = const_cast<char*>(items[i].c_str());
  }
  pointers[items.size()] = nullptr;
  return pointers;
}

// What a new child tells its parent through the report pipe before it runs
// its program: each a record, none when all went well. ReadReports says
// when the parent has them all.
enum class Stage : int {
  kDeathSignal,  // not set up; the child went on without it
  kStart,        // the program could not be started; the child has ended
};
struct Report {
  Stage stage;
  int error;
};

// Everything the child needs, prepared by the parent: between vfork and
// exec nothing may allocate, lock or touch what the parent will use, but
// the one flag the child sets for it.
struct ChildStart {
  const char* path;
  char* const* argv;
  char* const* envp;
  bool inherit_descriptors;
  bool child_signal_ignored;  // by the caller: ignored again before exec
  pid_t launcher;
  int report;
  sigset_t none;
  // Set by the child: it runs in the parent's memory, so the parent, which
  // vfork holds until the child has run its program or ended, finds every
  // report already written.
  volatile bool shares_memory;
};

// The status of a child whose parent was gone before the death signal
// could stand for it: as if that signal had come.
constexpr int kOrphanedStatus = 128 + SIGTERM;
constexpr int kNotStartedStatus = 127;

void WriteReport(int report, Stage stage, int error) {
  Report record = {stage, error};
  // One record is far below PIPE_BUF: written whole or not at all.
  ssize_t written = write(report, &record, sizeof(record));
  static_cast<void>(written);
}

[[noreturn]] void EndUnstarted(const ChildStart& start) {
  WriteReport(start.report, Stage::kStart, errno);
  _exit(kNotStartedStatus);
}

// Async-signal-safe.
void SetChildSignal(void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);
}

// A caller that ignores SIGCHLD (a disposition that survives exec) would
// have the kernel reap the child by itself and the launcher's wait fail:
// while a child of the launcher's may run, SIGCHLD is at its default, and
// the child gets the caller's disposition back before it runs its program.
struct ChildSignal {
  int children = 0;      // started and not yet reaped or given up
  bool ignored = false;  // by the caller: put back once no child is left
};
ChildSignal g_child_signal;

// With every signal blocked, before a child starts: whether the caller
// ignores SIGCHLD, which is then at its default until ChildDone.
bool DefaultChildSignal() {
  if (g_child_signal.children == 0) {
    struct sigaction current;
    g_child_signal.ignored = sigaction(SIGCHLD, nullptr, &current) == 0 &&
                             (current.sa_flags & SA_SIGINFO) == 0 &&
                             current.sa_handler == SIG_IGN;
    if (g_child_signal.ignored) SetChildSignal(SIG_DFL);
  }
  return g_child_signal.ignored;
}

// A child that was counted has been reaped or cannot be waited for, or
// one that never started was not counted.
void ChildDone(bool counted) {
  if (counted && g_child_signal.children > 0) --g_child_signal.children;
  if (g_child_signal.children > 0 || !g_child_signal.ignored) return;
  SetChildSignal(SIG_IGN);
  g_child_signal.ignored = false;
}

// In the new process, sharing the parent's memory until exec: only
// async-signal-safe calls. It starts with every signal blocked and leaves
// them all unblocked for the program, as a program started afresh has
// them; the signals the launcher ignored stay ignored through exec.
[[noreturn]] void RunChild(ChildStart& start) {
  start.shares_memory = true;
  // A launcher killed outright must not leave its Java VM running.
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
    WriteReport(start.report, Stage::kDeathSignal, errno);
  }
  // A parent that died before the line above is no longer ours: the death
  // signal would never come.
  if (getppid() != start.launcher) _exit(kOrphanedStatus);
  ResetRelayedSignals();
  if (start.child_signal_ignored) SetChildSignal(SIG_IGN);
  if (!start.inherit_descriptors) KeepDescriptorsFromProgram();
  sigprocmask(SIG_SETMASK, &start.none, nullptr);
  execve(start.path, start.argv, start.envp);
  EndUnstarted(start);
}

// vfork: the parent waits, sharing its memory, until the child has run its
// program or ended, which costs no copy of the parent's page tables. The
// child makes a few async-signal-safe calls, none that blocks, before it
// runs its program or ends.
pid_t StartChild(ChildStart& start) {
  pid_t pid = vfork();  // NOLINT(clang-analyzer-security.insecureAPI.vfork)
  if (pid == 0) RunChild(start);  // NOLINT(clang-analyzer-unix.Vfork)
  return pid;
}

// Reads the child's reports: 0 when its program runs, else the error that
// kept it from running. The pipe does not block: a child that shared the
// parent's memory has written all it will before the parent goes on, and
// the parent need not wait for exec to close the pipe. A child that did not
// (vfork run as fork, as under a checker) is waited for to the pipe's end.
int ReadReports(int report, bool reports_written) {
  if (!reports_written) fcntl(report, F_SETFL, 0);
  int start_error = 0;
  Report record;
  for (;;) {
    ssize_t got = read(report, &record, sizeof(record));
    if (got < 0 && errno == EINTR) continue;
    if (got != static_cast<ssize_t>(sizeof(record))) break;
    if (record.stage == Stage::kDeathSignal) {
      SafeguardNotSetUp("the parent-death signal",
                        static_cast<unsigned long>(record.error));
    } else {
      start_error = record.error;
    }
  }
  return start_error;
}

// Reaps a child that has ended, retrying when a signal interrupts.
bool Reap(pid_t pid, int options, int* wait_status) {
  for (;;) {
    pid_t result = waitpid(pid, wait_status, options);
    if (result >= 0) return result == pid;
    if (errno != EINTR) return false;
  }
}

// Tells the trace that the start of `path` changes privileges, which clears
// the parent-death signal. A frame of its own, entered only when traced:
// its buffer costs an untraced run no stack.
[[gnu::noinline]] void WarnOfPrivilegeChange(const char* path) {
  char why[PATH_MAX + 160];
  if (!PrivilegeChangeAtExec(path, why, sizeof why)) return;
  std::size_t used = std::strlen(why);
  std::snprintf(why + used, sizeof why - used,
                " (the kernel clears the signal at a start that changes "
                "privileges)");
  SafeguardMayNotHold("the parent-death signal", why);
}

// Spawns with every signal blocked, so that no handler of the parent runs
// in the child, and none is relayed before the child's pid is known.
int SpawnBlocked(ChildStart* start, pid_t* pid) {
  int report[2];
  // No descriptor for the report: no process is created. A record is far
  // below the pipe's capacity: the child's write never blocks either.
  if (pipe2(report, O_CLOEXEC | O_NONBLOCK) != 0) return EAGAIN;
  start->report = report[1];
  start->shares_memory = false;
  CatchRelayedSignals();
  pid_t child = StartChild(*start);
  int error = child < 0 ? errno : 0;
  close(report[1]);
  if (child > 0) error = ReadReports(report[0], start->shares_memory);
  close(report[0]);
  if (error != 0) {
    int ignored;
    if (child > 0) Reap(child, 0, &ignored);
    StopRelay(0);
    ChildDone(false);
    return error;
  }
  ++g_child_signal.children;
  RelayTo(child);
  *pid = child;
  return 0;
}

}  // namespace

int SpawnChild(const char* path, const std::vector<std::string>& args,
               const ChildOptions& options, pid_t* pid) {
  std::unique_ptr<char*[]> argv = PointerArray(args);
  if (argv == nullptr) return ENOMEM;
  ChildStart start = {};
  start.path = path;
  start.argv = argv.get();
  start.envp = environ;
  start.inherit_descriptors = options.inherit_descriptors;
  start.launcher = getpid();
  start.report = -1;
  sigemptyset(&start.none);
  // Checked only for the trace, where it is told.
  if (SafeguardsListened()) WarnOfPrivilegeChange(path);

  sigset_t all, previous;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &previous);
  start.child_signal_ignored = DefaultChildSignal();
  int error = SpawnBlocked(&start, pid);
  // Signals that came meanwhile are delivered now, and relayed.
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return error;
}

bool IsCreationFailure(int error) {
  // What a failed vfork reports; every other error comes from the program
  // file (not there, not runnable, a bad directory to start in).
  return error == EAGAIN || error == ENOMEM || error == ENOSYS;
}

// The child is waited for without being reaped first, so that its pid
// stays its own while the relay lets go of it. A wait that fails lets go of
// it too: nothing is relayed to a pid the system may have given to another
// process.
bool WaitAndReap(pid_t pid, int* wait_status) {
  siginfo_t info;
  int waited;
  do {
    waited = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  } while (waited != 0 && errno == EINTR);
  StopRelay(pid);
  bool reaped = waited == 0 && Reap(pid, 0, wait_status);
  ChildDone(true);
  return reaped;
}

int PollAndReap(pid_t pid, int* wait_status) {
  siginfo_t info;
  info.si_pid = 0;
  while (waitid(P_PID, static_cast<id_t>(pid), &info,
                WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != EINTR) {
      StopRelay(pid);
      ChildDone(true);
      return -1;
    }
  }
  if (info.si_pid == 0) return 0;
  StopRelay(pid);
  int result = Reap(pid, WNOHANG, wait_status) ? 1 : -1;
  ChildDone(true);
  return result;
}

int ExitCodeOf(int wait_status) {
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return WEXITSTATUS(wait_status);
}

}  // namespace platform

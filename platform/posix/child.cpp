#include "platform/posix/internal.h"

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

#include "platform/safeguards.h"

extern char** environ;

namespace platform {
namespace {

// execve's null-terminated array of writable pointers; null when memory
// ran out.
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

// What a new child tells its parent through the report pipe before exec,
// a record each; none when all went well.
enum class Stage : int {
  kDeathSignal,  // not set up; the child went on without it
  kStart,        // the program could not be started; the child has ended
};
struct Report {
  Stage stage;
  int error;
};

// Everything the child needs, prepared by the parent: between vfork and
// exec the child may not allocate, lock or touch what the parent uses.
struct ChildStart {
  const char* path;
  char* const* argv;
  char* const* envp;
  bool inherit_descriptors;
  bool child_signal_ignored;  // by the caller: ignored again before exec
  pid_t launcher;
  int report;
  sigset_t none;
};

// A child whose parent died before the death signal was set up ends as if
// that signal had come.
constexpr int kOrphanedStatus = 128 + SIGTERM;
constexpr int kNotStartedStatus = 127;

// A record is far below PIPE_BUF and the pipe's capacity: written whole,
// never blocking.
void WriteReport(int report, Stage stage, int error) {
  Report record = {stage, error};
  ssize_t written = write(report, &record, sizeof(record));
  static_cast<void>(written);
}

[[noreturn]] void EndUnstarted(const ChildStart& start) {
  WriteReport(start.report, Stage::kStart, errno);
  _exit(kNotStartedStatus);
}

// In the new process, sharing the parent's memory until exec: only
// async-signal-safe calls. Every signal is blocked until the program runs,
// which gets them unblocked and the launcher's ignored ones ignored.
[[noreturn]] void RunChild(ChildStart& start) {
  // A launcher killed outright must not leave its Java VM running.
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
    WriteReport(start.report, Stage::kDeathSignal, errno);
  }
  // A parent that died before the line above would never send the signal.
  if (getppid() != start.launcher) _exit(kOrphanedStatus);
  ResetRelayedSignals();
  if (start.child_signal_ignored) SetChildSignal(SIG_IGN);
  if (!start.inherit_descriptors) KeepDescriptorsFromProgram();
  sigprocmask(SIG_SETMASK, &start.none, nullptr);
  execve(start.path, start.argv, start.envp);
  EndUnstarted(start);
}

// vfork: the parent waits, its memory shared, until the child has run its
// program or ended, and no copy of its page tables is made.
pid_t StartChild(ChildStart& start) {
  pid_t pid = vfork();  // NOLINT(clang-analyzer-security.insecureAPI.vfork)
  if (pid == 0) RunChild(start);  // NOLINT(clang-analyzer-unix.Vfork)
  return pid;
}

// Reads the child's reports to the pipe's end, which comes when its program
// runs or it ends: 0 when its program runs, else the error that kept it
// from running.
int ReadReports(int report) {
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

// Tells the trace that starting `path` clears the parent-death signal. Not
// inlined: its buffer takes stack only in a traced run.
[[gnu::noinline]] void WarnOfPrivilegeChange(const char* path) {
  char why[PATH_MAX + 160];
  if (!PrivilegeChangeAtExec(path, why, sizeof why)) return;
  std::size_t used = std::strlen(why);
  std::snprintf(why + used, sizeof why - used,
                " (the kernel clears the signal at a start that changes "
                "privileges)");
  SafeguardMayNotHold("the parent-death signal", why);
}

// With every signal blocked, so that no handler of the parent runs in the
// child, and none is relayed before the child's pid is known.
int SpawnBlocked(ChildStart* start, pid_t* pid) {
  int report[2];
  // No descriptor for the report: no process is created.
  if (pipe2(report, O_CLOEXEC) != 0) return EAGAIN;
  start->report = report[1];
  CatchRelayedSignals();
  pid_t child = StartChild(*start);
  int error = child < 0 ? errno : 0;
  close(report[1]);
  if (child > 0) error = ReadReports(report[0]);
  close(report[0]);
  if (error != 0) {
    int ignored;
    if (child > 0) Reap(child, 0, &ignored);
    StopRelay(0);
    RestoreChildSignal();
    return error;
  }
  RelayTo(child);
  *pid = child;
  return 0;
}

}  // namespace

// Three globals live from a start to its wait: SIGCHLD's count
// (child_signal.cpp) and the relay's child and dispositions
// (signal_relay.cpp), set here with every signal blocked and undone when the
// child is reaped or lost, and the trace's safeguard listener, told what
// could not be set up. Nothing from the start to the wait can fail, lest the
// launcher end early and take the child with it: all memory comes first.
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

// What a failed vfork reports; every other error comes from the program.
bool IsCreationFailure(int error) {
  return error == EAGAIN || error == ENOMEM || error == ENOSYS;
}

// Waited for before it is reaped, so that its pid stays its own while the
// relay lets go of it; a failed wait lets go of it too.
bool WaitAndReap(pid_t pid, int* wait_status) {
  siginfo_t info;
  int waited;
  do {
    waited = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  } while (waited != 0 && errno == EINTR);
  StopRelay(pid);
  bool reaped = waited == 0 && Reap(pid, 0, wait_status);
  RestoreChildSignal();
  return reaped;
}

int PollAndReap(pid_t pid, int* wait_status) {
  siginfo_t info;
  info.si_pid = 0;
  while (waitid(P_PID, static_cast<id_t>(pid), &info,
                WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != EINTR) {
      StopRelay(pid);
      RestoreChildSignal();
      return -1;
    }
  }
  if (info.si_pid == 0) return 0;
  StopRelay(pid);
  int result = Reap(pid, WNOHANG, wait_status) ? 1 : -1;
  RestoreChildSignal();
  return result;
}

int ExitCodeOf(int wait_status) {
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return WEXITSTATUS(wait_status);
}

}  // namespace platform

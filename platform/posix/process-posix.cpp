// Process creation and waiting as the Windows calls behave, over child.cpp.
// A process handle remembers whether its child has been reaped, so that a
// pid the system may have given to another process is never signalled.
#include "platform/process.h"

#include <signal.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/cmdline.h"
#include "platform/posix/internal.h"

namespace platform {
namespace {

constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitFailed = 0xFFFFFFFFu;

struct ChildProcess {
  ChildProcess* next;  // among the open process handles
  pid_t pid;
  bool ended;
  DWORD exit_code;  // valid once ended
  // A wait failed: the child may have been reaped by the system, its pid
  // given to another process. Nothing is known of it, nothing sent to it.
  bool lost;
};

// The thread handle stands for the child's main thread; nothing is done
// with it but closing it.
struct ChildThread {
  ChildThread* next;  // among the open thread handles
};

// The open handles of one kind, linked through their records: recording a
// started child takes no memory.
template <typename Record>
class OpenHandles {
 public:
  void Add(Record* record) {
    record->next = first_;
    first_ = record;
  }

  // The record behind `handle` when it is one of these, else null.
  Record* Find(HANDLE handle) const {
    for (Record* record = first_; record != nullptr; record = record->next) {
      if (record == handle) return record;
    }
    return nullptr;
  }

  // `record` is one of these.
  void Remove(Record* record) {
    Record** at = &first_;
    while (*at != record) at = &(*at)->next;
    *at = record->next;
  }

 private:
  Record* first_ = nullptr;
};

// The line's items; false when memory ran out.
bool SplitLine(const char* line, std::vector<std::string>* args) {
  try {
    *args = SplitCommandLine(line, SystemCodePage());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void RecordEnd(ChildProcess* child, DWORD exit_code) {
  child->ended = true;
  child->exit_code = exit_code;
}

// Reaps the child if it has ended already; true when it has.
bool ReapIfEnded(ChildProcess* child) {
  if (child->ended) return true;
  if (child->lost) return false;
  int wait_status;
  int polled = PollAndReap(child->pid, &wait_status);
  if (polled == -1) child->lost = true;
  if (polled != 1) return false;
  RecordEnd(child, static_cast<DWORD>(ExitCodeOf(wait_status)));
  return true;
}

class SpawnedProcesses : public Processes {
 public:
  BOOL CreateProcessA(const char* application_name, char* command_line,
                      void* /*process_attributes*/, void* /*thread_attributes*/,
                      BOOL inherit_handles, DWORD /*creation_flags*/,
                      void* environment, const char* current_directory,
                      StartupInfoA* /*startup_info*/,
                      ProcessInformation* info) override {
    // The child runs in the launcher's own environment and directory: a
    // block or a directory of its own is not served here.
    if (info == nullptr || environment != nullptr ||
        current_directory != nullptr) {
      return 0;
    }
    const char* line = command_line != nullptr ? command_line : application_name;
    if (line == nullptr) return 0;
    std::vector<std::string> args;
    if (!SplitLine(line, &args)) return 0;
    // Without an application name the first item of the line is the
    // program; it is used as given, never looked up along a search path.
    const char* program =
        application_name != nullptr ? application_name : args[0].c_str();
    std::unique_ptr<ChildProcess> process(new (std::nothrow) ChildProcess());
    std::unique_ptr<ChildThread> thread(new (std::nothrow) ChildThread());
    if (process == nullptr || thread == nullptr) return 0;
    ChildOptions options;
    options.inherit_descriptors = inherit_handles != 0;
    pid_t pid;
    // All that can fail comes before the start (see SpawnChild).
    if (SpawnChild(program, args, options, &pid) != 0) return 0;

    *process = ChildProcess{nullptr, pid, false, kStillActive, false};
    processes_.Add(process.get());
    threads_.Add(thread.get());
    info->hProcess = process.release();
    info->hThread = thread.release();
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);  // the main thread's id
    return 1;
  }

  // Waits on process handles only, and only without a time limit, as the
  // launcher waits for its child; anything else fails the wait.
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    ChildProcess* child = processes_.Find(handle);
    if (child == nullptr || milliseconds != kInfinite) return kWaitFailed;
    if (child->ended) return kWaitObject0;
    if (child->lost) return kWaitFailed;
    int wait_status;
    if (!WaitAndReap(child->pid, &wait_status)) {
      child->lost = true;
      return kWaitFailed;
    }
    RecordEnd(child, static_cast<DWORD>(ExitCodeOf(wait_status)));
    return kWaitObject0;
  }

  // Fails for a child that was lost: its code cannot be read.
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code) override {
    ChildProcess* child = processes_.Find(process);
    if (child == nullptr || exit_code == nullptr) return 0;
    bool ended = ReapIfEnded(child);
    if (child->lost) return 0;
    *exit_code = ended ? child->exit_code : kStillActive;
    return 1;
  }

  // Like Windows, fails for a child that has ended already and leaves its
  // exit code alone; fails too, sending nothing, for a child that was lost.
  BOOL TerminateProcess(HANDLE process, UINT exit_code) override {
    ChildProcess* child = processes_.Find(process);
    if (child == nullptr || ReapIfEnded(child) || child->lost) return 0;
    if (kill(child->pid, SIGKILL) != 0) return 0;
    int wait_status;
    if (!WaitAndReap(child->pid, &wait_status)) {
      child->lost = true;
      return 0;
    }
    RecordEnd(child, exit_code);
    return 1;
  }

  // A child never waited for is reaped here if it has ended; otherwise it
  // is left to end on its own and is reaped when this process exits.
  BOOL CloseHandle(HANDLE handle) override {
    if (ChildProcess* child = processes_.Find(handle)) {
      ReapIfEnded(child);
      processes_.Remove(child);
      delete child;
      return 1;
    }
    ChildThread* thread = threads_.Find(handle);
    if (thread == nullptr) return 0;
    threads_.Remove(thread);
    delete thread;
    return 1;
  }

 private:
  // Only handles found here are ever dereferenced.
  OpenHandles<ChildProcess> processes_;
  OpenHandles<ChildThread> threads_;
};

}  // namespace

Processes& SystemProcesses() {
  static SpawnedProcesses processes;
  return processes;
}

}  // namespace platform

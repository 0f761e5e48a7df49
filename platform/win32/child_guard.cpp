#include "platform/win32/internal.h"

#include <windows.h>

#include "platform/safeguards.h"

namespace platform {
namespace {

// The job the launcher joined, once it has; a process stays in its job.
HANDLE g_job = nullptr;
bool g_handler_added = false;

void NotSetUp(const char* safeguard) {
  SafeguardNotSetUp(safeguard, GetLastError());
}

// A routine rather than SetConsoleCtrlHandler(NULL, TRUE), whose ignore
// flag the child would inherit: the Java VM must see Ctrl-C. Closing the
// console, logging off and shutting down still end the launcher, and the
// job the child with it.
BOOL WINAPI KeepWaiting(::DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

bool SetKillOnClose(HANDLE job, bool kill) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      kill ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation,
                                 &limits, sizeof(limits)) != 0;
}

// The launcher's only handle to its job is not inheritable, so the job
// closes when the launcher ends, however it ends, and kills what is in it:
// the child and whatever the child started. Joining fails where a process
// already in a job cannot join another (before Windows 8).
void JoinJob() {
  if (g_job != nullptr) {
    if (!SetKillOnClose(g_job, true)) NotSetUp("the job object's limit");
    return;
  }
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) {
    NotSetUp("the job object");
    return;
  }
  if (!SetKillOnClose(job, true) ||
      !AssignProcessToJobObject(job, GetCurrentProcess())) {
    NotSetUp("the job object");
    CloseHandle(job);
    return;
  }
  g_job = job;
}

}  // namespace

void GuardChildren() {
  JoinJob();
  if (g_handler_added) return;
  if (!SetConsoleCtrlHandler(KeepWaiting, TRUE)) {
    NotSetUp("the console control handler");
    return;
  }
  g_handler_added = true;
}

void ReleaseChildren() {
  if (g_job != nullptr && !SetKillOnClose(g_job, false)) {
    NotSetUp("clearing the job object's limit");
  }
  if (g_handler_added) {
    SetConsoleCtrlHandler(KeepWaiting, FALSE);
    g_handler_added = false;
  }
}

}  // namespace platform

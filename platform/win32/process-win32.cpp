// Process creation and waiting, straight through to the narrow Windows calls.
#include "platform/process.h"
#include "platform/win32/internal.h"

namespace platform {
namespace {

static_assert(kNormalPriorityClass == NORMAL_PRIORITY_CLASS,
              "NORMAL_PRIORITY_CLASS");

SAME_RECORD(StartupInfoA, STARTUPINFOA);
// The size the 32-bit product hands CreateProcessA in STARTUPINFOA::cb.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68,
              "STARTUPINFOA in a 32-bit program");
SAME_FIELD(StartupInfoA, STARTUPINFOA, cb);
SAME_FIELD(StartupInfoA, STARTUPINFOA, lpReserved);
SAME_FIELD(StartupInfoA, STARTUPINFOA, lpDesktop);
SAME_FIELD(StartupInfoA, STARTUPINFOA, lpTitle);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwX);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwY);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwXSize);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwYSize);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwXCountChars);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwYCountChars);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwFillAttribute);
SAME_FIELD(StartupInfoA, STARTUPINFOA, dwFlags);
SAME_FIELD(StartupInfoA, STARTUPINFOA, wShowWindow);
SAME_FIELD(StartupInfoA, STARTUPINFOA, cbReserved2);
SAME_FIELD(StartupInfoA, STARTUPINFOA, lpReserved2);
SAME_FIELD(StartupInfoA, STARTUPINFOA, hStdInput);
SAME_FIELD(StartupInfoA, STARTUPINFOA, hStdOutput);
SAME_FIELD(StartupInfoA, STARTUPINFOA, hStdError);

SAME_RECORD(ProcessInformation, PROCESS_INFORMATION);
SAME_FIELD(ProcessInformation, PROCESS_INFORMATION, hProcess);
SAME_FIELD(ProcessInformation, PROCESS_INFORMATION, hThread);
SAME_FIELD(ProcessInformation, PROCESS_INFORMATION, dwProcessId);
SAME_FIELD(ProcessInformation, PROCESS_INFORMATION, dwThreadId);

class Win32Processes : public Processes {
 public:
  BOOL CreateProcessA(const char* application_name, char* command_line,
                      void* process_attributes, void* thread_attributes,
                      BOOL inherit_handles, DWORD creation_flags,
                      void* environment, const char* current_directory,
                      StartupInfoA* startup_info,
                      ProcessInformation* info) override {
    GuardChildren();
    return ::CreateProcessA(
        application_name, command_line,
        static_cast<SECURITY_ATTRIBUTES*>(process_attributes),
        static_cast<SECURITY_ATTRIBUTES*>(thread_attributes), inherit_handles,
        creation_flags, environment, current_directory,
        reinterpret_cast<STARTUPINFOA*>(startup_info),
        reinterpret_cast<PROCESS_INFORMATION*>(info));
  }

  // A wait that sees the child end is the normal end: the job lets go.
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    DWORD result = ::WaitForSingleObject(handle, milliseconds);
    if (result == WAIT_OBJECT_0) ReleaseChildren();
    return result;
  }

  BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code) override {
    return ::GetExitCodeProcess(process, reinterpret_cast<::DWORD*>(exit_code));
  }

  BOOL TerminateProcess(HANDLE process, UINT exit_code) override {
    return ::TerminateProcess(process, exit_code);
  }

  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
};

}  // namespace

Processes& SystemProcesses() {
  static Win32Processes processes;
  return processes;
}

}  // namespace platform

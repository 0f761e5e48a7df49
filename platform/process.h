// Process creation and waiting, mirroring the narrow Windows calls.
#pragma once

#include "platform/types.h"

namespace platform {

// STARTUPINFOA, field for field (68 bytes in a 32-bit program, 104 in a
// 64-bit one).
struct StartupInfoA {
  DWORD cb;
  char* lpReserved;
  char* lpDesktop;
  char* lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize;
  DWORD dwXCountChars, dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};

// PROCESS_INFORMATION.
struct ProcessInformation {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

constexpr DWORD kNormalPriorityClass = 0x20;

class Processes {
 public:
  virtual ~Processes() = default;
  // CreateProcessA: non-zero with both handles in *info, zero on failure.
  virtual BOOL CreateProcessA(const char* application_name, char* command_line,
                              void* process_attributes, void* thread_attributes,
                              BOOL inherit_handles, DWORD creation_flags,
                              void* environment, const char* current_directory,
                              StartupInfoA* startup_info,
                              ProcessInformation* info) = 0;
  // WaitForSingleObject on a process handle.
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  // GetExitCodeProcess.
  virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code) = 0;
  // TerminateProcess.
  virtual BOOL TerminateProcess(HANDLE process, UINT exit_code) = 0;
  // CloseHandle, for the process and thread handles made here.
  virtual BOOL CloseHandle(HANDLE handle) = 0;
};

Processes& SystemProcesses();

}  // namespace platform

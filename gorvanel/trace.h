// gorvanel's own calls explained on the trace (platform/trace.h): the Java
// VM's start and end, and the names the membership check reads.
#pragma once

#include "platform/process.h"
#include "platform/security.h"
#include "platform/trace.h"

namespace gorvanel {

class TracingProcesses : public platform::Tracing<platform::Processes> {
 public:
  using Tracing::Tracing;
  BOOL CreateProcessA(const char* application_name, char* command_line,
                      void* process_attributes, void* thread_attributes,
                      BOOL inherit_handles, DWORD creation_flags,
                      void* environment, const char* current_directory,
                      platform::StartupInfoA* startup_info,
                      platform::ProcessInformation* info) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    return inner_.WaitForSingleObject(handle, milliseconds);
  }
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code) override;
  BOOL TerminateProcess(HANDLE process, UINT exit_code) override {
    return inner_.TerminateProcess(process, exit_code);
  }
  BOOL CloseHandle(HANDLE handle) override {
    return inner_.CloseHandle(handle);
  }
};

class TracingSecurity : public platform::Tracing<platform::Security> {
 public:
  using Tracing::Tracing;
  BOOL AllocateAndInitializeSid(
      const platform::SidIdentifierAuthority* authority,
      BYTE sub_authority_count, DWORD s0, DWORD s1, DWORD s2, DWORD s3,
      DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid) override {
    return RememberFailure(inner_.AllocateAndInitializeSid(
        authority, sub_authority_count, s0, s1, s2, s3, s4, s5, s6, s7, sid));
  }
  BOOL LookupAccountSidA(const char* system_name, PSID sid, char* name,
                         DWORD* name_size, char* domain, DWORD* domain_size,
                         int* use) override;
  void* FreeSid(PSID sid) override { return inner_.FreeSid(sid); }
  HANDLE GetCurrentProcess() override { return inner_.GetCurrentProcess(); }
  BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override;
  BOOL GetTokenInformation(HANDLE token, int information_class,
                           void* information, DWORD length,
                           DWORD* return_length) override;
  BOOL CloseHandle(HANDLE handle) override {
    return inner_.CloseHandle(handle);
  }
  // The code of the last failure, which writing the trace must not change.
  DWORD GetLastError() override { return last_error_; }

 private:
  // Passes `result` on, keeping the inner call's error code when it failed.
  BOOL RememberFailure(BOOL result) {
    if (!result) last_error_ = inner_.GetLastError();
    return result;
  }

  DWORD last_error_ = 0;
  bool token_opened_ = false;
};

}  // namespace gorvanel

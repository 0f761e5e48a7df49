// gorvanel's own calls explained on the trace (platform/trace.h): the Java
// VM's start and end, and the names the membership check reads.
#pragma once

#include "platform/process.h"
#include "platform/security.h"
#include "platform/trace.h"

namespace gorvanel {

class TracingProcesses : public platform::Processes {
 public:
  TracingProcesses(platform::Processes& inner, platform::TraceLog& log)
      : inner_(inner), log_(log) {}
  platform::BOOL CreateProcessA(const char* application_name,
                                char* command_line, void* process_attributes,
                                void* thread_attributes,
                                platform::BOOL inherit_handles,
                                platform::DWORD creation_flags,
                                void* environment,
                                const char* current_directory,
                                platform::StartupInfoA* startup_info,
                                platform::ProcessInformation* info) override;
  platform::DWORD WaitForSingleObject(platform::HANDLE handle,
                                      platform::DWORD milliseconds) override {
    return inner_.WaitForSingleObject(handle, milliseconds);
  }
  platform::BOOL GetExitCodeProcess(platform::HANDLE process,
                                    platform::DWORD* exit_code) override;
  platform::BOOL TerminateProcess(platform::HANDLE process,
                                  platform::UINT exit_code) override {
    return inner_.TerminateProcess(process, exit_code);
  }
  platform::BOOL CloseHandle(platform::HANDLE handle) override {
    return inner_.CloseHandle(handle);
  }

 private:
  platform::Processes& inner_;
  platform::TraceLog& log_;
};

class TracingSecurity : public platform::Security {
 public:
  TracingSecurity(platform::Security& inner, platform::TraceLog& log)
      : inner_(inner), log_(log) {}
  platform::BOOL AllocateAndInitializeSid(
      const platform::SidIdentifierAuthority* authority,
      platform::BYTE sub_authority_count, platform::DWORD s0,
      platform::DWORD s1, platform::DWORD s2, platform::DWORD s3,
      platform::DWORD s4, platform::DWORD s5, platform::DWORD s6,
      platform::DWORD s7, platform::PSID* sid) override {
    return Kept(inner_.AllocateAndInitializeSid(
        authority, sub_authority_count, s0, s1, s2, s3, s4, s5, s6, s7, sid));
  }
  platform::BOOL LookupAccountSidA(const char* system_name, platform::PSID sid,
                                   char* name, platform::DWORD* name_size,
                                   char* domain, platform::DWORD* domain_size,
                                   int* use) override;
  void* FreeSid(platform::PSID sid) override { return inner_.FreeSid(sid); }
  platform::HANDLE GetCurrentProcess() override {
    return inner_.GetCurrentProcess();
  }
  platform::BOOL OpenProcessToken(platform::HANDLE process,
                                  platform::DWORD access,
                                  platform::HANDLE* token) override;
  platform::BOOL GetTokenInformation(platform::HANDLE token,
                                     int information_class, void* information,
                                     platform::DWORD length,
                                     platform::DWORD* return_length) override;
  platform::BOOL CloseHandle(platform::HANDLE handle) override {
    return inner_.CloseHandle(handle);
  }
  // The code of the last failure, which writing the trace must not change.
  platform::DWORD GetLastError() override { return last_error_; }

 private:
  platform::BOOL Kept(platform::BOOL result) {
    if (!result) last_error_ = inner_.GetLastError();
    return result;
  }

  platform::Security& inner_;
  platform::TraceLog& log_;
  platform::DWORD last_error_ = 0;
  bool token_opened_ = false;
};

}  // namespace gorvanel

#include "gorvanel/trace.h"

namespace gorvanel {

platform::BOOL TracingProcesses::CreateProcessA(
    const char* application_name, char* command_line, void* process_attributes,
    void* thread_attributes, BOOL inherit_handles, DWORD creation_flags,
    void* environment, const char* current_directory,
    platform::StartupInfoA* startup_info, platform::ProcessInformation* info) {
  log_.Line("command line: %s", command_line);
  BOOL created =
      inner_.CreateProcessA(application_name, command_line, process_attributes,
                            thread_attributes, inherit_handles, creation_flags,
                            environment, current_directory, startup_info, info);
  if (!created) log_.Line("the Java VM cannot be started");
  return created;
}

platform::BOOL TracingProcesses::GetExitCodeProcess(HANDLE process,
                                                    DWORD* exit_code) {
  BOOL read = inner_.GetExitCodeProcess(process, exit_code);
  if (read) {
    log_.Line("the Java VM ended with exit code %lu",
              static_cast<unsigned long>(*exit_code));
  } else {
    log_.Line("the Java VM's exit code cannot be read");
  }
  return read;
}

platform::BOOL TracingSecurity::LookupAccountSidA(
    const char* system_name, PSID sid, char* name, DWORD* name_size,
    char* domain, DWORD* domain_size, int* use) {
  BOOL found = RememberFailure(inner_.LookupAccountSidA(
      system_name, sid, name, name_size, domain, domain_size, use));
  // The first name asked for, before the token is opened, is the
  // Administrators group's; the others are the token's groups.
  const char* whose = token_opened_ ? "token group" : "Administrators group";
  if (found) {
    log_.Line("%s: %s", whose, name);
  } else {
    log_.Line("%s without a name (error %lu)", whose,
              static_cast<unsigned long>(last_error_));
  }
  return found;
}

platform::BOOL TracingSecurity::OpenProcessToken(HANDLE process, DWORD access,
                                                 HANDLE* token) {
  BOOL opened =
      RememberFailure(inner_.OpenProcessToken(process, access, token));
  token_opened_ = opened != 0;
  if (!opened) {
    log_.Line("the process token cannot be opened (error %lu)",
              static_cast<unsigned long>(last_error_));
  }
  return opened;
}

platform::BOOL TracingSecurity::GetTokenInformation(HANDLE token,
                                                    int information_class,
                                                    void* information,
                                                    DWORD length,
                                                    DWORD* return_length) {
  BOOL read = RememberFailure(inner_.GetTokenInformation(
      token, information_class, information, length, return_length));
  if (read) {
    log_.Line(
        "the token holds %lu groups",
        static_cast<unsigned long>(
            static_cast<platform::TokenGroups*>(information)->GroupCount));
  } else {
    log_.Line("the token's groups need %lu bytes, %lu offered (error %lu)",
              static_cast<unsigned long>(return_length ? *return_length : 0),
              static_cast<unsigned long>(length),
              static_cast<unsigned long>(last_error_));
  }
  return read;
}

}  // namespace gorvanel

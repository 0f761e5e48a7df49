#include "platform/trace.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// A registry value as the operator would read it: text up to its first
// zero byte, or its size when it holds none.
std::string DescribeData(const BYTE* data, DWORD size) {
  const char* text = reinterpret_cast<const char*>(data);
  if (size == 0) return "empty";
  if (std::memchr(text, '\0', size) == nullptr)
    return std::to_string(size) + " bytes without a terminator";
  return "\"" + std::string(text) + "\"";
}

}  // namespace

bool TraceRequested() {
  const char* value = std::getenv("TALVANE_TRACE");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

void TraceLog::Line(const char* format, ...) {
  std::fprintf(out_, "%s: ", program_);
  std::va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void TracingSafeguards::NotSetUp(const char* safeguard, unsigned long error) {
  log_.Line("%s cannot be set up (error %lu): going on without it", safeguard,
            error);
}

void TracingSafeguards::MayNotHold(const char* safeguard, const char* why) {
  log_.Line("%s may be lost: %s", safeguard, why);
}

LONG TracingRegistry::RegOpenKeyExA(HKEY root, const char* sub_key,
                                    DWORD options, DWORD access,
                                    HKEY* result) {
  LONG status = inner_.RegOpenKeyExA(root, sub_key, options, access, result);
  if (status == 0) {
    key_names_[*result] = sub_key;
  } else {
    log_.Line("registry key HKEY_LOCAL_MACHINE\\%s cannot be opened (error "
              "%ld)%s",
              sub_key, static_cast<long>(status), Reason().c_str());
  }
  return status;
}

LONG TracingRegistry::RegQueryValueExA(HKEY key, const char* value_name,
                                       DWORD* reserved, DWORD* type, BYTE* data,
                                       DWORD* size) {
  DWORD offered = size != nullptr ? *size : 0;
  LONG status =
      inner_.RegQueryValueExA(key, value_name, reserved, type, data, size);
  const std::string& key_name = key_names_[key];
  if (status == 0 && data != nullptr && size != nullptr) {
    log_.Line("registry value %s of HKEY_LOCAL_MACHINE\\%s: %s",
              value_name, key_name.c_str(),
              DescribeData(data, *size).c_str());
  } else if (status == static_cast<LONG>(kErrorMoreData) && size != nullptr) {
    log_.Line("registry value %s of HKEY_LOCAL_MACHINE\\%s: too large (%lu "
              "bytes, %lu offered)",
              value_name, key_name.c_str(), static_cast<unsigned long>(*size),
              static_cast<unsigned long>(offered));
  } else if (status != 0) {
    log_.Line("registry value %s of HKEY_LOCAL_MACHINE\\%s: not found "
              "(error %ld)%s",
              value_name, key_name.c_str(), static_cast<long>(status),
              Reason().c_str());
  }
  return status;
}

std::string TracingRegistry::Reason() const {
  const char* why = inner_.LastFailureReason();
  return why != nullptr && *why != '\0' ? std::string(": ") + why : "";
}

LONG TracingRegistry::RegCloseKey(HKEY key) {
  key_names_.erase(key);
  return inner_.RegCloseKey(key);
}

BOOL TracingEnvironment::SetEnvironmentVariableA(const char* name,
                                                 const char* value) {
  log_.Line("environment %s=%s", name, value != nullptr ? value : "");
  return inner_.SetEnvironmentVariableA(name, value);
}

int TracingSockets::WSAStartup(WORD version, WsaData* data) {
  int status = inner_.WSAStartup(version, data);
  if (status != 0) log_.Line("sockets layer cannot start (error %d)", status);
  return status;
}

const ServiceEntry* TracingSockets::GetServByName(const char* name,
                                                  const char* protocol) {
  const ServiceEntry* entry = inner_.GetServByName(name, protocol);
  if (entry == nullptr) {
    log_.Line("service %s/%s: not in the services database: default port",
              name, protocol);
  } else {
    log_.Line("service %s/%s: port %u", name, protocol,
              static_cast<unsigned>(inner_.Ntohs(entry->port)));
  }
  return entry;
}

TextStream* TracingTextFiles::Fopen(const char* path) {
  TextStream* stream = inner_.Fopen(path);
  log_.Line("ini file %s: %s", path,
            stream != nullptr ? "opened" : "cannot be opened");
  return stream;
}

char* TracingTextFiles::Fgets(char* buffer, int size, TextStream* stream) {
  char* line = inner_.Fgets(buffer, size, stream);
  if (line == nullptr) {
    log_.Line("ini file is empty");
  } else {
    log_.Line("ini file's first line: \"%.*s\"",
              static_cast<int>(std::strcspn(line, "\n")), line);
  }
  return line;
}

int TracingInterpreter::System(const char* command_line) {
  log_.Line("command line: %s", command_line);
  int status = inner_.System(command_line);
  log_.Line("command interpreter ended with status %d", status);
  return status;
}

BOOL TracingProcesses::CreateProcessA(
    const char* application_name, char* command_line, void* process_attributes,
    void* thread_attributes, BOOL inherit_handles, DWORD creation_flags,
    void* environment, const char* current_directory,
    StartupInfoA* startup_info, ProcessInformation* info) {
  log_.Line("command line: %s", command_line);
  BOOL created = inner_.CreateProcessA(
      application_name, command_line, process_attributes, thread_attributes,
      inherit_handles, creation_flags, environment, current_directory,
      startup_info, info);
  if (!created) log_.Line("the Java VM cannot be started");
  return created;
}

BOOL TracingProcesses::GetExitCodeProcess(HANDLE process, DWORD* exit_code) {
  BOOL read = inner_.GetExitCodeProcess(process, exit_code);
  if (read) {
    log_.Line("the Java VM ended with exit code %lu",
              static_cast<unsigned long>(*exit_code));
  } else {
    log_.Line("the Java VM's exit code cannot be read");
  }
  return read;
}

BOOL TracingSecurity::LookupAccountSidA(const char* system_name, PSID sid,
                                        char* name, DWORD* name_size,
                                        char* domain, DWORD* domain_size,
                                        int* use) {
  BOOL found = Kept(inner_.LookupAccountSidA(system_name, sid, name, name_size,
                                             domain, domain_size, use));
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

BOOL TracingSecurity::OpenProcessToken(HANDLE process, DWORD access,
                                       HANDLE* token) {
  BOOL opened = Kept(inner_.OpenProcessToken(process, access, token));
  token_opened_ = opened != 0;
  if (!opened) {
    log_.Line("the process token cannot be opened (error %lu)",
              static_cast<unsigned long>(last_error_));
  }
  return opened;
}

BOOL TracingSecurity::GetTokenInformation(HANDLE token, int information_class,
                                          void* information, DWORD length,
                                          DWORD* return_length) {
  BOOL read = Kept(inner_.GetTokenInformation(
      token, information_class, information, length, return_length));
  if (read) {
    log_.Line("the token holds %lu groups",
              static_cast<unsigned long>(
                  static_cast<TokenGroups*>(information)->GroupCount));
  } else {
    log_.Line("the token's groups need %lu bytes, %lu offered (error %lu)",
              static_cast<unsigned long>(return_length ? *return_length : 0),
              static_cast<unsigned long>(length),
              static_cast<unsigned long>(last_error_));
  }
  return read;
}

}  // namespace platform

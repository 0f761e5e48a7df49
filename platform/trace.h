// An opt-in trace: decorators that pass every call on unchanged and explain
// it on a stream (standard error), for the operator whose launcher ended
// with status 1 and said nothing.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "platform/environment.h"
#include "platform/interpreter.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/safeguards.h"
#include "platform/security.h"
#include "platform/sockets.h"
#include "platform/text_file.h"

namespace platform {

// Whether the environment asks for a trace (TALVANE_TRACE=1).
bool TraceRequested();

// Lines of one program's trace: "<program>: <text>\n".
class TraceLog {
 public:
  TraceLog(const char* program, std::FILE* out)
      : program_(program), out_(out) {}
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  const char* program_;
  std::FILE* out_;
};

// Hears of the safeguards left out while it is listening (from its
// construction to its end).
class TracingSafeguards : public SafeguardListener {
 public:
  explicit TracingSafeguards(TraceLog& log) : log_(log) {
    ListenToSafeguards(this);
  }
  ~TracingSafeguards() override { ListenToSafeguards(nullptr); }
  TracingSafeguards(const TracingSafeguards&) = delete;
  TracingSafeguards& operator=(const TracingSafeguards&) = delete;
  void NotSetUp(const char* safeguard, unsigned long error) override;
  void MayNotHold(const char* safeguard, const char* why) override;

 private:
  TraceLog& log_;
};

class TracingRegistry : public Registry {
 public:
  TracingRegistry(Registry& inner, TraceLog& log) : inner_(inner), log_(log) {}
  LONG RegOpenKeyExA(HKEY root, const char* sub_key, DWORD options,
                     DWORD access, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* reserved,
                        DWORD* type, BYTE* data, DWORD* size) override;
  LONG RegCloseKey(HKEY key) override;
  const char* LastFailureReason() const override {
    return inner_.LastFailureReason();
  }

 private:
  // ": <reason>" when the registry gives one for the last failure, else "".
  std::string Reason() const;

  Registry& inner_;
  TraceLog& log_;
  std::map<HKEY, std::string> key_names_;
};

class TracingEnvironment : public Environment {
 public:
  TracingEnvironment(Environment& inner, TraceLog& log)
      : inner_(inner), log_(log) {}
  BOOL SetEnvironmentVariableA(const char* name, const char* value) override;

 private:
  Environment& inner_;
  TraceLog& log_;
};

class TracingSockets : public Sockets {
 public:
  TracingSockets(Sockets& inner, TraceLog& log) : inner_(inner), log_(log) {}
  int WSAStartup(WORD version, WsaData* data) override;
  const ServiceEntry* GetServByName(const char* name,
                                    const char* protocol) override;
  WORD Ntohs(WORD net_value) override { return inner_.Ntohs(net_value); }
  int WSACleanup() override { return inner_.WSACleanup(); }

 private:
  Sockets& inner_;
  TraceLog& log_;
};

class TracingTextFiles : public TextFiles {
 public:
  TracingTextFiles(TextFiles& inner, TraceLog& log)
      : inner_(inner), log_(log) {}
  TextStream* Fopen(const char* path) override;
  char* Fgets(char* buffer, int size, TextStream* stream) override;
  int Fclose(TextStream* stream) override { return inner_.Fclose(stream); }

 private:
  TextFiles& inner_;
  TraceLog& log_;
};

class TracingInterpreter : public CommandInterpreter {
 public:
  TracingInterpreter(CommandInterpreter& inner, TraceLog& log)
      : inner_(inner), log_(log) {}
  int System(const char* command_line) override;

 private:
  CommandInterpreter& inner_;
  TraceLog& log_;
};

class TracingProcesses : public Processes {
 public:
  TracingProcesses(Processes& inner, TraceLog& log)
      : inner_(inner), log_(log) {}
  BOOL CreateProcessA(const char* application_name, char* command_line,
                      void* process_attributes, void* thread_attributes,
                      BOOL inherit_handles, DWORD creation_flags,
                      void* environment, const char* current_directory,
                      StartupInfoA* startup_info,
                      ProcessInformation* info) override;
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

 private:
  Processes& inner_;
  TraceLog& log_;
};

class TracingSecurity : public Security {
 public:
  TracingSecurity(Security& inner, TraceLog& log) : inner_(inner), log_(log) {}
  BOOL AllocateAndInitializeSid(const SidIdentifierAuthority* authority,
                                BYTE sub_authority_count, DWORD s0, DWORD s1,
                                DWORD s2, DWORD s3, DWORD s4, DWORD s5,
                                DWORD s6, DWORD s7, PSID* sid) override {
    return Kept(inner_.AllocateAndInitializeSid(
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
  BOOL Kept(BOOL result) {
    if (!result) last_error_ = inner_.GetLastError();
    return result;
  }

  Security& inner_;
  TraceLog& log_;
  DWORD last_error_ = 0;
  bool token_opened_ = false;
};

}  // namespace platform

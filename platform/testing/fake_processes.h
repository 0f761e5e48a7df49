// A child that has ended with `exit_code` by the time it is waited for.
// Calls go into a log shared with other fakes, handles named "process" and
// "thread", so that a test sees the order of waits, closes and writes.
#pragma once

#include <string>

#include "platform/process.h"
#include "platform/testing/fakes.h"

namespace platform_test {

class FakeProcesses : public platform::Processes {
 public:
  explicit FakeProcesses(Log* log) : log_(log) {}

  BOOL CreateProcessA(const char* application_name, char* command_line,
                      void* process_attributes, void* thread_attributes,
                      BOOL inherit_handles, DWORD creation_flags,
                      void* environment, const char* current_directory,
                      platform::StartupInfoA* startup_info,
                      platform::ProcessInformation* info) override {
    log_->push_back("create");
    lines.push_back(command_line);
    passed_defaults = application_name == nullptr &&
                      process_attributes == nullptr &&
                      thread_attributes == nullptr && inherit_handles == 0 &&
                      environment == nullptr && current_directory == nullptr;
    flags = creation_flags;
    startup = *startup_info;
    if (on_create) on_create();
    if (!create_result) return 0;
    info->hProcess = kProcess;
    info->hThread = kThread;
    return 1;
  }
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    log_->push_back(Name("wait", handle) + " " + std::to_string(milliseconds));
    return 0;
  }
  BOOL GetExitCodeProcess(HANDLE process, DWORD* code) override {
    log_->push_back(Name("exit code", process));
    *code = exit_code;
    return 1;
  }
  BOOL TerminateProcess(HANDLE process, platform::UINT code) override {
    log_->push_back(Name("terminate", process) + " " + std::to_string(code));
    return 1;
  }
  BOOL CloseHandle(HANDLE handle) override {
    log_->push_back(Name("close", handle));
    return 1;
  }

  DWORD exit_code = 0;
  BOOL create_result = 1;  // CreateProcessA's answer
  void (*on_create)() = nullptr;

  Log lines;
  bool passed_defaults = false;  // no application, attributes, environment..
  DWORD flags = 0;
  platform::StartupInfoA startup{};

 private:
  HANDLE const kProcess = &log_;
  HANDLE const kThread = &exit_code;
  std::string Name(const char* what, HANDLE handle) const {
    return std::string(what) + (handle == kProcess  ? " process"
                                : handle == kThread ? " thread"
                                                    : " unknown");
  }
  Log* log_;
};

}  // namespace platform_test

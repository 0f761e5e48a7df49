// Recording fakes of the platform for gorvanel's tests, with faults to
// inject.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/security.h"

namespace gorvanel_test {

// The two keys gorvanel reads, as subkeys of HKEY_LOCAL_MACHINE.
constexpr char kProvider[] =
    "Software\\Talvane\\Kestrin-NLX\\Datumwell\\CurrentVersion";
constexpr char kSite[] =
    "Software\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion";

using platform::BOOL;
using platform::DWORD;
using platform::HANDLE;
using platform::LONG;
using Log = std::vector<std::string>;

// Values by subkey (below HKEY_LOCAL_MACHINE) and name. A call made with
// other arguments than the launcher must pass fails as Windows would.
class FakeRegistry : public platform::Registry {
 public:
  using Values = std::map<std::string, std::string>;
  void Set(const std::string& key, const std::string& name,
           const std::string& text) {
    keys[key][name] = text + '\0';
  }

  LONG RegOpenKeyExA(platform::HKEY root, const char* sub_key, DWORD options,
                     DWORD access, platform::HKEY* result) override {
    opened.push_back(sub_key);
    auto key = keys.find(sub_key);
    if (root != platform::LocalMachineKey() || options != 0 ||
        access != platform::kKeyRead)
      return platform::kErrorInvalidParameter;
    if (key == keys.end()) return platform::kErrorFileNotFound;
    ++open_keys;
    *result = reinterpret_cast<platform::HKEY>(&key->second);
    return 0;
  }
  // Too large a value gives ERROR_MORE_DATA and leaves the start of it in
  // the destination, as Windows may.
  LONG RegQueryValueExA(platform::HKEY key, const char* name, DWORD* reserved,
                        DWORD* type, platform::BYTE* data,
                        DWORD* size) override {
    queried.push_back(name);
    if (reserved != nullptr || *type != platform::kRegSz)
      return platform::kErrorInvalidParameter;
    Values& values = *reinterpret_cast<Values*>(key);
    auto value = values.find(name);
    if (value == values.end()) return platform::kErrorFileNotFound;
    DWORD room = *size;
    *size = static_cast<DWORD>(value->second.size());
    std::memcpy(data, value->second.data(), *size < room ? *size : room);
    return *size > room ? platform::kErrorMoreData : 0;
  }
  LONG RegCloseKey(platform::HKEY) override { return --open_keys, 0; }

  std::map<std::string, Values> keys;
  Log opened, queried;
  int open_keys = 0;
};

class FakeConsole : public platform::Console {
 public:
  explicit FakeConsole(Log* log = nullptr) : log_(log) {}
  void Write(const char* text) override {
    output += text;
    if (log_) log_->push_back(std::string("write ") + text);
  }
  std::string output;

 private:
  Log* log_;
};

// A child that has ended with `exit_code` by the time it is waited for.
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
  BOOL create_result = 1;
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

// malloc underneath; can refuse the n-th request (Allocate and Reallocate
// counted together, from 1) and knows which blocks are still held.
class FakeHeap : public platform::Heap {
 public:
  void* Allocate(std::size_t size) override {
    return Hand(nullptr, size, "allocate ");
  }
  void* Reallocate(void* block, std::size_t size) override {
    return Hand(block, size, "reallocate ");
  }
  void Release(void* block) override {
    bad_releases += held.erase(block) == 0;
    std::free(block);
  }
  ~FakeHeap() override {
    for (void* block : held) std::free(block);
  }

  int fail_request = 0;
  Log requests;
  std::set<void*> held;
  int bad_releases = 0;

 private:
  void* Hand(void* block, std::size_t size, const char* what) {
    requests.push_back(what + std::to_string(size));
    if (static_cast<int>(requests.size()) == fail_request) return nullptr;
    void* given = std::realloc(block, size);
    held.erase(block);
    held.insert(given);
    return given;
  }
};

// A process token holding groups by name. SIDs are addresses inside the
// fake; the group list is laid out as a real TOKEN_GROUPS record and its
// size reported the Windows way.
class FakeSecurity : public platform::Security {
 public:
  static DWORD ListSize(std::size_t count) {
    return static_cast<DWORD>(offsetof(platform::TokenGroups, Groups) +
                              count * sizeof(platform::SidAndAttributes));
  }

  BOOL AllocateAndInitializeSid(const platform::SidIdentifierAuthority* a,
                                platform::BYTE count, DWORD s0, DWORD s1,
                                DWORD s2, DWORD s3, DWORD s4, DWORD s5,
                                DWORD s6, DWORD s7,
                                platform::PSID* sid) override {
    sid_parts.assign(a->Value, a->Value + 6);
    sid_parts.insert(sid_parts.end(), {count, s0, s1, s2, s3, s4, s5, s6, s7});
    if (Failing("allocate sid")) return 0;
    *sid = &sids_[0];
    ++held;
    return 1;
  }
  // Logs the capacities it was offered; only the local system is known.
  BOOL LookupAccountSidA(const char* system, platform::PSID sid, char* name,
                         DWORD* name_size, char* domain, DWORD* domain_size,
                         int* use) override {
    std::size_t index = static_cast<char*>(sid) - sids_;
    std::string call = index == 0 ? "lookup administrators"
                                  : "lookup group " + std::to_string(index - 1);
    calls.push_back(call + " " + std::to_string(*name_size) + "/" +
                    std::to_string(*domain_size));
    if (system != nullptr || Failing(call)) return 0;
    const std::string& text = index == 0 ? admin_name : groups.at(index - 1);
    if (text.empty()) return Fail(platform::kErrorNoneMapped);
    if (text.size() >= *name_size || *domain_size < 8)
      return Fail(platform::kErrorInsufficientBuffer);
    std::strcpy(name, text.c_str());
    std::strcpy(domain, "BUILTIN");
    *name_size = static_cast<DWORD>(text.size());
    *domain_size = 7;
    *use = 4;
    return index == 0 ? 1 : group_lookup_result;
  }
  void* FreeSid(platform::PSID sid) override {
    calls.push_back("free sid");
    held -= sid == &sids_[0];
    return nullptr;
  }
  HANDLE GetCurrentProcess() override { return &process_; }
  BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override {
    if (Failing("open token") || process != &process_ ||
        access != platform::kTokenQuery)
      return 0;
    *token = &token_;
    ++held;
    return 1;
  }
  BOOL GetTokenInformation(HANDLE token, int info_class, void* information,
                           DWORD length, DWORD* return_length) override {
    std::size_t count = groups.size() + (++reads_ > 1 ? grow_by : 0);
    *return_length = ListSize(count);
    if (Failing("read groups " + std::to_string(length))) return 0;
    if (token != &token_ || info_class != platform::kTokenGroupsClass)
      return Fail(platform::kErrorInvalidParameter);
    if (length < *return_length)
      return Fail(platform::kErrorInsufficientBuffer);
    auto* list = static_cast<platform::TokenGroups*>(information);
    list->GroupCount = static_cast<DWORD>(count);
    platform::SidAndAttributes* entries = list->Groups;
    for (std::size_t i = 0; i < count; ++i)
      entries[i] = {&sids_[i + 1], attributes};
    return 1;
  }
  BOOL CloseHandle(HANDLE handle) override {
    calls.push_back("close token");
    held -= handle == &token_;
    return 1;
  }
  DWORD GetLastError() override { return last_error; }

  std::string admin_name = "Administrators";
  std::vector<std::string> groups;  // "" is a SID without an account name
  DWORD attributes = 0;             // of every group
  BOOL group_lookup_result = 1;
  std::string fail;  // the call to fail, as logged ("open token", ...)
  DWORD fail_code = platform::kErrorNoneMapped;
  std::size_t grow_by = 0;  // groups added before the second read

  Log calls;
  std::vector<DWORD> sid_parts;
  int held = 0;  // SIDs and token handles not yet given back
  DWORD last_error = 0;

 private:
  bool Failing(const std::string& call) {
    if (call.compare(0, 6, "lookup") != 0) calls.push_back(call);
    if (call != fail) return false;
    last_error = fail_code;
    return true;
  }
  BOOL Fail(DWORD code) {
    last_error = code;
    return 0;
  }
  char sids_[512] = {};
  char token_ = 0;
  char process_ = 0;
  int reads_ = 0;
};

}  // namespace gorvanel_test

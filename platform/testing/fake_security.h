// A process token holding groups by name. SIDs are addresses inside the
// fake; the group list is laid out as a real TOKEN_GROUPS record and its
// size reported the Windows way. Calls are logged in order with the
// capacities and lengths offered; one kind of call can be made to fail.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/security.h"
#include "platform/testing/fakes.h"

namespace platform_test {

class FakeSecurity : public platform::Security {
 public:
  enum class Call {
    kNone,
    kAllocateSid,
    kLookupAdministrators,  // the name of the first SID allocated
    kLookupGroup,           // the name of a token group
    kOpenToken,
    kReadGroups,
  };

  static DWORD ListSize(std::size_t count) {
    return static_cast<DWORD>(offsetof(platform::TokenGroups, Groups) +
                              count * sizeof(platform::SidAndAttributes));
  }

  BOOL AllocateAndInitializeSid(const platform::SidIdentifierAuthority* a,
                                platform::BYTE count, DWORD s0, DWORD s1,
                                DWORD s2, DWORD s3, DWORD s4, DWORD s5,
                                DWORD s6, DWORD s7,
                                platform::PSID* sid) override {
    calls.push_back("allocate sid");
    sid_parts.assign(a->Value, a->Value + 6);
    sid_parts.insert(sid_parts.end(), {count, s0, s1, s2, s3, s4, s5, s6, s7});
    if (Failing(Call::kAllocateSid)) return 0;
    *sid = &sids_[0];
    ++held;
    return 1;
  }
  // Only the local system is known.
  BOOL LookupAccountSidA(const char* system, platform::PSID sid, char* name,
                         DWORD* name_size, char* domain, DWORD* domain_size,
                         int* use) override {
    std::size_t index = static_cast<char*>(sid) - sids_;
    calls.push_back(
        (index == 0 ? "lookup administrators "
                    : "lookup group " + std::to_string(index - 1) + " ") +
        std::to_string(*name_size) + "/" + std::to_string(*domain_size));
    if (Failing(index == 0 ? Call::kLookupAdministrators : Call::kLookupGroup))
      return 0;
    if (system != nullptr) return Fail(platform::kErrorNoneMapped);
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
  // The token keeps the access it was opened with; reading its groups
  // needs TOKEN_QUERY.
  BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override {
    calls.push_back("open token");
    if (Failing(Call::kOpenToken)) return 0;
    if (process != &process_) return Fail(platform::kErrorInvalidHandle);
    token_access_ = access;
    *token = &token_;
    ++held;
    return 1;
  }
  BOOL GetTokenInformation(HANDLE token, int info_class, void* information,
                           DWORD length, DWORD* return_length) override {
    calls.push_back("read groups " + std::to_string(length));
    std::size_t count = groups.size() + (++reads_ > 1 ? grow_by : 0);
    *return_length = ListSize(count);
    if (Failing(Call::kReadGroups)) return 0;
    if (token != &token_) return Fail(platform::kErrorInvalidHandle);
    if ((token_access_ & platform::kTokenQuery) == 0)
      return Fail(platform::kErrorAccessDenied);
    if (info_class != platform::kTokenGroupsClass)
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
  std::size_t grow_by = 0;  // groups added before the second read
  Call fail = Call::kNone;  // every call of this kind fails with fail_code
  DWORD fail_code = platform::kErrorNoneMapped;

  Log calls;
  std::vector<DWORD> sid_parts;
  int held = 0;  // SIDs and token handles not yet given back
  DWORD last_error = 0;

 private:
  bool Failing(Call call) {
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
  DWORD token_access_ = 0;
  int reads_ = 0;
};

}  // namespace platform_test

// Well-known SIDs, account names and token groups, straight through to the
// narrow Windows calls.
#include "platform/security.h"
#include "platform/win32/internal.h"

namespace platform {
namespace {

static_assert(kTokenQuery == TOKEN_QUERY, "TOKEN_QUERY");
static_assert(kTokenGroupsClass == ::TokenGroups, "TokenGroups class");

// The authority is handed to Windows as its own, and the token's group list
// is read through our records, so both must be laid out as Windows has them.
SAME_RECORD(SidIdentifierAuthority, SID_IDENTIFIER_AUTHORITY);
SAME_FIELD(SidIdentifierAuthority, SID_IDENTIFIER_AUTHORITY, Value);

SAME_RECORD(SidAndAttributes, SID_AND_ATTRIBUTES);
SAME_FIELD(SidAndAttributes, SID_AND_ATTRIBUTES, Sid);
SAME_FIELD(SidAndAttributes, SID_AND_ATTRIBUTES, Attributes);

SAME_RECORD(platform::TokenGroups, TOKEN_GROUPS);
SAME_FIELD(platform::TokenGroups, TOKEN_GROUPS, GroupCount);
SAME_FIELD(platform::TokenGroups, TOKEN_GROUPS, Groups);

class Win32Security : public Security {
 public:
  BOOL AllocateAndInitializeSid(const SidIdentifierAuthority* authority,
                                BYTE sub_authority_count, DWORD s0, DWORD s1,
                                DWORD s2, DWORD s3, DWORD s4, DWORD s5,
                                DWORD s6, DWORD s7, PSID* sid) override {
    // Windows declares the authority writable but only reads it.
    return ::AllocateAndInitializeSid(
        const_cast<SID_IDENTIFIER_AUTHORITY*>(
            reinterpret_cast<const SID_IDENTIFIER_AUTHORITY*>(authority)),
        sub_authority_count, s0, s1, s2, s3, s4, s5, s6, s7, sid);
  }

  // The kind comes back as an enum; hand it on as a plain int.
  BOOL LookupAccountSidA(const char* system_name, PSID sid, char* name,
                         DWORD* name_size, char* domain, DWORD* domain_size,
                         int* use) override {
    SID_NAME_USE kind = SidTypeUnknown;
    BOOL result = ::LookupAccountSidA(
        system_name, sid, name, reinterpret_cast<::DWORD*>(name_size), domain,
        reinterpret_cast<::DWORD*>(domain_size), &kind);
    if (use)
      *use = kind;
    return result;
  }

  void* FreeSid(PSID sid) override { return ::FreeSid(sid); }

  HANDLE GetCurrentProcess() override { return ::GetCurrentProcess(); }

  BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override {
    return ::OpenProcessToken(process, access, token);
  }

  BOOL GetTokenInformation(HANDLE token, int information_class,
                           void* information, DWORD length,
                           DWORD* return_length) override {
    return ::GetTokenInformation(
        token, static_cast<TOKEN_INFORMATION_CLASS>(information_class),
        information, length, reinterpret_cast<::DWORD*>(return_length));
  }

  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }

  DWORD GetLastError() override { return ::GetLastError(); }
};

}  // namespace

Security& SystemSecurity() {
  static Win32Security security;
  return security;
}

}  // namespace platform

// Well-known SIDs, account names and the process token's groups, mirroring
// the narrow Windows calls.
#pragma once

#include "platform/types.h"

namespace platform {

struct SidIdentifierAuthority {
  BYTE Value[6];
};

// SID_AND_ATTRIBUTES and TOKEN_GROUPS, laid out as Windows lays them out.
struct SidAndAttributes {
  PSID Sid;
  DWORD Attributes;
};

struct TokenGroups {
  DWORD GroupCount;
  SidAndAttributes Groups[1];
};

// S-1-5-32-544, the built-in Administrators group: what gorvanel asks the
// name of, and what the Linux stand-in answers with the gid-0 group's.
constexpr SidIdentifierAuthority kNtAuthority = {{0, 0, 0, 0, 0, 5}};
constexpr DWORD kBuiltinDomainRid = 32;
constexpr DWORD kAdministratorsRid = 544;

constexpr DWORD kTokenQuery = 0x0008;   // TOKEN_QUERY
constexpr int kTokenGroupsClass = 2;    // TokenGroups

class Security {
 public:
  virtual ~Security() = default;
  // AllocateAndInitializeSid: non-zero with *sid to be released by FreeSid.
  virtual BOOL AllocateAndInitializeSid(const SidIdentifierAuthority* authority,
                                        BYTE sub_authority_count, DWORD s0,
                                        DWORD s1, DWORD s2, DWORD s3, DWORD s4,
                                        DWORD s5, DWORD s6, DWORD s7,
                                        PSID* sid) = 0;
  // LookupAccountSidA: non-zero with the names, the capacities (in
  // characters) lowered to the lengths written.
  virtual BOOL LookupAccountSidA(const char* system_name, PSID sid, char* name,
                                 DWORD* name_size, char* domain,
                                 DWORD* domain_size, int* use) = 0;
  // FreeSid.
  virtual void* FreeSid(PSID sid) = 0;
  // GetCurrentProcess.
  virtual HANDLE GetCurrentProcess() = 0;
  // OpenProcessToken: non-zero with *token open.
  virtual BOOL OpenProcessToken(HANDLE process, DWORD access,
                                HANDLE* token) = 0;
  // GetTokenInformation: non-zero with the data; *return_length always
  // receives the bytes the data need.
  virtual BOOL GetTokenInformation(HANDLE token, int information_class,
                                   void* information, DWORD length,
                                   DWORD* return_length) = 0;
  // CloseHandle, for the token.
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  // GetLastError: the code of this thread's last failed call.
  virtual DWORD GetLastError() = 0;
};

Security& SystemSecurity();

}  // namespace platform

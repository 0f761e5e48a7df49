#include "gorvanel/membership.h"

#include <cstddef>
#include <cstring>

namespace gorvanel {
namespace {

using platform::DWORD;

// Capacities, each a limit the operator sees.
constexpr DWORD kAdministratorsNameSize = 256;  // characters
constexpr DWORD kGroupListSize = 1024;          // bytes, before any regrowth
constexpr DWORD kGroupNameSize = 1024;          // characters

// A platform failure's code. A failure that reports 0 would read as
// membership, so it is turned into ERROR_ACCESS_DENIED: the gate fails
// closed.
DWORD FailureCode(platform::Security& security) {
  DWORD code = security.GetLastError();
  return code != platform::kErrorSuccess ? code : platform::kErrorAccessDenied;
}

// The Administrators group's account name on this system, which may be a
// translated one, into `name` (kAdministratorsNameSize characters).
DWORD LookUpAdministratorsName(platform::Security& security, char* name) {
  platform::PSID sid = nullptr;
  if (!security.AllocateAndInitializeSid(
          &platform::kNtAuthority, 2, platform::kBuiltinDomainRid,
          platform::kAdministratorsRid, 0, 0, 0, 0, 0, 0, &sid))
    return FailureCode(security);
  char domain[kAdministratorsNameSize];
  DWORD name_size = kAdministratorsNameSize;
  DWORD domain_size = kAdministratorsNameSize;
  int use = 0;
  platform::BOOL found = security.LookupAccountSidA(
      nullptr, sid, name, &name_size, domain, &domain_size, &use);
  DWORD code = found ? platform::kErrorSuccess : FailureCode(security);
  security.FreeSid(sid);
  return code;
}

// The token's group list in a heap buffer of 1024 bytes, regrown once to the
// length the platform asks for. On 0 the caller owns *list, *size bytes.
DWORD ReadTokenGroups(platform::Security& security, platform::Heap& heap,
                      platform::HANDLE token, void** list, DWORD* size) {
  void* buffer = heap.Allocate(kGroupListSize);
  if (buffer == nullptr) return platform::kErrorNotEnoughMemory;
  DWORD offered = kGroupListSize;
  DWORD needed = 0;
  platform::BOOL read = security.GetTokenInformation(
      token, platform::kTokenGroupsClass, buffer, offered, &needed);
  if (needed > kGroupListSize) {
    void* grown = heap.Reallocate(buffer, needed);
    if (grown == nullptr) {
      heap.Release(buffer);
      return platform::kErrorNotEnoughMemory;
    }
    buffer = grown;
    offered = needed;
    read = security.GetTokenInformation(token, platform::kTokenGroupsClass,
                                        buffer, offered, &needed);
  }
  if (!read) {
    DWORD code = FailureCode(security);
    heap.Release(buffer);
    return code;
  }
  *list = buffer;
  *size = offered;
  return platform::kErrorSuccess;
}

// How many entries the list holds, never more than its buffer has room for.
DWORD CountedGroups(const platform::TokenGroups* groups, DWORD size) {
  const DWORD header = offsetof(platform::TokenGroups, Groups);
  if (size < header) return 0;
  DWORD room = (size - header) / sizeof(platform::SidAndAttributes);
  return groups->GroupCount < room ? groups->GroupCount : room;
}

// 0 when a group of the list bears `wanted` as its account name, else 5.
// Groups without a name, or with one too long to read, are passed over.
DWORD FindGroupNamed(platform::Security& security, platform::Heap& heap,
                     const platform::TokenGroups* groups, DWORD size,
                     const char* wanted) {
  char* name = static_cast<char*>(heap.Allocate(kGroupNameSize));
  if (name == nullptr) return platform::kErrorNotEnoughMemory;
  char* domain = static_cast<char*>(heap.Allocate(kGroupNameSize));
  if (domain == nullptr) {
    heap.Release(name);
    return platform::kErrorNotEnoughMemory;
  }
  DWORD result = platform::kErrorAccessDenied;
  const platform::SidAndAttributes* entries = groups->Groups;
  DWORD count = CountedGroups(groups, size);
  for (DWORD i = 0; i < count; ++i) {
    DWORD name_size = kGroupNameSize;
    DWORD domain_size = kGroupNameSize;
    int use = 0;
    if (security.LookupAccountSidA(nullptr, entries[i].Sid, name, &name_size,
                                   domain, &domain_size, &use) != 1)
      continue;
    if (std::strcmp(name, wanted) == 0) {
      result = platform::kErrorSuccess;
      break;
    }
  }
  heap.Release(domain);
  heap.Release(name);
  return result;
}

}  // namespace

DWORD CheckAdministratorMembership(platform::Security& security,
                                   platform::Heap& heap) {
  char administrators[kAdministratorsNameSize];
  DWORD code = LookUpAdministratorsName(security, administrators);
  if (code != platform::kErrorSuccess) return code;

  platform::HANDLE token = nullptr;
  if (!security.OpenProcessToken(security.GetCurrentProcess(),
                                 platform::kTokenQuery, &token))
    return FailureCode(security);
  void* list = nullptr;
  DWORD size = 0;
  code = ReadTokenGroups(security, heap, token, &list, &size);
  if (code == platform::kErrorSuccess) {
    code = FindGroupNamed(security, heap,
                          static_cast<const platform::TokenGroups*>(list), size,
                          administrators);
    heap.Release(list);
  }
  security.CloseHandle(token);
  return code;
}

int AuthorityGate(platform::Security& security, platform::Heap& heap) {
  return CheckAdministratorMembership(security, heap) != 0 ? 1 : 0;
}

}  // namespace gorvanel

// The Windows security calls on Linux. The group with gid 0 stands for the
// built-in Administrators, a Unix group is S-1-22-2-<gid>, and the process's
// effective and supplementary groups are its token's groups.
#include "platform/security.h"

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/heap.h"
#include "platform/posix/internal.h"

namespace platform {
namespace {

constexpr DWORD kErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED
constexpr BYTE kMaxInitialSubAuthorities = 8;

// Rights that include TOKEN_QUERY: itself, GENERIC_READ, GENERIC_ALL and
// MAXIMUM_ALLOWED (TOKEN_ALL_ACCESS carries the TOKEN_QUERY bit).
constexpr DWORD kQueryRights = kTokenQuery | 0x80000000u | 0x10000000u |
                               0x02000000u;

thread_local DWORD last_error = kErrorSuccess;

BOOL Fail(DWORD code) {
  last_error = code;
  return 0;
}

// Windows answers exactly 1 on success, and callers may test for it.
BOOL SucceedOrFail(DWORD code) {
  return code == kErrorSuccess ? 1 : Fail(code);
}

HANDLE CurrentProcessPseudoHandle() {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

// The name of gid's group in this system's group database.
DWORD SystemGroupName(DWORD gid, std::string* name) {
  return ReadGroupName(gid, getgrgid_r, StandardHeap(), name);
}

// getgroups can change between asking the count and reading the list; read
// until the two agree.
bool ProcessGroupIds(std::vector<DWORD>* gids) {
  for (;;) {
    int count = getgroups(0, nullptr);
    if (count < 0) return false;
    std::vector<gid_t> supplementary(static_cast<std::size_t>(count) + 1);
    int read = getgroups(static_cast<int>(supplementary.size()),
                         supplementary.data());
    if (read < 0 && errno == EINVAL) continue;
    if (read < 0) return false;
    supplementary.resize(static_cast<std::size_t>(read));
    *gids = TokenGroupIds(static_cast<DWORD>(getegid()),
                          std::vector<DWORD>(supplementary.begin(),
                                             supplementary.end()));
    return true;
  }
}

// A token holds the groups as they were when it was opened, as a Windows
// token does, so two reads of one token agree.
struct Token {
  DWORD access;
  std::vector<DWORD> groups;
};

class PosixSecurity : public Security {
 public:
  BOOL AllocateAndInitializeSid(const SidIdentifierAuthority* authority,
                                BYTE sub_authority_count, DWORD s0, DWORD s1,
                                DWORD s2, DWORD s3, DWORD s4, DWORD s5,
                                DWORD s6, DWORD s7, PSID* sid) override {
    if (authority == nullptr || sid == nullptr || sub_authority_count == 0 ||
        sub_authority_count > kMaxInitialSubAuthorities) {
      return Fail(kErrorInvalidParameter);
    }
    const DWORD sub_authorities[kMaxInitialSubAuthorities] = {s0, s1, s2, s3,
                                                              s4, s5, s6, s7};
    void* block = std::malloc(SidLength(sub_authority_count));
    if (block == nullptr) return Fail(kErrorNotEnoughMemory);
    WriteSid(*authority, sub_authority_count, sub_authorities, block);
    *sid = block;
    return 1;
  }

  BOOL LookupAccountSidA(const char* system_name, PSID sid, char* name,
                         DWORD* name_size, char* domain, DWORD* domain_size,
                         int* use) override {
    // Only the local group database is known here.
    if (system_name != nullptr) return Fail(kErrorNotSupported);
    return SucceedOrFail(LookupAccount(
        sid, [this](DWORD gid, std::string* found) {
          return RememberedGroupName(gid, found);
        },
        name, name_size, domain, domain_size, use));
  }

  void* FreeSid(PSID sid) override {
    std::free(sid);
    return nullptr;
  }

  HANDLE GetCurrentProcess() override { return CurrentProcessPseudoHandle(); }

  BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override {
    if (token == nullptr) return Fail(kErrorInvalidParameter);
    if (process != CurrentProcessPseudoHandle()) {
      return Fail(kErrorInvalidHandle);
    }
    Token* opened = new (std::nothrow) Token{access, {}};
    if (opened == nullptr) return Fail(kErrorNotEnoughMemory);
    if (!ProcessGroupIds(&opened->groups)) {
      delete opened;
      return Fail(kErrorAccessDenied);
    }
    tokens_.insert(opened);
    *token = opened;
    return 1;
  }

  BOOL GetTokenInformation(HANDLE token, int information_class,
                           void* information, DWORD length,
                           DWORD* return_length) override {
    Token* open = FindToken(token);
    if (open == nullptr) return Fail(kErrorInvalidHandle);
    if (information_class != kTokenGroupsClass || return_length == nullptr) {
      return Fail(kErrorInvalidParameter);
    }
    if ((open->access & kQueryRights) == 0) return Fail(kErrorAccessDenied);
    return SucceedOrFail(
        WriteTokenGroups(open->groups, information, length, return_length));
  }

  BOOL CloseHandle(HANDLE handle) override {
    // Closing the pseudo handle is allowed and does nothing, as on Windows.
    if (handle == CurrentProcessPseudoHandle()) return 1;
    Token* token = FindToken(handle);
    if (token == nullptr) return Fail(kErrorInvalidHandle);
    tokens_.erase(token);
    delete token;
    return 1;
  }

  DWORD GetLastError() override { return last_error; }

 private:
  // The last name read, which answers the membership check's lookup of the
  // gid-0 group among the token's without opening the database again. A
  // failed lookup is not remembered.
  DWORD RememberedGroupName(DWORD gid, std::string* name) {
    if (!remembered_ || remembered_gid_ != gid) {
      std::string found;
      DWORD code = SystemGroupName(gid, &found);
      if (code != kErrorSuccess) return code;
      remembered_name_ = std::move(found);
      remembered_gid_ = gid;
      remembered_ = true;
    }
    *name = remembered_name_;
    return kErrorSuccess;
  }

  Token* FindToken(HANDLE handle) const {
    auto it = tokens_.find(static_cast<Token*>(handle));
    return it == tokens_.end() ? nullptr : *it;
  }

  // Open tokens, so that a stale or foreign handle is refused, not followed.
  // The launchers are single-threaded: no lock.
  std::set<Token*> tokens_;
  bool remembered_ = false;
  DWORD remembered_gid_ = 0;
  std::string remembered_name_;
};

}  // namespace

Security& SystemSecurity() {
  static PosixSecurity security;
  return security;
}

}  // namespace platform

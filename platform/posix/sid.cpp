// SIDs and the token's group record in Windows' layout, and the names this
// system gives them, from plain values so that tests need no group database.
#include "platform/posix/internal.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <set>

namespace platform {
namespace {

constexpr std::size_t kSidHeaderLength = 8;  // revision, count, authority
constexpr BYTE kUnixGroupSidCount = 2;       // S-1-22-2-<gid>

bool SameAuthority(const SidIdentifierAuthority& a,
                   const SidIdentifierAuthority& b) {
  return std::memcmp(a.Value, b.Value, sizeof a.Value) == 0;
}

bool IsAdministrators(const SidParts& sid) {
  return SameAuthority(sid.authority, kNtAuthority) && sid.count == 2 &&
         sid.sub_authorities[0] == kBuiltinDomainRid &&
         sid.sub_authorities[1] == kAdministratorsRid;
}

bool IsUnixGroup(const SidParts& sid) {
  return SameAuthority(sid.authority, kUnixAuthority) &&
         sid.count == kUnixGroupSidCount &&
         sid.sub_authorities[0] == kUnixGroupRid;
}

// The account a SID names here: the Administrators alias is the group with
// gid 0, and S-1-22-2-<gid> is that Unix group. Nothing else has a name.
struct Account {
  std::string name;
  const char* domain;
  int use;
};

DWORD FindAccount(const SidParts& sid, const GroupNameLookup& group_name,
                  Account* account) {
  DWORD gid = 0;
  if (IsAdministrators(sid)) {
    account->domain = "BUILTIN";
    account->use = kSidTypeAlias;
  } else if (IsUnixGroup(sid)) {
    gid = sid.sub_authorities[1];
    account->domain = "Unix Group";
    account->use = kSidTypeGroup;
  } else {
    return kErrorNoneMapped;
  }
  return group_name(gid, &account->name);
}

// A capacity in characters holds `text` only with room for its terminator.
bool Fits(const std::string& text, DWORD capacity) {
  return text.size() < capacity;
}

DWORD SizeWithTerminator(const std::string& text) {
  return static_cast<DWORD>(text.size() + 1);
}

// Bytes of the TokenGroups record for `count` Unix groups, SIDs included.
std::size_t TokenGroupsLength(std::size_t count) {
  return offsetof(TokenGroups, Groups) +
         count * (sizeof(SidAndAttributes) + SidLength(kUnixGroupSidCount));
}

}  // namespace

std::size_t SidLength(BYTE count) {
  return kSidHeaderLength + sizeof(DWORD) * count;
}

void WriteSid(const SidIdentifierAuthority& authority, BYTE count,
              const DWORD* sub_authorities, void* out) {
  BYTE* bytes = static_cast<BYTE*>(out);
  bytes[0] = kSidRevision;
  bytes[1] = count;
  std::memcpy(bytes + 2, authority.Value, sizeof authority.Value);
  std::memcpy(bytes + kSidHeaderLength, sub_authorities,
              sizeof(DWORD) * count);
}

bool ReadSid(const void* sid, SidParts* parts) {
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  if (bytes[0] != kSidRevision || bytes[1] > kSidMaxSubAuthorities) {
    return false;
  }
  parts->count = bytes[1];
  std::memcpy(parts->authority.Value, bytes + 2,
              sizeof parts->authority.Value);
  std::memcpy(parts->sub_authorities, bytes + kSidHeaderLength,
              sizeof(DWORD) * parts->count);
  return true;
}

DWORD LookupAccount(const void* sid, const GroupNameLookup& group_name,
                    char* name, DWORD* name_size, char* domain,
                    DWORD* domain_size, int* use) {
  if (sid == nullptr || name_size == nullptr || domain_size == nullptr) {
    return kErrorInvalidParameter;
  }
  SidParts parts;
  if (!ReadSid(sid, &parts)) return kErrorInvalidSid;
  Account account;
  DWORD error = FindAccount(parts, group_name, &account);
  if (error != kErrorSuccess) return error;
  const std::string domain_text = account.domain;
  // Like Windows, a short buffer reports both sizes so that one retry does.
  if (!Fits(account.name, *name_size) || !Fits(domain_text, *domain_size)) {
    *name_size = SizeWithTerminator(account.name);
    *domain_size = SizeWithTerminator(domain_text);
    return kErrorInsufficientBuffer;
  }
  if (name == nullptr || domain == nullptr) return kErrorInvalidParameter;
  std::memcpy(name, account.name.c_str(), account.name.size() + 1);
  std::memcpy(domain, domain_text.c_str(), domain_text.size() + 1);
  *name_size = static_cast<DWORD>(account.name.size());
  *domain_size = static_cast<DWORD>(domain_text.size());
  if (use != nullptr) *use = account.use;
  return kErrorSuccess;
}

std::vector<DWORD> TokenGroupIds(DWORD effective_gid,
                                 const std::vector<DWORD>& supplementary) {
  std::vector<DWORD> gids{effective_gid};
  std::set<DWORD> seen{effective_gid};
  for (DWORD gid : supplementary) {
    if (seen.insert(gid).second) gids.push_back(gid);
  }
  return gids;
}

DWORD WriteTokenGroups(const std::vector<DWORD>& gids, void* buffer,
                       DWORD length, DWORD* needed) {
  const std::size_t total = TokenGroupsLength(gids.size());
  if (total > std::numeric_limits<DWORD>::max()) return kErrorNotEnoughMemory;
  *needed = static_cast<DWORD>(total);
  if (length < total) return kErrorInsufficientBuffer;
  if (buffer == nullptr) return kErrorInvalidParameter;

  // The SIDs follow the entry array in the same buffer, as Windows packs
  // them, so the record stays valid for as long as the caller's buffer.
  BYTE* base = static_cast<BYTE*>(buffer);
  BYTE* entries = base + offsetof(TokenGroups, Groups);
  BYTE* sids = entries + gids.size() * sizeof(SidAndAttributes);
  const DWORD count = static_cast<DWORD>(gids.size());
  std::memcpy(base, &count, sizeof count);
  for (std::size_t i = 0; i < gids.size(); ++i) {
    BYTE* sid = sids + i * SidLength(kUnixGroupSidCount);
    const DWORD sub_authorities[kUnixGroupSidCount] = {kUnixGroupRid, gids[i]};
    WriteSid(kUnixAuthority, kUnixGroupSidCount, sub_authorities, sid);
    const SidAndAttributes entry = {sid, kGroupEnabledAttributes};
    std::memcpy(entries + i * sizeof entry, &entry, sizeof entry);
  }
  return kErrorSuccess;
}

}  // namespace platform

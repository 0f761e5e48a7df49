// SIDs and the token-group record in Windows' binary layout, and the account
// names this system gives them, built from plain values so that the logic is
// tested without the real group database.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/security.h"
#include "platform/types.h"

namespace platform {

constexpr BYTE kSidRevision = 1;
constexpr BYTE kSidMaxSubAuthorities = 15;  // SID_MAX_SUB_AUTHORITIES
constexpr SidIdentifierAuthority kUnixAuthority = {{0, 0, 0, 0, 0, 22}};
constexpr DWORD kUnixGroupRid = 2;         // S-1-22-2-<gid>

// SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED.
constexpr DWORD kGroupEnabledAttributes = 0x7;

constexpr int kSidTypeGroup = 2;  // SidTypeGroup
constexpr int kSidTypeAlias = 4;  // SidTypeAlias

constexpr DWORD kErrorInvalidSid = 1337;  // ERROR_INVALID_SID

// A SID taken apart.
struct SidParts {
  SidIdentifierAuthority authority;
  BYTE count;
  DWORD sub_authorities[kSidMaxSubAuthorities];
};

// Bytes of a SID with `count` sub-authorities: 8 + 4 * count.
std::size_t SidLength(BYTE count);

// Writes the SID into `out`, which holds SidLength(count) bytes.
void WriteSid(const SidIdentifierAuthority& authority, BYTE count,
              const DWORD* sub_authorities, void* out);

// Takes `sid` apart; false when it is not a revision-1 SID of at most 15
// sub-authorities.
bool ReadSid(const void* sid, SidParts* parts);

// The group's name from the group database: kErrorSuccess with the name, or
// the code for LookupAccount to answer (kErrorNoneMapped when the gid has
// none).
using GroupNameLookup = std::function<DWORD(DWORD gid, std::string* name)>;

// LookupAccountSidA on the local system, with group names from
// `group_name`: kErrorSuccess with the names written and the capacities
// lowered to their lengths, or the error code. A buffer too small writes
// nothing and raises both capacities to the sizes needed.
DWORD LookupAccount(const void* sid, const GroupNameLookup& group_name,
                    char* name, DWORD* name_size, char* domain,
                    DWORD* domain_size, int* use);

// The token's groups: the effective gid, then each supplementary gid not
// seen before, in their order.
std::vector<DWORD> TokenGroupIds(DWORD effective_gid,
                                 const std::vector<DWORD>& supplementary);

// GetTokenInformation(TokenGroups) for `gids`: *needed always receives the
// bytes the record needs; kErrorSuccess with the record in `buffer`, or
// kErrorInsufficientBuffer with nothing written when `length` is short.
DWORD WriteTokenGroups(const std::vector<DWORD>& gids, void* buffer,
                       DWORD length, DWORD* needed);

}  // namespace platform

#include "platform/security.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/internal.h"

namespace platform {
namespace {

TEST(SystemSecurityTest, SidAllocationAndLastError) {
  Security& security = SystemSecurity();
  PSID sid = nullptr;
  EXPECT_EQ(0, security.AllocateAndInitializeSid(&kNtAuthority, 9, 0, 0, 0, 0,
                                                 0, 0, 0, 0, &sid));
  EXPECT_EQ(kErrorInvalidParameter, security.GetLastError());
  EXPECT_EQ(0, security.AllocateAndInitializeSid(&kNtAuthority, 0, 0, 0, 0, 0,
                                                 0, 0, 0, 0, &sid));

  ASSERT_NE(0, security.AllocateAndInitializeSid(&kNtAuthority, 2, 32, 544, 7,
                                                 7, 7, 7, 7, 7, &sid));
  SidParts parts;
  ASSERT_TRUE(ReadSid(sid, &parts));
  EXPECT_EQ(2, parts.count);
  EXPECT_EQ(544u, parts.sub_authorities[1]);
  EXPECT_EQ(nullptr, security.FreeSid(sid));
  // Successful calls leave the last failure's code in place.
  EXPECT_EQ(kErrorInvalidParameter, security.GetLastError());

  // The code belongs to the thread that failed.
  std::thread other([&security] {
    EXPECT_EQ(0, security.LookupAccountSidA("elsewhere", nullptr, nullptr,
                                            nullptr, nullptr, nullptr,
                                            nullptr));
    EXPECT_EQ(50u, security.GetLastError());
  });
  other.join();
  EXPECT_EQ(kErrorInvalidParameter, security.GetLastError());
}

// The real process: its groups and names come from this system. The
// Administrators SID is built as gorvanel builds it, and names the gid-0
// group.
TEST(SystemSecurityTest, CurrentProcessGroupsAndNames) {
  Security& security = SystemSecurity();
  PSID admins = nullptr;
  ASSERT_NE(0, security.AllocateAndInitializeSid(
                   &kNtAuthority, 2, kBuiltinDomainRid, kAdministratorsRid, 0,
                   0, 0, 0, 0, 0, &admins));
  char name[256];
  char domain[256];
  DWORD name_size = sizeof name;
  DWORD domain_size = sizeof domain;
  int use = 0;
  BOOL found = security.LookupAccountSidA(nullptr, admins, name, &name_size,
                                          domain, &domain_size, &use);
  security.FreeSid(admins);
  const group* root = getgrgid(0);
  ASSERT_NE(nullptr, root);
  ASSERT_EQ(1, found);
  EXPECT_STREQ(root->gr_name, name);
  EXPECT_STREQ("BUILTIN", domain);
  const std::string admins_name = name;

  HANDLE token = nullptr;
  ASSERT_NE(0, security.OpenProcessToken(security.GetCurrentProcess(),
                                         kTokenQuery, &token));
  DWORD needed = 0;
  EXPECT_EQ(0, security.GetTokenInformation(token, kTokenGroupsClass, nullptr,
                                            0, &needed));
  EXPECT_EQ(kErrorInsufficientBuffer, security.GetLastError());
  std::vector<BYTE> buffer(needed);
  ASSERT_NE(0, security.GetTokenInformation(token, kTokenGroupsClass,
                                            buffer.data(), needed, &needed));
  EXPECT_EQ(0, security.GetTokenInformation(token, 1, buffer.data(), needed,
                                            &needed));
  EXPECT_EQ(kErrorInvalidParameter, security.GetLastError());
  EXPECT_NE(0, security.CloseHandle(token));
  EXPECT_EQ(0, security.GetTokenInformation(token, kTokenGroupsClass,
                                            buffer.data(), needed, &needed));
  EXPECT_EQ(kErrorInvalidHandle, security.GetLastError());

  std::vector<gid_t> supplementary(getgroups(0, nullptr));
  ASSERT_EQ(static_cast<int>(supplementary.size()),
            getgroups(static_cast<int>(supplementary.size()),
                      supplementary.data()));
  const auto* record = reinterpret_cast<const TokenGroups*>(buffer.data());
  ASSERT_GE(record->GroupCount, 1u);
  std::vector<DWORD> gids;
  bool admins_seen = false;
  for (DWORD i = 0; i < record->GroupCount; ++i) {
    SidParts parts;
    ASSERT_TRUE(ReadSid(record->Groups[i].Sid, &parts));
    gids.push_back(parts.sub_authorities[1]);
    name_size = sizeof name;
    domain_size = sizeof domain;
    if (security.LookupAccountSidA(nullptr, record->Groups[i].Sid, name,
                                   &name_size, domain, &domain_size,
                                   &use) == 1) {
      EXPECT_STREQ("Unix Group", domain);
      admins_seen = admins_seen || admins_name == name;
    }
  }
  EXPECT_EQ(static_cast<DWORD>(getegid()), gids[0]);
  for (gid_t gid : supplementary) {
    EXPECT_EQ(1, std::count(gids.begin(), gids.end(), gid)) << gid;
  }
  // As root, gid 0 is in the token and bears the Administrators name.
  const bool has_gid0 = std::count(gids.begin(), gids.end(), 0u) > 0;
  EXPECT_EQ(has_gid0, admins_seen);
  if (geteuid() == 0) {
    EXPECT_TRUE(has_gid0);
  }
}

// Names of different groups asked for in turn: each answer is its own
// group's, never the one remembered from the lookup before.
TEST(SystemSecurityTest, GroupNamesAskedInTurn) {
  Security& security = SystemSecurity();
  const SidIdentifierAuthority unix_authority = {{0, 0, 0, 0, 0, 22}};
  std::vector<DWORD> gids;
  for (DWORD gid : {0u, 1u, 2u}) {
    if (getgrgid(static_cast<gid_t>(gid)) != nullptr) gids.push_back(gid);
  }
  ASSERT_GE(gids.size(), 2u) << "the group database lacks gids 0 to 2";
  for (DWORD gid : {gids[0], gids[1], gids[0], gids[1], gids[1]}) {
    PSID sid = nullptr;
    ASSERT_NE(0, security.AllocateAndInitializeSid(&unix_authority, 2, 2, gid,
                                                   0, 0, 0, 0, 0, 0, &sid));
    char name[256];
    char domain[256];
    DWORD name_size = sizeof name;
    DWORD domain_size = sizeof domain;
    int use = 0;
    EXPECT_EQ(1, security.LookupAccountSidA(nullptr, sid, name, &name_size,
                                            domain, &domain_size, &use));
    security.FreeSid(sid);
    EXPECT_STREQ(getgrgid(static_cast<gid_t>(gid))->gr_name, name) << gid;
  }
}

TEST(SystemSecurityTest, TokenHandles) {
  Security& security = SystemSecurity();
  HANDLE token = nullptr;
  int here = 0;
  EXPECT_EQ(0, security.OpenProcessToken(&here, kTokenQuery, &token));
  EXPECT_EQ(kErrorInvalidHandle, security.GetLastError());

  ASSERT_NE(0, security.OpenProcessToken(security.GetCurrentProcess(), 0,
                                         &token));
  DWORD needed = 0;
  EXPECT_EQ(0, security.GetTokenInformation(token, kTokenGroupsClass, nullptr,
                                            0, &needed));
  EXPECT_EQ(kErrorAccessDenied, security.GetLastError());
  EXPECT_NE(0, security.CloseHandle(token));
  EXPECT_EQ(0, security.CloseHandle(token));
  EXPECT_EQ(kErrorInvalidHandle, security.GetLastError());
  EXPECT_NE(0, security.CloseHandle(security.GetCurrentProcess()));
}

}  // namespace
}  // namespace platform

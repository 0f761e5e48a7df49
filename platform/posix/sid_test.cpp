#include "platform/posix/internal.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace platform {
namespace {

std::vector<BYTE> MakeSid(const SidIdentifierAuthority& authority,
                          std::vector<DWORD> subs) {
  std::vector<BYTE> sid(SidLength(static_cast<BYTE>(subs.size())));
  WriteSid(authority, static_cast<BYTE>(subs.size()), subs.data(), sid.data());
  return sid;
}

TEST(SidTest, LayoutAndRoundTrip) {
  std::vector<BYTE> sid =
      MakeSid(kNtAuthority, {kBuiltinDomainRid, kAdministratorsRid});
  const std::vector<BYTE> expected = {1, 2, 0, 0, 0, 0, 0, 5,
                                      32, 0, 0, 0, 0x20, 0x02, 0, 0};
  EXPECT_EQ(expected, sid);
  EXPECT_EQ(40u, SidLength(8));

  SidParts parts;
  ASSERT_TRUE(ReadSid(sid.data(), &parts));
  EXPECT_EQ(2, parts.count);
  EXPECT_EQ(0, std::memcmp(parts.authority.Value, kNtAuthority.Value, 6));
  EXPECT_EQ(544u, parts.sub_authorities[1]);

  sid[0] = 2;  // unknown revision
  EXPECT_FALSE(ReadSid(sid.data(), &parts));
  sid[0] = 1;
  sid[1] = 16;  // more sub-authorities than a SID may hold
  EXPECT_FALSE(ReadSid(sid.data(), &parts));
}

TEST(TokenGroupsTest, EffectiveGidFirstEachOnce) {
  EXPECT_EQ((std::vector<DWORD>{100, 0, 27}),
            TokenGroupIds(100, {0, 100, 27, 0}));
  EXPECT_EQ((std::vector<DWORD>{5}), TokenGroupIds(5, {}));
}

TEST(TokenGroupsTest, RecordPointsIntoItsOwnBuffer) {
  const std::vector<DWORD> gids = {0, 27, 1000};
  DWORD needed = 0;
  EXPECT_EQ(kErrorInsufficientBuffer,
            WriteTokenGroups(gids, nullptr, 0, &needed));
  ASSERT_EQ(offsetof(TokenGroups, Groups) + 3 * sizeof(SidAndAttributes) +
                3 * 16,
            needed);

  std::vector<BYTE> buffer(needed);
  DWORD reported = 0;
  ASSERT_EQ(kErrorSuccess,
            WriteTokenGroups(gids, buffer.data(), needed, &reported));
  EXPECT_EQ(needed, reported);
  const auto* record = reinterpret_cast<const TokenGroups*>(buffer.data());
  ASSERT_EQ(3u, record->GroupCount);
  const BYTE* array_end = reinterpret_cast<const BYTE*>(&record->Groups[3]);
  for (DWORD i = 0; i < 3; ++i) {
    const auto* sid = static_cast<const BYTE*>(record->Groups[i].Sid);
    EXPECT_GE(sid, array_end);
    EXPECT_LE(sid + 16, buffer.data() + buffer.size());
    EXPECT_EQ(kGroupEnabledAttributes, record->Groups[i].Attributes);
    EXPECT_EQ(MakeSid(kUnixAuthority, {kUnixGroupRid, gids[i]}),
              std::vector<BYTE>(sid, sid + 16));
  }
}

TEST(TokenGroupsTest, ShortBufferWritesNothing) {
  const std::vector<DWORD> gids(64, 0);  // enough to pass 1024 bytes
  DWORD needed = 0;
  WriteTokenGroups(gids, nullptr, 0, &needed);
  ASSERT_GT(needed, 1024u);

  std::vector<BYTE> buffer(needed, 0xAB);
  DWORD reported = 0;
  EXPECT_EQ(kErrorInsufficientBuffer,
            WriteTokenGroups(gids, buffer.data(), 1024, &reported));
  EXPECT_EQ(needed, reported);
  EXPECT_EQ(std::vector<BYTE>(needed, 0xAB), buffer);
  EXPECT_EQ(kErrorInsufficientBuffer,
            WriteTokenGroups(gids, buffer.data(), needed - 1, &reported));
  EXPECT_EQ(kErrorSuccess,
            WriteTokenGroups(gids, buffer.data(), needed, &reported));
}

class LookupAccountTest : public ::testing::Test {
 protected:
  std::map<DWORD, std::string> groups_ = {{0, "wheel"}, {27, "sudo"}};
  GroupNameLookup lookup_ = [this](DWORD gid, std::string* name) {
    auto it = groups_.find(gid);
    if (it == groups_.end()) return kErrorNoneMapped;
    *name = it->second;
    return kErrorSuccess;
  };
  char name_[64] = "untouched";
  char domain_[64] = "untouched";
  DWORD name_size_ = 64;
  DWORD domain_size_ = 64;
  int use_ = -1;

  DWORD Lookup(const std::vector<BYTE>& sid) {
    return LookupAccount(sid.data(), lookup_, name_, &name_size_, domain_,
                         &domain_size_, &use_);
  }
};

const std::vector<BYTE> kAdministrators =
    MakeSid(kNtAuthority, {kBuiltinDomainRid, kAdministratorsRid});

TEST_F(LookupAccountTest, AdministratorsIsTheGidZeroGroup) {
  ASSERT_EQ(kErrorSuccess, Lookup(kAdministrators));
  EXPECT_STREQ("wheel", name_);
  EXPECT_STREQ("BUILTIN", domain_);
  EXPECT_EQ(5u, name_size_);
  EXPECT_EQ(7u, domain_size_);
  EXPECT_EQ(kSidTypeAlias, use_);

  groups_.erase(0);
  EXPECT_EQ(kErrorNoneMapped, Lookup(kAdministrators));

  // A database that could not be read for want of memory says so.
  lookup_ = [](DWORD, std::string*) { return kErrorNotEnoughMemory; };
  EXPECT_EQ(kErrorNotEnoughMemory, Lookup(kAdministrators));
}

TEST_F(LookupAccountTest, UnixGroupsByGid) {
  EXPECT_EQ(kErrorNoneMapped, Lookup(MakeSid(kUnixAuthority, {2, 4242})));
  EXPECT_STREQ("untouched", name_);
  EXPECT_EQ(64u, name_size_);

  ASSERT_EQ(kErrorSuccess, Lookup(MakeSid(kUnixAuthority, {2, 27})));
  EXPECT_STREQ("sudo", name_);
  EXPECT_STREQ("Unix Group", domain_);
  EXPECT_EQ(4u, name_size_);
  EXPECT_EQ(10u, domain_size_);
  EXPECT_EQ(kSidTypeGroup, use_);
}

TEST_F(LookupAccountTest, OtherSidsHaveNoName) {
  EXPECT_EQ(kErrorNoneMapped, Lookup(MakeSid(kNtAuthority, {32, 545})));
  EXPECT_EQ(kErrorNoneMapped, Lookup(MakeSid(kNtAuthority, {32, 544, 0})));
  EXPECT_EQ(kErrorNoneMapped, Lookup(MakeSid(kUnixAuthority, {1, 0})));
  EXPECT_EQ(kErrorNoneMapped, Lookup(MakeSid(kUnixAuthority, {2, 0, 0})));
  std::vector<BYTE> bad = kAdministrators;
  bad[0] = 3;
  EXPECT_EQ(kErrorInvalidSid, Lookup(bad));
}

TEST_F(LookupAccountTest, ShortBuffersReportBothSizes) {
  name_size_ = 5;  // "wheel" needs 6 with its terminator
  EXPECT_EQ(kErrorInsufficientBuffer, Lookup(kAdministrators));
  EXPECT_EQ(6u, name_size_);
  EXPECT_EQ(8u, domain_size_);
  EXPECT_STREQ("untouched", name_);

  domain_size_ = 7;  // the name fits now, the domain does not
  EXPECT_EQ(kErrorInsufficientBuffer, Lookup(kAdministrators));
  EXPECT_EQ(6u, name_size_);
  EXPECT_EQ(8u, domain_size_);
  EXPECT_STREQ("untouched", domain_);

  DWORD name_size = 0;
  DWORD domain_size = 0;
  EXPECT_EQ(kErrorInsufficientBuffer,
            LookupAccount(kAdministrators.data(), lookup_, nullptr, &name_size,
                          nullptr, &domain_size, nullptr));
  EXPECT_EQ(6u, name_size);

  ASSERT_EQ(kErrorSuccess, Lookup(kAdministrators));  // exact sizes suffice
  EXPECT_STREQ("wheel", name_);
}

}  // namespace
}  // namespace platform

#include "gorvanel/membership.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/fake_security.h"
#include "platform/testing/fakes.h"

namespace gorvanel {
namespace {

using platform_test::FakeHeap;
using platform_test::FakeSecurity;
using platform_test::Log;
using Call = platform_test::FakeSecurity::Call;

// A check run on a token of `groups`, with what it left behind.
struct Outcome {
  platform::DWORD result;
  Log calls;
  Log heap_requests;
  bool all_released;
};

Outcome Check(std::vector<std::string> groups, FakeSecurity security = {},
              FakeHeap* heap_in = nullptr) {
  FakeHeap own_heap;
  FakeHeap& heap = heap_in ? *heap_in : own_heap;
  security.groups = std::move(groups);
  platform::DWORD result = CheckAdministratorMembership(security, heap);
  return {result, security.calls, heap.requests,
          security.held == 0 && heap.held.empty() && heap.bad_releases == 0};
}

const Log kBefore = {"allocate sid", "lookup administrators 256/256",
                     "free sid", "open token", "read groups 1024"};
Log Then(Log tail) {
  Log calls = kBefore;
  calls.insert(calls.end(), tail.begin(), tail.end());
  return calls;
}

TEST(MembershipTest, WalkFindsTheAdministratorsNameExactly) {
  struct Case {
    std::vector<std::string> groups;
    platform::DWORD result;
    Log walk;  // the lookups made, each with capacities set back to 1024
  };
  const Case cases[] = {
      {{"Users", "Administrators"},
       0,
       {"lookup group 0 1024/1024", "lookup group 1 1024/1024"}},
      // A SID without an account name is passed over.
      {{"", "Administrators"},
       0,
       {"lookup group 0 1024/1024", "lookup group 1 1024/1024"}},
      // The first match ends the walk.
      {{"Administrators", "Users", "Administrators"},
       0,
       {"lookup group 0 1024/1024"}},
      {{"administrators", "ADMINISTRATORS", "Administrators2"},
       5,
       {"lookup group 0 1024/1024", "lookup group 1 1024/1024",
        "lookup group 2 1024/1024"}},
      {{}, 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.groups));
    Outcome o = Check(c.groups);
    EXPECT_EQ(o.result, c.result);
    Log walk = c.walk;
    walk.push_back("close token");
    EXPECT_EQ(o.calls, Then(walk));
    EXPECT_EQ(o.heap_requests,
              (Log{"allocate 1024", "allocate 1024", "allocate 1024"}));
    EXPECT_TRUE(o.all_released);
  }
}

TEST(MembershipTest, OnlyTheNameCounts) {
  FakeSecurity security;
  security.attributes = 0x10;  // SE_GROUP_USE_FOR_DENY_ONLY, not enabled
  EXPECT_EQ(Check({"Administrators"}, security).result, 0u);

  // The name is asked of the system, so a translated one is looked for.
  security.admin_name = "Administratoren";
  EXPECT_EQ(Check({"Administrators"}, security).result, 5u);
  EXPECT_EQ(Check({"Administratoren"}, security).result, 0u);

  // For a group, a lookup counts only when it answers 1.
  security.group_lookup_result = 2;
  EXPECT_EQ(Check({"Administratoren"}, security).result, 5u);
}

TEST(MembershipTest, AsksForBuiltinAdministrators) {
  FakeSecurity security;
  FakeHeap heap;
  security.groups = {"Administrators"};
  ASSERT_EQ(CheckAdministratorMembership(security, heap), 0u);
  // S-1-5-32-544: authority 5, two sub-authorities, six zeros.
  EXPECT_EQ(security.sid_parts,
            (std::vector<platform::DWORD>{0, 0, 0, 0, 0, 5, 2, 32, 544, 0, 0, 0,
                                          0, 0, 0}));
}

TEST(MembershipTest, LongListIsReadAgainIntoExactlyTheReportedLength) {
  std::vector<std::string> groups(200, "Users");
  groups.push_back("Administrators");
  const std::string needed = std::to_string(FakeSecurity::ListSize(201));
  ASSERT_GT(FakeSecurity::ListSize(201), 1024u);
  Outcome o = Check(groups);
  EXPECT_EQ(o.result, 0u);
  EXPECT_EQ(o.heap_requests, (Log{"allocate 1024", "reallocate " + needed,
                                  "allocate 1024", "allocate 1024"}));
  EXPECT_EQ(o.calls[5], "read groups " + needed);
  EXPECT_TRUE(o.all_released);

  // A list that grew again meanwhile makes the second read fail: no third.
  FakeSecurity growing;
  growing.grow_by = 1;
  o = Check(groups, growing);
  EXPECT_EQ(o.result, platform::kErrorInsufficientBuffer);
  EXPECT_EQ(o.calls, Then({"read groups " + needed, "close token"}));
  EXPECT_TRUE(o.all_released);
}

TEST(MembershipTest, FailedAllocationGivesEightAndReleasesWhatWasHeld) {
  struct Case {
    int request;
    std::size_t groups;
  };
  // The list, its regrowth, the group name and the group domain buffers.
  for (Case c : {Case{1, 1}, Case{2, 200}, Case{2, 1}, Case{3, 1}}) {
    SCOPED_TRACE(c.request);
    FakeHeap heap;
    heap.fail_request = c.request;
    Outcome o = Check(std::vector<std::string>(c.groups, "Administrators"),
                      FakeSecurity(), &heap);
    EXPECT_EQ(o.result, platform::kErrorNotEnoughMemory);
    EXPECT_EQ(o.calls.back(), "close token");
    EXPECT_EQ(static_cast<int>(o.heap_requests.size()), c.request);
    EXPECT_TRUE(o.all_released);
  }
}

TEST(MembershipTest, FailedOperationGivesItsCodeButNeverZero) {
  for (Call step : {Call::kAllocateSid, Call::kLookupAdministrators,
                    Call::kOpenToken, Call::kReadGroups}) {
    for (platform::DWORD code : {platform::kErrorNoneMapped, 0u}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(step)) + " " +
                   std::to_string(code));
      FakeSecurity security;
      security.fail = step;
      security.fail_code = code;
      Outcome o = Check({"Administrators"}, security);
      EXPECT_EQ(o.result, code != 0 ? code : platform::kErrorAccessDenied);
      EXPECT_TRUE(o.all_released);
    }
  }
  // The Administrators name is read once, into 256 characters.
  FakeSecurity security;
  security.admin_name = std::string(256, 'A');
  EXPECT_EQ(Check({security.admin_name}, security).result,
            platform::kErrorInsufficientBuffer);
}

TEST(AuthorityGateTest, AdmitsOnlyWhenTheCheckGivesZero) {
  FakeHeap heap;
  FakeSecurity member;
  member.groups = {"Administrators"};
  EXPECT_EQ(AuthorityGate(member, heap), 0);
  FakeSecurity outsider;
  outsider.groups = {"Users"};
  EXPECT_EQ(AuthorityGate(outsider, heap), 1);
  FakeHeap empty;
  empty.fail_request = 1;
  EXPECT_EQ(AuthorityGate(member, empty), 1);
  FakeSecurity broken;
  broken.fail = Call::kOpenToken;
  EXPECT_EQ(AuthorityGate(broken, heap), 1);
}

}  // namespace
}  // namespace gorvanel

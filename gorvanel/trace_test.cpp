#include "gorvanel/trace.h"

#include <gtest/gtest.h>

#include "platform/testing/fake_security.h"
#include "platform/testing/fakes.h"

namespace {

TEST(GorvanelTraceTest, FailureCodeSurvivesTheTracesOwnWork) {
  platform_test::TraceOutput out;
  platform_test::FakeSecurity inner;
  const platform::SidIdentifierAuthority nt = {{0, 0, 0, 0, 0, 5}};
  platform::PSID sid = nullptr;
  inner.AllocateAndInitializeSid(&nt, 1, 0, 0, 0, 0, 0, 0, 0, 0, &sid);
  inner.fail = platform_test::FakeSecurity::Call::kLookupAdministrators;
  inner.fail_code = platform::kErrorNoneMapped;
  gorvanel::TracingSecurity security(inner, out.log());
  char name[8], domain[8];
  platform::DWORD name_size = 8, domain_size = 8;
  EXPECT_EQ(0, security.LookupAccountSidA(nullptr, sid, name, &name_size,
                                          domain, &domain_size, nullptr));
  inner.last_error = 0;  // as the trace's own writing may leave it
  EXPECT_EQ(1332u, security.GetLastError());
  EXPECT_EQ("prog: Administrators group without a name (error 1332)\n",
            out.Text());
}

}  // namespace

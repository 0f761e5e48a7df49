#include "platform/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace platform {
namespace {

TEST(SystemEnvironmentTest, SetReplaceAndRemove) {
  Environment& environment = SystemEnvironment();
  const char* name = "PLATFORM_TEST_VARIABLE";
  ASSERT_NE(0, environment.SetEnvironmentVariableA(name, "first"));
  EXPECT_STREQ("first", getenv(name));
  ASSERT_NE(0, environment.SetEnvironmentVariableA(name, "a;b c"));
  EXPECT_STREQ("a;b c", getenv(name));
  ASSERT_NE(0, environment.SetEnvironmentVariableA(name, nullptr));
  EXPECT_EQ(nullptr, getenv(name));
  EXPECT_EQ(0, environment.SetEnvironmentVariableA("BAD=NAME", "x"));
}

}  // namespace
}  // namespace platform

#include "platform/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/testing/fake_registry.h"
#include "platform/testing/fakes.h"

namespace {

TEST(TraceTest, RegistryCallsPassThroughAndAreExplained) {
  platform_test::TraceOutput out;
  platform_test::FakeRegistry inner;
  inner.Set("Site", "optPathName", "C:\\opt");
  platform::TracingRegistry registry(inner, out.log());
  platform::HKEY key = nullptr;
  const platform::HKEY root = platform::LocalMachineKey();
  inner.fail = platform_test::FakeRegistry::Call::kOpen;  // access denied
  EXPECT_EQ(5, registry.RegOpenKeyExA(root, "Site", 0, 0, &key));
  inner.fail = platform_test::FakeRegistry::Call::kNone;
  ASSERT_EQ(0, registry.RegOpenKeyExA(root, "Site", 0, 0, &key));
  platform::BYTE data[16] = {};
  platform::DWORD size = sizeof(data);
  EXPECT_EQ(0, registry.RegQueryValueExA(key, "optPathName", nullptr, nullptr,
                                         data, &size));
  EXPECT_STREQ("C:\\opt", reinterpret_cast<char*>(data));
  size = 3;
  EXPECT_EQ(234, registry.RegQueryValueExA(key, "optPathName", nullptr,
                                           nullptr, data, &size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ(2, registry.RegQueryValueExA(key, "jrePathName", nullptr, nullptr,
                                         data, &size));
  EXPECT_EQ(
      "prog: registry key HKEY_LOCAL_MACHINE\\Site cannot be opened (error "
      "5)\n"
      "prog: registry value optPathName of HKEY_LOCAL_MACHINE\\Site: "
      "\"C:\\opt\"\n"
      "prog: registry value optPathName of HKEY_LOCAL_MACHINE\\Site: too "
      "large (7 bytes, 3 offered)\n"
      "prog: registry value jrePathName of HKEY_LOCAL_MACHINE\\Site: not "
      "found (error 2)\n",
      out.Text());
}

// A safeguard left out, or one that may not hold, is told with its reason
// while a trace listens, and to nobody once the trace has ended; checks made
// only for the trace know whether it listens.
TEST(TraceTest, SafeguardsAreToldWhileTheTraceListens) {
  platform_test::TraceOutput out;
  EXPECT_FALSE(platform::SafeguardsListened());
  {
    platform::TracingSafeguards safeguards(out.log());
    EXPECT_TRUE(platform::SafeguardsListened());
    platform::SafeguardNotSetUp("the job object", 5);
    platform::SafeguardMayNotHold("the parent-death signal", "a reason");
  }
  EXPECT_FALSE(platform::SafeguardsListened());
  platform::SafeguardNotSetUp("the console control handler", 6);
  platform::SafeguardMayNotHold("the parent-death signal", "unheard");
  std::string text = out.Text();
  EXPECT_NE(std::string::npos, text.find("the job object"));
  EXPECT_NE(std::string::npos, text.find("5"));
  EXPECT_NE(std::string::npos, text.find("a reason"));
  EXPECT_EQ(std::string::npos, text.find("console"));
  EXPECT_EQ(std::string::npos, text.find("unheard"));
  EXPECT_EQ(2, std::count(text.begin(), text.end(), '\n'));
}

TEST(TraceTest, OnlyTheValueOneAsksForATrace) {
  const char* saved = std::getenv("TALVANE_TRACE");
  std::string kept = saved != nullptr ? saved : "";
  for (const char* value : {"0", "", "yes", "11"}) {
    setenv("TALVANE_TRACE", value, 1);
    EXPECT_FALSE(platform::TraceRequested()) << value;
  }
  setenv("TALVANE_TRACE", "1", 1);
  EXPECT_TRUE(platform::TraceRequested());
  unsetenv("TALVANE_TRACE");
  EXPECT_FALSE(platform::TraceRequested());
  if (saved != nullptr) setenv("TALVANE_TRACE", kept.c_str(), 1);
}

}  // namespace

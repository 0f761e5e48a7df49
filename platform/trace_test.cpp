#include "platform/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// What a trace wrote, read back from a temporary file.
class TraceOutput {
 public:
  TraceOutput() : file_(std::tmpfile()), log_("prog", file_) {}
  ~TraceOutput() { std::fclose(file_); }
  platform::TraceLog& log() { return log_; }
  std::string Text() {
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(char(c));
    return text;
  }

 private:
  std::FILE* file_;
  platform::TraceLog log_;
};

// One key holding "optPathName" = "C:\opt"; every other name is missing.
class OneValueRegistry : public platform::Registry {
 public:
  platform::LONG RegOpenKeyExA(platform::HKEY, const char* sub_key,
                               platform::DWORD, platform::DWORD,
                               platform::HKEY* result) override {
    if (std::strcmp(sub_key, "Site") != 0) return platform::kErrorFileNotFound;
    *result = reinterpret_cast<platform::HKEY>(0x10);
    return 0;
  }
  platform::LONG RegQueryValueExA(platform::HKEY, const char* name,
                                  platform::DWORD*, platform::DWORD*,
                                  platform::BYTE* data,
                                  platform::DWORD* size) override {
    if (std::strcmp(name, "optPathName") != 0)
      return platform::kErrorFileNotFound;
    if (*size < 7) {
      *size = 7;
      return platform::kErrorMoreData;
    }
    std::memcpy(data, "C:\\opt", 7);
    *size = 7;
    return 0;
  }
  platform::LONG RegCloseKey(platform::HKEY) override { return 0; }
};

TEST(TraceTest, RegistryCallsPassThroughAndAreExplained) {
  TraceOutput out;
  OneValueRegistry inner;
  platform::TracingRegistry registry(inner, out.log());
  platform::HKEY key = nullptr;
  EXPECT_EQ(2, registry.RegOpenKeyExA(nullptr, "Other", 0, 0, &key));
  ASSERT_EQ(0, registry.RegOpenKeyExA(nullptr, "Site", 0, 0, &key));
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
      "prog: registry key HKEY_LOCAL_MACHINE\\Other cannot be opened (error "
      "2)\n"
      "prog: registry value optPathName of HKEY_LOCAL_MACHINE\\Site: "
      "\"C:\\opt\"\n"
      "prog: registry value optPathName of HKEY_LOCAL_MACHINE\\Site: too "
      "large (7 bytes, 3 offered)\n"
      "prog: registry value jrePathName of HKEY_LOCAL_MACHINE\\Site: not "
      "found (error 2)\n",
      out.Text());
}

// Fails every lookup with 1332, and (as some Windows calls do) clears the
// thread's error code once it has been read.
class ForgetfulSecurity : public platform::Security {
 public:
  platform::BOOL AllocateAndInitializeSid(const platform::SidIdentifierAuthority*,
                                          platform::BYTE, platform::DWORD,
                                          platform::DWORD, platform::DWORD,
                                          platform::DWORD, platform::DWORD,
                                          platform::DWORD, platform::DWORD,
                                          platform::DWORD,
                                          platform::PSID*) override {
    return 1;
  }
  platform::BOOL LookupAccountSidA(const char*, platform::PSID, char*,
                                   platform::DWORD*, char*, platform::DWORD*,
                                   int*) override {
    error_ = platform::kErrorNoneMapped;
    return 0;
  }
  void* FreeSid(platform::PSID) override { return nullptr; }
  platform::HANDLE GetCurrentProcess() override { return nullptr; }
  platform::BOOL OpenProcessToken(platform::HANDLE, platform::DWORD,
                                  platform::HANDLE*) override {
    return 1;
  }
  platform::BOOL GetTokenInformation(platform::HANDLE, int, void*,
                                     platform::DWORD,
                                     platform::DWORD*) override {
    return 0;
  }
  platform::BOOL CloseHandle(platform::HANDLE) override { return 1; }
  platform::DWORD GetLastError() override {
    platform::DWORD error = error_;
    error_ = 0;
    return error;
  }

 private:
  platform::DWORD error_ = 0;
};

TEST(TraceTest, FailureCodeSurvivesTheTracesOwnWork) {
  TraceOutput out;
  ForgetfulSecurity inner;
  platform::TracingSecurity security(inner, out.log());
  char name[8];
  char domain[8];
  platform::DWORD name_size = 8;
  platform::DWORD domain_size = 8;
  EXPECT_EQ(0, security.LookupAccountSidA(nullptr, nullptr, name, &name_size,
                                          domain, &domain_size, nullptr));
  EXPECT_EQ(1332u, security.GetLastError());
  EXPECT_EQ("prog: Administrators group without a name (error 1332)\n",
            out.Text());
}

// A safeguard left out is named, with its error, while a trace listens,
// and to nobody once the trace has ended.
TEST(TraceTest, SafeguardNotSetUpIsToldWhileTheTraceListens) {
  TraceOutput out;
  {
    platform::TracingSafeguards safeguards(out.log());
    platform::SafeguardNotSetUp("the job object", 5);
  }
  platform::SafeguardNotSetUp("the console control handler", 6);
  std::string text = out.Text();
  EXPECT_NE(std::string::npos, text.find("the job object"));
  EXPECT_NE(std::string::npos, text.find("5"));
  EXPECT_EQ(std::string::npos, text.find("console"));
  EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n'));
}

// A safeguard that may not hold is told with its reason, and checks made
// only for the trace know whether it listens.
TEST(TraceTest, SafeguardThatMayNotHoldIsToldWhileTheTraceListens) {
  TraceOutput out;
  EXPECT_FALSE(platform::SafeguardsListened());
  {
    platform::TracingSafeguards safeguards(out.log());
    EXPECT_TRUE(platform::SafeguardsListened());
    platform::SafeguardMayNotHold("the parent-death signal", "a reason");
  }
  EXPECT_FALSE(platform::SafeguardsListened());
  platform::SafeguardMayNotHold("the parent-death signal", "unheard");
  std::string text = out.Text();
  EXPECT_NE(std::string::npos, text.find("the parent-death signal"));
  EXPECT_NE(std::string::npos, text.find("a reason"));
  EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n'));
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

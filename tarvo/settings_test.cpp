#include "tarvo/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tarvo/test_fakes.h"

namespace {

const char kSite[] =
    "SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion";
const char kDomain[] =
    "SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Domain\\CurrentVersion";

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() { std::memset(result, 'x', sizeof(result)); }

  int Lookup(int kind, const char* name) {
    return tarvo::LookupSetting(registry, kind, name, result);
  }
  bool ResultUntouched() const {
    for (char c : result)
      if (c != 'x') return false;
    return true;
  }

  tarvo_test::FakeRegistry registry;
  char result[tarvo::kPathCapacity];
};

TEST_F(SettingsTest, ReadsSiteValueThroughLocalMachineAndClosesKey) {
  registry.SetString(kSite, "optPathName", "D:\\Mgr Opt");
  ASSERT_EQ(1, Lookup(tarvo::kSiteKey, "optPathName"));
  EXPECT_STREQ("D:\\Mgr Opt", result);
  EXPECT_EQ(platform::LocalMachineKey(), registry.last_root);
  EXPECT_EQ(0u, registry.last_options);
  EXPECT_EQ(0x20019u, registry.last_access);
  EXPECT_EQ(std::vector<platform::DWORD>{260}, registry.offered);
  EXPECT_EQ(0, registry.open_handles);
}

TEST_F(SettingsTest, AliasReadsOptPathNameWhateverFollows) {
  registry.SetString(kSite, "optPathName", "C:\\opt");
  for (const char* name : {"PathName", "PathNameAnything"}) {
    ASSERT_EQ(1, Lookup(tarvo::kSiteKey, name)) << name;
    EXPECT_STREQ("C:\\opt", result);
  }
  EXPECT_EQ((std::vector<std::string>{"optPathName", "optPathName"}),
            registry.queried);
}

TEST_F(SettingsTest, NameThatBeginsWithAnAllowedOneIsReadInFull) {
  registry.SetString(kSite, "optPathName", "short");
  registry.SetString(kSite, "optPathNameLonger", "long");
  registry.SetString(kSite, "VERSION2", "7");
  ASSERT_EQ(1, Lookup(tarvo::kSiteKey, "optPathNameLonger"));
  EXPECT_STREQ("long", result);
  ASSERT_EQ(1, Lookup(tarvo::kSiteKey, "VERSION2"));
  EXPECT_STREQ("7", result);
}

TEST_F(SettingsTest, RefusedNamesNeverTouchTheRegistry) {
  registry.SetString(kSite, "jrePathName", "C:\\jre");
  registry.SetString(kSite, "IIL_SETUP", "1");
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "JREPATHNAME"));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "jrePath"));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "pathname"));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "IIL_SETUP"));
  EXPECT_EQ(0, Lookup(3, "optPathName"));
  EXPECT_EQ(0, Lookup(0, "optPathName"));
  EXPECT_TRUE(registry.opened.empty());
  EXPECT_TRUE(ResultUntouched());
}

TEST_F(SettingsTest, KeyKindSelectsSiteOrDomainKey) {
  registry.SetString(kSite, "VERSION", "site");
  registry.SetString(kDomain, "VERSION", "domain");
  registry.SetString(kDomain, "IIL_SETUP", "setup");
  ASSERT_EQ(1, Lookup(tarvo::kDomainKey, "VERSION"));
  EXPECT_STREQ("domain", result);
  ASSERT_EQ(1, Lookup(tarvo::kSiteKey, "VERSION"));
  EXPECT_STREQ("site", result);
  ASSERT_EQ(1, Lookup(tarvo::kDomainKey, "IIL_SETUP"));
  EXPECT_STREQ("setup", result);
}

TEST_F(SettingsTest, MissingKeyValueOrEmptyTextGivesZeroAndLeavesResult) {
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "etcPathName"));  // no key
  registry.SetString(kSite, "varPathName", "");
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "etcPathName"));  // no value
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "varPathName"));  // empty text
  EXPECT_TRUE(ResultUntouched());
  EXPECT_EQ(0, registry.open_handles);
}

TEST_F(SettingsTest, LengthLimitAtTheDataArea) {
  registry.SetString(kSite, "etcPathName", std::string(259, 'e'));
  ASSERT_EQ(1, Lookup(tarvo::kSiteKey, "etcPathName"));
  EXPECT_EQ(std::string(259, 'e'), result);

  std::memset(result, 'x', sizeof(result));
  registry.SetString(kSite, "varPathName", std::string(260, 'v'));  // 261 bytes
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "varPathName"));
  // 260 bytes with no terminator fit the data area but not the result.
  registry.SetBytes(kSite, "jrePathName", std::string(260, 'j'));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "jrePathName"));
  EXPECT_TRUE(ResultUntouched());
  EXPECT_EQ(0, registry.open_handles);
}

TEST_F(SettingsTest, ValueTypeIsIgnoredTextEndsAtFirstZero) {
  registry.SetBytes(kSite, "VERSION", std::string("\0\0\0\0", 4));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKey, "VERSION"));
  registry.SetBytes(kSite, "VERSION", std::string("12\0\0", 4));
  ASSERT_EQ(1, Lookup(tarvo::kSiteKey, "VERSION"));
  EXPECT_STREQ("12", result);
  registry.SetBytes(kSite, "optPathName", "%SystemDrive%\\opt");
  ASSERT_EQ(1, Lookup(tarvo::kSiteKey, "optPathName"));
  EXPECT_STREQ("%SystemDrive%\\opt", result);
}

}  // namespace

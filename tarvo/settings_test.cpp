#include "tarvo/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/testing/fake_registry.h"

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

  platform_test::FakeRegistry registry;
  char result[tarvo::kPathCapacity];
};

TEST_F(SettingsTest, ReadsSiteValueThroughLocalMachineAndClosesKey) {
  registry.Set(kSite, "optPathName", "D:\\Mgr Opt");
  ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, "optPathName"));
  EXPECT_STREQ("D:\\Mgr Opt", result);
  using Registry = platform_test::FakeRegistry;
  EXPECT_EQ((std::vector<Registry::Open>{
                {platform::LocalMachineKey(), kSite, 0, 0x20019}}),
            registry.opens);
  // No reserved argument, the type not asked for, 260 bytes offered.
  EXPECT_EQ((std::vector<Registry::Query>{
                {"optPathName", false, Registry::kNoType, true, 260}}),
            registry.queries);
  EXPECT_EQ(0, registry.open_keys);
}

TEST_F(SettingsTest, AliasReadsOptPathNameWhateverFollows) {
  registry.Set(kSite, "optPathName", "C:\\opt");
  for (const char* name : {"PathName", "PathNameAnything"}) {
    ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, name)) << name;
    EXPECT_STREQ("C:\\opt", result);
  }
  EXPECT_EQ((std::vector<std::string>{"optPathName", "optPathName"}),
            registry.Queried());
}

TEST_F(SettingsTest, NameThatBeginsWithAnAllowedOneIsReadInFull) {
  registry.Set(kSite, "optPathName", "short");
  registry.Set(kSite, "optPathNameLonger", "long");
  registry.Set(kSite, "VERSION2", "7");
  ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, "optPathNameLonger"));
  EXPECT_STREQ("long", result);
  ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, "VERSION2"));
  EXPECT_STREQ("7", result);
}

TEST_F(SettingsTest, RefusedNamesNeverTouchTheRegistry) {
  registry.Set(kSite, "jrePathName", "C:\\jre");
  registry.Set(kSite, "IIL_SETUP", "1");
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "JREPATHNAME"));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "jrePath"));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "pathname"));
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "IIL_SETUP"));
  EXPECT_EQ(0, Lookup(3, "optPathName"));
  EXPECT_EQ(0, Lookup(0, "optPathName"));
  EXPECT_TRUE(registry.opens.empty());
  EXPECT_TRUE(ResultUntouched());
}

TEST_F(SettingsTest, KeyKindSelectsSiteOrDomainKey) {
  registry.Set(kSite, "VERSION", "site");
  registry.Set(kDomain, "VERSION", "domain");
  registry.Set(kDomain, "IIL_SETUP", "setup");
  ASSERT_EQ(1, Lookup(tarvo::kDomainKeyKind, "VERSION"));
  EXPECT_STREQ("domain", result);
  ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, "VERSION"));
  EXPECT_STREQ("site", result);
  ASSERT_EQ(1, Lookup(tarvo::kDomainKeyKind, "IIL_SETUP"));
  EXPECT_STREQ("setup", result);
}

TEST_F(SettingsTest, MissingKeyValueOrEmptyTextGivesZeroAndLeavesResult) {
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "etcPathName"));  // no key
  registry.Set(kSite, "varPathName", "");
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "etcPathName"));  // no value
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "varPathName"));  // empty text
  EXPECT_TRUE(ResultUntouched());
  EXPECT_EQ(0, registry.open_keys);
}

TEST_F(SettingsTest, LengthLimitAtTheDataArea) {
  registry.Set(kSite, "etcPathName", std::string(259, 'e'));
  ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, "etcPathName"));
  EXPECT_EQ(std::string(259, 'e'), result);

  std::memset(result, 'x', sizeof(result));
  registry.Set(kSite, "varPathName", std::string(260, 'v'));  // 261 bytes
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "varPathName"));
  // 260 bytes with no terminator fit the data area but not the result.
  registry.keys[kSite]["jrePathName"] = std::string(260, 'j');
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "jrePathName"));
  EXPECT_TRUE(ResultUntouched());
  EXPECT_EQ(0, registry.open_keys);
}

TEST_F(SettingsTest, ValueTypeIsIgnoredTextEndsAtFirstZero) {
  registry.keys[kSite]["VERSION"] = std::string("\0\0\0\0", 4);
  EXPECT_EQ(0, Lookup(tarvo::kSiteKeyKind, "VERSION"));
  registry.keys[kSite]["VERSION"] = std::string("12\0\0", 4);
  ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, "VERSION"));
  EXPECT_STREQ("12", result);
  registry.keys[kSite]["optPathName"] = "%SystemDrive%\\opt";
  ASSERT_EQ(1, Lookup(tarvo::kSiteKeyKind, "optPathName"));
  EXPECT_STREQ("%SystemDrive%\\opt", result);
}

}  // namespace

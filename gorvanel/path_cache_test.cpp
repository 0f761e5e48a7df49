#include "gorvanel/path_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "gorvanel/registry_reader.h"
#include "platform/testing/fake_registry.h"
#include "platform/testing/fakes.h"
#include "platform/testing/gorvanel_keys.h"

namespace gorvanel {
namespace {

using platform_test::FakeRegistry;
using platform_test::Log;

using gorvanel_test::kProvider;
using gorvanel_test::kSite;
const char kProviderPath[] =
    "HKEY_LOCAL_MACHINE\\Software\\Talvane\\Kestrin-NLX\\Datumwell\\"
    "CurrentVersion";

class RegistryReaderTest : public ::testing::Test {
 protected:
  // Reads into a 260-byte field that starts out empty, as the cache's do.
  int Read(const char* key_path, const char* name) {
    field[0] = '\0';
    return RegistryReader(registry).ReadValue(
        key_path, name, reinterpret_cast<platform::BYTE*>(field), 260);
  }
  FakeRegistry registry;
  char field[260];
};

TEST_F(RegistryReaderTest, KeyPathMustNameASubkeyOfTheExactRoot) {
  registry.Set(kProvider, "etcPathName", "D:\\InfoData");
  for (const char* path :
       {"", "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\",
        "hkey_local_machine\\Software\\Talvane\\Kestrin-NLX\\Datumwell\\"
        "CurrentVersion",
        "HKLM\\Software\\Talvane\\Kestrin-NLX\\Datumwell\\CurrentVersion"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Read(path, "etcPathName"), 0);
  }
  EXPECT_EQ(Read(nullptr, "etcPathName"), 0);
  EXPECT_EQ(Read(kProviderPath, nullptr), 0);
  EXPECT_EQ(Read(kProviderPath, ""), 0);
  RegistryReader reader(registry);
  EXPECT_EQ(reader.ReadValue(kProviderPath, "etcPathName", nullptr, 260), 0);
  EXPECT_EQ(reader.ReadValue(kProviderPath, "etcPathName",
                             reinterpret_cast<platform::BYTE*>(field), 0),
            0);
  EXPECT_TRUE(registry.opens.empty());

  // Past the root's 18 characters, only the first backslash matters.
  EXPECT_EQ(Read("HKEY_LOCAL_MACHINE_64\\Software\\Talvane\\Kestrin-NLX\\"
                 "Datumwell\\CurrentVersion",
                 "etcPathName"),
            1);
  EXPECT_STREQ(field, "D:\\InfoData");
  // Options 0, KEY_READ; no reserved argument, the type preset to REG_SZ.
  EXPECT_EQ(registry.opens, (std::vector<FakeRegistry::Open>{
                                {platform::LocalMachineKey(), kProvider, 0,
                                 platform::kKeyRead}}));
  EXPECT_EQ(registry.queries, (std::vector<FakeRegistry::Query>{
                                  {"etcPathName", false, platform::kRegSz,
                                   true, 260}}));
  EXPECT_EQ(registry.open_keys, 0);
}

TEST_F(RegistryReaderTest, OnlyATerminatedValueThatFitsIsRead) {
  registry.Set(kProvider, "fits", std::string(259, 'a'));
  registry.Set(kProvider, "long", std::string(260, 'b'));
  registry.keys[kProvider]["unterminated"] = std::string(260, 'c');
  EXPECT_EQ(Read(kProviderPath, "fits"), 1);
  EXPECT_EQ(field, std::string(259, 'a'));
  // The fake leaves part of a long value behind, as Windows may.
  EXPECT_EQ(Read(kProviderPath, "long"), 0);
  EXPECT_STREQ(field, "");
  EXPECT_EQ(Read(kProviderPath, "unterminated"), 0);
  EXPECT_STREQ(field, "");
  EXPECT_EQ(Read(kProviderPath, "absent"), 0);
  EXPECT_EQ(Read("HKEY_LOCAL_MACHINE\\Software\\Absent", "fits"), 0);
  EXPECT_EQ(registry.open_keys, 0);
}

class PathCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.Set(kProvider, "optPathName", "C:\\Svc\\Info");
    registry.Set(kProvider, "etcPathName", "D:\\InfoData");
    registry.Set(kProvider, "varPathName", "E:\\InfoVar");
    registry.Set(kSite, "jrePathName", "C:\\Svc\\JRE6");
  }
  int Reads(const std::string& name) const {
    Log names = registry.Queried();
    return static_cast<int>(std::count(names.begin(), names.end(), name));
  }
  FakeRegistry registry;
  platform_test::FakeCodePage code_page;
  PathCache cache{registry, platform::kWindowsPaths, code_page};
};

TEST_F(PathCacheTest, FilledFieldIsNotReadAgain) {
  EXPECT_STREQ(cache.InstallationDirectory(), "C:\\Svc\\Info");
  EXPECT_STREQ(cache.ConfigurationDirectory(), "D:\\InfoData");
  EXPECT_STREQ(cache.VariableDataDirectory(), "E:\\InfoVar");
  EXPECT_STREQ(cache.JavaRuntimeDirectory(), "C:\\Svc\\JRE6");
  EXPECT_EQ(registry.Opened(), (Log{kProvider, kProvider, kProvider, kSite}));
  for (auto& key : registry.keys)
    for (auto& value : key.second) value.second = std::string("X:\\Moved", 9);
  for (int i = 0; i < 2; ++i) {
    EXPECT_STREQ(cache.JarPath(), "C:\\Svc\\Info\\java\\archive\\gorvanel.jar");
    EXPECT_STREQ(cache.InstallationDirectory(), "C:\\Svc\\Info");
    EXPECT_STREQ(cache.ConfigurationDirectory(), "D:\\InfoData");
    EXPECT_STREQ(cache.VariableDataDirectory(), "E:\\InfoVar");
    EXPECT_STREQ(cache.JavaRuntimeDirectory(), "C:\\Svc\\JRE6");
  }
  EXPECT_EQ(registry.queries.size(), 4u);
}

TEST_F(PathCacheTest, MissingValueIsReadAtEveryAccess) {
  registry.keys[kProvider].erase("optPathName");
  registry.keys[kProvider].erase("varPathName");
  for (int i = 0; i < 2; ++i) {
    EXPECT_STREQ(cache.InstallationDirectory(), "");
    EXPECT_STREQ(cache.JarPath(), "");
    EXPECT_STREQ(cache.VariableDataDirectory(), "");
  }
  EXPECT_EQ(Reads("optPathName"), 4);
  EXPECT_EQ(Reads("varPathName"), 2);
  registry.Set(kProvider, "optPathName", "/svc/info");
  PathCache posix(registry, platform::kPosixPaths, code_page);
  EXPECT_STREQ(posix.JarPath(), "/svc/info/java/archive/gorvanel.jar");
  EXPECT_STREQ(posix.InstallationDirectory(), "/svc/info");
}

TEST_F(PathCacheTest, EmptyInstallationDirectoryGivesABareJarPath) {
  registry.Set(kProvider, "optPathName", "");
  EXPECT_STREQ(cache.JarPath(), "\\java\\archive\\gorvanel.jar");
  EXPECT_STREQ(cache.InstallationDirectory(), "");
  EXPECT_STREQ(cache.InstallationDirectory(), "");
  EXPECT_EQ(Reads("optPathName"), 1);
}

TEST_F(PathCacheTest, InstallationDirectoryMustLeaveRoomForTheJarPath) {
  const std::string longest(233, 'o');
  registry.Set(kProvider, "optPathName", longest);
  EXPECT_EQ(cache.JarPath(), longest + "\\java\\archive\\gorvanel.jar");

  PathCache other(registry, platform::kWindowsPaths, code_page);
  registry.Set(kProvider, "optPathName", longest + "o");
  EXPECT_STREQ(other.InstallationDirectory(), "");
  EXPECT_STREQ(other.JarPath(), "");
  EXPECT_STREQ(other.InstallationDirectory(), "");
  EXPECT_EQ(Reads("optPathName"), 4);  // missing, so looked for each time
}

}  // namespace
}  // namespace gorvanel

#include "gorvanel/entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gorvanel/path_cache.h"
#include "platform/testing/fake_processes.h"
#include "platform/testing/fake_registry.h"
#include "platform/testing/fake_security.h"
#include "platform/testing/fakes.h"
#include "platform/testing/gorvanel_keys.h"

namespace gorvanel {
namespace {

using platform_test::FakeConsole;
using platform_test::FakeHeap;
using platform_test::FakeProcesses;
using platform_test::FakeRegistry;
using platform_test::FakeSecurity;
using platform_test::Log;

bool g_cache_in_place = false;
void NoteCache() { g_cache_in_place = CurrentPathCache() != nullptr; }

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.Set(gorvanel_test::kProvider, "optPathName", "C:\\Svc\\Info");
    registry.Set(gorvanel_test::kProvider, "etcPathName", "D:\\InfoData");
    registry.Set(gorvanel_test::kProvider, "varPathName", "D:\\InfoData");
    registry.Set(gorvanel_test::kSite, "jrePathName", "C:\\Svc\\JRE6");
    security.groups = {"Administrators"};
    processes.on_create = NoteCache;
  }

  // Runs with `count` arguments "a1", "a2", ...
  int Run(int count) {
    std::vector<std::string> args = {"gorvanel"};
    for (int i = 1; i <= count; ++i) args.push_back("a" + std::to_string(i));
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    console.output.clear();
    const Platform system = {registry, processes, security,
                             heap,     console,   platform::kWindowsPaths,
                             code_page};
    return RunGorvanel(system, static_cast<int>(argv.size()), argv.data());
  }

  FakeRegistry registry;
  Log log;
  FakeProcesses processes{&log};
  FakeSecurity security;
  FakeHeap heap;
  FakeConsole console;
  platform_test::FakeCodePage code_page;
};

TEST_F(EntryTest, RefusalsEndTheRunBeforeAnyRegistryRead) {
  EXPECT_EQ(Run(0), 1);
  EXPECT_EQ(console.output,
            "Usage: gorvanel <opt> [parameters....]\n"
            "  add information     : gorvanel -a <key> <parm1> [parm2] "
            "[parm3] [parm4]\n"
            "  show one information: gorvanel -l <key>\n"
            "  show all information: gorvanel -l\n"
            "  delete information  : gorvanel -d <key>\n");
  for (int count : {7, 12}) {
    EXPECT_EQ(Run(count), 1);
    EXPECT_EQ(console.output, "pemra1004 parameter error\n");
  }
  // A user outside the group sees nothing but the refusal.
  security.groups = {"Users"};
  for (int count : {0, 1, 7}) {
    EXPECT_EQ(Run(count), 1);
    EXPECT_EQ(console.output, "pemra1001 user authority error\n");
  }
  EXPECT_TRUE(registry.opens.empty());
  EXPECT_TRUE(processes.lines.empty());
}

TEST_F(EntryTest, OneToSixArgumentsReachTheJavaCommand) {
  for (int count = 1; count <= 6; ++count) {
    SCOPED_TRACE(count);
    processes.exit_code = count % 2;
    g_cache_in_place = false;
    EXPECT_EQ(Run(count), count % 2);
    EXPECT_TRUE(g_cache_in_place);
    EXPECT_EQ(CurrentPathCache(), nullptr);  // released afterwards
    ASSERT_EQ(processes.lines.size(), static_cast<std::size_t>(count));
    const std::string& line = processes.lines.back();
    EXPECT_EQ(line.substr(line.size() - 5),
              " \"a" + std::to_string(count) + "\"");
  }
  EXPECT_EQ(console.output, "");
}

}  // namespace
}  // namespace gorvanel

#include "gorvanel/execution.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gorvanel/path_cache.h"
#include "platform/cmdline.h"
#include "platform/testing/fake_processes.h"
#include "platform/testing/fake_registry.h"
#include "platform/testing/fakes.h"
#include "platform/testing/gorvanel_keys.h"

namespace gorvanel {
namespace {

using platform_test::FakeConsole;
using platform_test::FakeProcesses;
using platform_test::FakeRegistry;
using platform_test::Log;

using gorvanel_test::kProvider;
using gorvanel_test::kSite;

// The documented example's line up to the user arguments.
const char kFixedPart[] =
    "\"C:\\Svc\\JRE6\\bin\\java.exe\" \"-Dqrvex.optdir=C:\\Svc\\Info\" "
    "\"-Dqrvex.etcdir=D:\\InfoData\\etc\" \"-Dqrvex.vardir=D:\\InfoData\\var\" "
    "\"-classpath\" \"C:\\Svc\\Info\\java\\archive\\gorvanel.jar\" "
    "\"com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd\"";

std::string Failed(const std::string& code) {
  return "pemra1007 command execution is failed (internal error " + code +
         ")\n";
}

class ExecutionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.Set(kProvider, "optPathName", "C:\\Svc\\Info");
    registry.Set(kProvider, "etcPathName", "D:\\InfoData");
    registry.Set(kProvider, "varPathName", "D:\\InfoData");
    registry.Set(kSite, "jrePathName", "C:\\Svc\\JRE6");
  }
  void TearDown() override { SetCurrentPathCache(nullptr); }

  int Run(std::vector<std::string> args,
          const platform::PathStyle& paths = platform::kWindowsPaths) {
    cache.reset(new PathCache(registry, paths, code_page));
    SetCurrentPathCache(cache.get());
    log.clear();
    console.output.clear();
    args.insert(args.begin(), "gorvanel");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return ExecuteJavaCommand(processes, console, paths, code_page,
                              static_cast<int>(argv.size()), argv.data());
  }

  // The items the Java VM's runtime reads from the last line started.
  std::vector<std::string> SplitLastLine() const {
    return platform::SplitCommandLine(processes.lines.back().c_str(),
                                      code_page);
  }

  FakeRegistry registry;
  Log log;
  FakeProcesses processes{&log};
  FakeConsole console{&log};
  platform_test::FakeCodePage code_page;
  std::unique_ptr<PathCache> cache;
};

TEST_F(ExecutionTest, StartsTheJavaVmOnOneQuotedLine) {
  EXPECT_EQ(Run({"-a", "node01", "alpha", "beta gamma"}), 0);
  EXPECT_EQ(
      processes.lines.at(0),
      std::string(kFixedPart) + " \"-a\" \"node01\" \"alpha\" \"beta gamma\"");
  EXPECT_EQ(console.output, "");
  EXPECT_TRUE(processes.passed_defaults);
  EXPECT_EQ(processes.flags, 32u);
  // Every field zero but the size, which is the record's own.
  platform::StartupInfoA startup{};
  startup.cb = sizeof(startup);
  EXPECT_EQ(std::memcmp(&processes.startup, &startup, sizeof(startup)), 0);

  // An empty argument is still an argument.
  EXPECT_EQ(Run({"", "x"}), 0);
  EXPECT_EQ(processes.lines.at(1), std::string(kFixedPart) + " \"\" \"x\"");

  registry.Set(kProvider, "optPathName", "/svc/info");
  registry.Set(kProvider, "etcPathName", "/data");
  registry.Set(kProvider, "varPathName", "/data");
  registry.Set(kSite, "jrePathName", "/opt/jre");
  EXPECT_EQ(Run({"-l"}, platform::kPosixPaths), 0);
  EXPECT_EQ(processes.lines.at(2),
            "\"/opt/jre/bin/java\" \"-Dqrvex.optdir=/svc/info\" "
            "\"-Dqrvex.etcdir=/data/etc\" \"-Dqrvex.vardir=/data/var\" "
            "\"-classpath\" \"/svc/info/java/archive/gorvanel.jar\" "
            "\"com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd\" \"-l\"");
}

// Directories that end with a backslash and arguments that hold quotes or
// end with backslashes reach the Java VM whole, on both systems. In code
// page 932 the 0x5C of ソ (0x83 0x5C), 表 (0x95 0x5C) and 能 (0x94 0x5C) is
// the second byte of a character, which the split never reads as a
// backslash; in 1252 it is one.
TEST_F(ExecutionTest, EveryQuotedItemIsSplitBackUnchanged) {
  const std::string opt = "C:\\acc\\Inst Opt\\\x8b\x40\x94\\";  // ...\機能
  const std::vector<std::string> user = {
      "",       "say \"hi\"", "end\\", "C:\\dir\\", "two\\\\",
      "a\\\"b", "\"",         "x y",  "\\\\server\\share\\", "\\\"\\",
      "\x83\\", "\x95\\\"q",  "\x94\\\\", "a\x83\\", "\x83\\ \x95\\"};
  registry.Set(kProvider, "optPathName", opt);
  registry.Set(kProvider, "etcPathName", "D:\\data\\\\");
  for (unsigned number : {1252u, 932u}) {
    code_page.number = number;
    for (const auto& style : {platform::kWindowsPaths, platform::kPosixPaths}) {
      SCOPED_TRACE(std::to_string(number) + style.separator);
      const std::string sep(1, style.separator);
      for (std::size_t first = 0; first < user.size(); first += 5) {
        std::vector<std::string> args(user.begin() + first,
                                      user.begin() + first + 5);
        ASSERT_EQ(Run(args, style), 0);
        std::vector<std::string> items = SplitLastLine();
        ASSERT_EQ(items.size(), 12u) << processes.lines.back();
        EXPECT_EQ(items[0], "C:\\Svc\\JRE6" + sep + "bin" + sep + "java" +
                                style.program_suffix);
        EXPECT_EQ(items[1], "-Dqrvex.optdir=" + opt);
        EXPECT_EQ(items[2], "-Dqrvex.etcdir=D:\\data\\\\" + sep + "etc");
        EXPECT_EQ(items[5],
                  opt + sep + "java" + sep + "archive" + sep + "gorvanel.jar");
        EXPECT_EQ(std::vector<std::string>(items.begin() + 7, items.end()),
                  args);
      }
    }
  }
}

// Six arguments, each of quotes and letters and then `tail`, whose escaped
// forms add up to `escaped` characters: quotes count twice, a letter once,
// `tail` as long as it is.
std::vector<std::string> ArgumentsEscapingTo(std::size_t escaped,
                                             const std::string& tail = "") {
  std::vector<std::string> args;
  const std::size_t room = 255 - tail.size();
  for (std::size_t left = 6; left > 0; --left) {
    const std::size_t take = escaped / left - tail.size();
    const std::size_t quotes = take > room ? take - room : 0;
    args.push_back(std::string(quotes, '"') +
                   std::string(take - 2 * quotes, 'y') + tail);
    escaped -= take + tail.size();
  }
  return args;
}

// Escaping can take the longest arguments past the command line's 3,879
// characters: such a line is refused, never cut.
TEST_F(ExecutionTest, LineThatEscapingTakesPastTheLimitIsRefused) {
  registry.Set(kProvider, "optPathName", "C:\\" + std::string(230, 'o'));
  registry.Set(kProvider, "etcPathName", "D:\\" + std::string(256, 'e'));
  registry.Set(kProvider, "varPathName", "E:\\" + std::string(256, 'v'));
  registry.Set(kSite, "jrePathName", "F:\\" + std::string(256, 'j'));
  ASSERT_EQ(Run({"", "", "", "", "", ""}), 0);
  const std::size_t fixed = processes.lines.back().size();

  const std::vector<std::string> longest = ArgumentsEscapingTo(3879 - fixed);
  ASSERT_EQ(Run(longest), 0);
  EXPECT_EQ(processes.lines.back().size(), 3879u);
  std::vector<std::string> items = SplitLastLine();
  EXPECT_EQ(std::vector<std::string>(items.begin() + 7, items.end()), longest);

  const std::size_t started = processes.lines.size();
  EXPECT_EQ(Run(ArgumentsEscapingTo(3880 - fixed)), 1);
  EXPECT_EQ(console.output, "pemra1004 parameter error\n");
  EXPECT_EQ(processes.lines.size(), started);

  // In code page 932 the 0x5C of ソ (0x83 0x5C) ending each argument is
  // neither doubled nor counted as a backslash.
  code_page.number = 932;
  ASSERT_EQ(Run(ArgumentsEscapingTo(3879 - fixed, "\x83\\")), 0);
  EXPECT_EQ(processes.lines.back().size(), 3879u);
  EXPECT_EQ(Run(ArgumentsEscapingTo(3880 - fixed, "\x83\\")), 1);
}

// In code page 932 a lead byte at the very end of an item would take the
// closing quote or the separator after it for its second byte: such an
// argument is refused and such a directory is missing. In 1252 the same
// byte is a letter.
TEST_F(ExecutionTest, LoneLeadByteAtAnItemsEndIsRefused) {
  code_page.number = 932;
  EXPECT_EQ(Run({"-l", "key\x83"}), 1);
  EXPECT_EQ(console.output, "pemra1004 parameter error\n");
  registry.Set(kProvider, "optPathName", "C:\\Svc\\Info\x83");
  EXPECT_EQ(Run({"-l"}), 1);
  EXPECT_EQ(console.output, Failed("EXE001"));
  registry.Set(kProvider, "optPathName", "C:\\Svc\\Info");
  registry.Set(kSite, "jrePathName", "C:\\Svc\\JRE6\x83");
  EXPECT_EQ(Run({"-l"}), 1);
  EXPECT_EQ(console.output, Failed("EXE004"));
  EXPECT_TRUE(processes.lines.empty());

  code_page.number = 1252;
  EXPECT_EQ(Run({"-l", "key\x83"}), 0);
  EXPECT_EQ(SplitLastLine().back(), "key\x83");
}

TEST_F(ExecutionTest, FirstMissingDirectoryEndsTheStepBeforeLaterReads) {
  const char* const keys[] = {kProvider, kProvider, kProvider, kSite};
  const char* const names[] = {"optPathName", "etcPathName", "varPathName",
                               "jrePathName"};
  for (int missing = 0; missing < 4; ++missing) {
    SCOPED_TRACE(names[missing]);
    SetUp();
    // This value and all after it are missing; only the first is reported.
    for (int i = missing; i < 4; ++i) registry.keys[keys[i]].erase(names[i]);
    registry.queries.clear();
    // An argument that is too long is looked at only afterwards.
    EXPECT_EQ(Run({"-l", std::string(300, 'k')}), 1);
    EXPECT_EQ(console.output, Failed("EXE00" + std::to_string(missing + 1)));
    EXPECT_EQ(registry.Queried(), Log(names, names + missing + 1));
  }
  EXPECT_TRUE(processes.lines.empty());
}

TEST_F(ExecutionTest, ArgumentsOf255CharactersPassAnd256AreRefused) {
  for (std::size_t position = 0; position < 6; ++position) {
    SCOPED_TRACE(position);
    std::vector<std::string> args(6, "x");
    args[position] = std::string(255, 'a');
    ASSERT_EQ(Run(args), 0);
    EXPECT_NE(processes.lines.back().find(" \"" + args[position] + "\""),
              std::string::npos);
    args[position] += 'a';
    EXPECT_EQ(Run(args), 1);
    EXPECT_EQ(console.output, "pemra1004 parameter error\n");
    EXPECT_EQ(processes.lines.size(), position + 1);
  }
}

TEST_F(ExecutionTest, ChildsExitCodeIsMappedAfterItsHandlesAreClosed) {
  for (platform::DWORD code : {0u, 1u}) {
    processes.exit_code = code;
    EXPECT_EQ(Run({"-l"}), static_cast<int>(code));
    EXPECT_EQ(console.output, "");
  }
  processes.exit_code = 4294967295u;
  EXPECT_EQ(Run({"-l"}), 1);
  EXPECT_EQ(console.output, Failed("EXE006:-1"));
  processes.exit_code = 2;
  EXPECT_EQ(Run({"-l"}), 1);
  EXPECT_EQ(log, (Log{"create", "wait process 4294967295", "exit code process",
                      "terminate process 1", "close thread", "close process",
                      "write " + Failed("EXE006:2")}));
}

TEST_F(ExecutionTest, FailedCreationIsReportedAndNothingIsWaitedFor) {
  processes.create_result = 0;
  EXPECT_EQ(Run({"-l"}), 1);
  EXPECT_EQ(log, (Log{"create", "write " + Failed("EXE005")}));
}

}  // namespace
}  // namespace gorvanel

#include "tarvo/launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cmdline.h"
#include "platform/testing/fake_registry.h"
#include "platform/testing/fakes.h"

namespace {

const char kSite[] =
    "SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion";
const char kClass[] =
    "com.talvane.vantrel.pennimark.san.manager.cli.tarvo.Tarvo";

class LauncherTest : public ::testing::Test {
 protected:
  // The made-up installation of the documented example.
  LauncherTest() {
    registry.Set(kSite, "optPathName", "D:\\Mgr Opt");
    registry.Set(kSite, "etcPathName", "D:\\Mgr Etc");
    registry.Set(kSite, "varPathName", "D:\\Mgr Var");
    files.files["D:\\Mgr Opt\\bin\\tarvo.ini"] = "jre= D:\\Mgr Jre\n";
    sockets.Define("tovrexm", "tcp", 20001);
  }

  int Run(std::vector<std::string> args,
          std::string program = "D:\\Mgr Opt\\bin\\tarvo.exe") {
    interpreter.lines.clear();
    std::vector<const char*> argv{program.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    tarvo::Platform p{registry,    sockets, environment, files,
                      interpreter, *paths,  code_page};
    return tarvo::RunLauncher(p, static_cast<int>(argv.size()), argv.data());
  }

  // The command line handed to the interpreter; empty when none was.
  std::string Line() const {
    return interpreter.lines.empty() ? "" : interpreter.lines.back();
  }
  // Whether the line starts the Java program under `runtime`.
  bool Starts(const std::string& runtime) const {
    std::string head = "\"\"" + runtime + "\\bin\\java\" -D";
    return Line().compare(0, head.size(), head) == 0;
  }
  // Whether the launcher stopped with 1 and started nothing.
  void ExpectFailedBeforeRun(int status) {
    EXPECT_EQ(1, status);
    EXPECT_TRUE(interpreter.lines.empty()) << Line();
  }

  platform_test::FakeRegistry registry;
  platform_test::FakeSockets sockets;
  platform_test::FakeEnvironment environment;
  platform_test::FakeTextFiles files;
  platform_test::FakeInterpreter interpreter;
  const platform::PathStyle* paths = &platform::kWindowsPaths;
  platform_test::FakeCodePage code_page;
};

TEST_F(LauncherTest, DocumentedExampleByteForByte) {
  interpreter.status = 0;
  ASSERT_EQ(0, Run({"list", "pool 1"}));
  EXPECT_EQ(
      "\"\"D:\\Mgr Jre\\bin\\java\" "
      "-Djava.library.path=\"D:\\Mgr Opt\\KVXPdkmgr\\lib\" "
      "-Dpellucor.optdir=\"D:\\Mgr Opt\\KVXPdkmgr\" "
      "-Dpellucor.etcdir=\"D:\\Mgr Etc\\opt\\KVXPdkmgr\\current\" "
      "-Dpellucor.vardir=\"D:\\Mgr Var\\opt\\KVXPdkmgr\\current\" "
      "-Dpellucor.rmiport=20001 -Dpellucor.nfport=23456 "
      "com.talvane.vantrel.pennimark.san.manager.cli.tarvo.Tarvo "
      "\"list\" \"pool 1\"\"",
      Line());
  EXPECT_EQ("D:\\Mgr Opt\\KVXPdkmgr\\java\\archive\\tarvo.jar",
            environment.variables["CLASSPATH"]);
  EXPECT_EQ("D:\\Mgr Opt\\KVXPdkmgr\\lib", environment.variables["LIB"]);
  EXPECT_EQ((std::vector<std::string>{"D:\\Mgr Opt\\bin\\tarvo.ini"}),
            files.opened);
  EXPECT_EQ(0, files.open_streams);
  EXPECT_EQ(1, files.lines_read);
}

TEST_F(LauncherTest, PosixConventionsUseSlashesInPathsOnly) {
  paths = &platform::kPosixPaths;
  registry.Set(kSite, "optPathName", "/opt/mgr");
  registry.Set(kSite, "etcPathName", "/etc/mgr");
  registry.Set(kSite, "varPathName", "/var/mgr");
  files.files["/opt/mgr/bin/tarvo.ini"] = "/opt/jre\n";
  ASSERT_EQ(0, Run({"a\\b"}, "/opt/mgr/bin/tarvo"));
  EXPECT_EQ(
      "\"\"/opt/jre/bin/java\" -Djava.library.path=\"/opt/mgr/KVXPdkmgr/lib\" "
      "-Dpellucor.optdir=\"/opt/mgr/KVXPdkmgr\" "
      "-Dpellucor.etcdir=\"/etc/mgr/opt/KVXPdkmgr/current\" "
      "-Dpellucor.vardir=\"/var/mgr/opt/KVXPdkmgr/current\" "
      "-Dpellucor.rmiport=20001 -Dpellucor.nfport=23456 "
      "com.talvane.vantrel.pennimark.san.manager.cli.tarvo.Tarvo \"a\\b\"\"",
      Line());
  EXPECT_EQ("/opt/mgr/KVXPdkmgr/java/archive/tarvo.jar",
            environment.variables["CLASSPATH"]);
}

TEST_F(LauncherTest, StatusOfTheInterpreterIsTheResult) {
  for (int status : {0, 1, 3, 255, -1, 9009}) {
    interpreter.status = status;
    EXPECT_EQ(status, Run({}));
  }
}

TEST_F(LauncherTest, ArgumentsGoOnQuotedAndUnchanged) {
  ASSERT_EQ(0, Run({}));
  EXPECT_EQ(std::string(kClass) + "\"",
            Line().substr(Line().size() - sizeof(kClass)));
  ASSERT_EQ(0, Run({"", "trailing\\", "%PATH%", "a & b | c ^ <d>",
                    "\xc3\xa9t\xc3\xa9"}));
  std::string expected = std::string(kClass) +
                         " \"\" \"trailing\\\\\" \"%PATH%\" \"a & b | c ^ <d>\" "
                         "\"\xc3\xa9t\xc3\xa9\"\"";
  EXPECT_EQ(expected, Line().substr(Line().size() - expected.size()));
}

// In code page 932 the 0x5C of ソ (0x83 0x5C), 表 (0x95 0x5C) and 能
// (0x94 0x5C) is the second byte of a character, which the Java VM's split
// never reads as a backslash; in 1252 it is one.
TEST_F(LauncherTest, JavaVmGetsEveryArgumentBackWhole) {
  registry.Set(kSite, "optPathName", "D:\\Mgr \x8b\x40\x94\\");  // 機能
  const std::vector<std::string> args = {
      "", " ", "two words", "dir\\", "\\\\server\\", "a\\b", "\\",
      "%PATH%", "$(id)", "tab\there", "\xc3\xa9",
      "\x83\\", "\x95\\", "a\x83\\", "x", "\x94\\\\", "\x83\\ \x83\\"};
  for (unsigned number : {1252u, 932u}) {
    SCOPED_TRACE(number);
    code_page.number = number;
    ASSERT_EQ(0, Run(args));
    // What the interpreter runs: the line less its first and last quote.
    std::string inner = Line().substr(1, Line().size() - 2);
    std::vector<std::string> items =
        platform::SplitCommandLine(inner.c_str(), code_page);
    ASSERT_EQ(8 + args.size(), items.size()) << Line();
    EXPECT_EQ("D:\\Mgr Jre\\bin\\java", items[0]);
    EXPECT_EQ("-Dpellucor.optdir=D:\\Mgr \x8b\x40\x94\\\\KVXPdkmgr", items[2]);
    EXPECT_EQ(kClass, items[7]);
    EXPECT_EQ(args, std::vector<std::string>(items.begin() + 8, items.end()));
  }
}

TEST_F(LauncherTest, ArgumentThatCouldEndItsQuotingIsRefusedUntouched) {
  for (const char* bad : {"x\" & calc & \"", "\"", "a\rb", "a\nb"}) {
    ExpectFailedBeforeRun(Run({"ok", bad}));
  }
  // A lead byte with no second byte would take the closing quote for it.
  code_page.number = 932;
  ExpectFailedBeforeRun(Run({"ok", "a\x83"}));
  EXPECT_TRUE(registry.opens.empty());
  EXPECT_TRUE(environment.variables.empty());
  EXPECT_TRUE(sockets.calls.empty());
}

TEST_F(LauncherTest, DirectoriesAreReadInOrderAndTheFirstMissingStops) {
  registry.Set(kSite, "varPathName", "");
  ExpectFailedBeforeRun(Run({"x"}));
  EXPECT_EQ((std::vector<std::string>{"optPathName", "varPathName"}),
            registry.Queried());
  EXPECT_TRUE(environment.variables.empty());
  EXPECT_TRUE(sockets.calls.empty());
}

TEST_F(LauncherTest, EnvironmentIsSetBeforeThePortsAndPortsInOrder) {
  ASSERT_EQ(0, Run({}));
  EXPECT_EQ((std::vector<std::string>{"CLASSPATH", "LIB"}),
            environment.set_order);
  EXPECT_EQ((std::vector<std::string>{"startup", "lookup nfport/tcp",
                                      "cleanup", "startup",
                                      "lookup tovrexm/tcp", "cleanup"}),
            sockets.calls);
}

TEST_F(LauncherTest, PortDefaultsAndResolvedPorts) {
  sockets = platform_test::FakeSockets();
  ASSERT_EQ(0, Run({}));
  EXPECT_NE(std::string::npos,
            Line().find(" -Dpellucor.rmiport=0 -Dpellucor.nfport=23456 "));
  sockets.Define("nfport", "tcp", 65535);
  sockets.Define("tovrexm", "tcp", 1);
  ASSERT_EQ(0, Run({}));
  EXPECT_NE(std::string::npos,
            Line().find(" -Dpellucor.rmiport=1 -Dpellucor.nfport=65535 "));
}

TEST_F(LauncherTest, OptionLimitsAtTheirBoundaries) {
  // etcdir: 42 characters around the directory, 283 at most.
  registry.Set(kSite, "etcPathName", std::string(241, 'e'));
  EXPECT_EQ(0, Run({}));
  registry.Set(kSite, "etcPathName", std::string(242, 'e'));
  ExpectFailedBeforeRun(Run({}));

  registry.Set(kSite, "etcPathName", "E:");
  registry.Set(kSite, "varPathName", std::string(242, 'v'));
  ExpectFailedBeforeRun(Run({}));

  // optdir: 30 characters around the directory.
  registry.Set(kSite, "varPathName", "V:");
  registry.Set(kSite, "optPathName", std::string(253, 'o'));
  files.files["tarvo.ini"] = "J:";
  EXPECT_EQ(0, Run({}, "tarvo"));
  registry.Set(kSite, "optPathName", std::string(254, 'o'));
  ExpectFailedBeforeRun(Run({}, "tarvo"));
  // The environment was set before the options failed.
  EXPECT_EQ(std::string(254, 'o') + "\\KVXPdkmgr\\lib",
            environment.variables["LIB"]);
}

TEST_F(LauncherTest, JavaProgramPathLimit) {
  files.files["tarvo.ini"] = std::string(249, 'j') + "\n";
  ASSERT_EQ(0, Run({}, "tarvo"));
  EXPECT_TRUE(Starts(std::string(249, 'j'))) << Line();
  files.files["tarvo.ini"] = std::string(250, 'j') + "\n";
  ExpectFailedBeforeRun(Run({}, "tarvo"));
  // A line longer than the ini buffer is cut, and still fails here.
  files.files["tarvo.ini"] = std::string(5000, 'j');
  ExpectFailedBeforeRun(Run({}, "tarvo"));
}

TEST_F(LauncherTest, CommandLineLimit) {
  ASSERT_EQ(0, Run({}));
  std::size_t fixed = Line().size() + 3;  // each argument adds ` "…"`
  std::string fits(8191 - fixed, 'a');
  ASSERT_EQ(0, Run({fits}));
  EXPECT_EQ(8191u, Line().size());
  ExpectFailedBeforeRun(Run({fits + "a"}));
  ExpectFailedBeforeRun(Run({std::string(20000, 'a')}));

  // In code page 932 a final ソ (0x83 0x5C) ends in no backslash to double.
  code_page.number = 932;
  ASSERT_EQ(0, Run({fits.substr(2) + "\x83\\"}));
  EXPECT_EQ(8191u, Line().size());
}

TEST_F(LauncherTest, IniValueRules) {
  struct Case {
    const char* ini;
    const char* runtime;
  } cases[] = {
      {"JRE = D:\\Jre\r\n", "D:\\Jre\r"},  // text mode left a lone CR
      {"JRE = D:\\Jre\n", "D:\\Jre"},
      {"=\t D:\\Jre\n", "D:\\Jre"},
      {"  D:\\Bare\n", "  D:\\Bare"},
      {"D:\\Trailing  \n", "D:\\Trailing  "},
      {"a=b=c\n", "b=c"},
      {"D:\\First\nD:\\Second\n", "D:\\First"},
      {"D:\\NoLineEnd", "D:\\NoLineEnd"},
      {"\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    files.files["D:\\Mgr Opt\\bin\\tarvo.ini"] = c.ini;
    registry.queries.clear();
    ASSERT_EQ(0, Run({})) << c.ini;
    EXPECT_TRUE(Starts(c.runtime)) << c.ini << " gave " << Line();
    EXPECT_EQ(3u, registry.queries.size()) << "jrePathName read for " << c.ini;
  }
}

TEST_F(LauncherTest, IniIsLookedForBesideTheProgramName) {
  struct Case {
    const char* program;
    const char* ini;
    unsigned code_page = 1252;
  } cases[] = {
      {"D:\\Mgr Opt\\bin\\tarvo.exe", "D:\\Mgr Opt\\bin\\tarvo.ini"},
      {"tarvo", "tarvo.ini"},
      {"D:tarvo.exe", "tarvo.ini"},
      {"D:/a/tarvo.exe", "tarvo.ini"},
      {"\\\\server\\share\\tarvo", "\\\\server\\share\\tarvo.ini"},
      // D:\機\ソtarvo.exe: ソ (0x83 0x5C) holds no separator in code page
      // 932, where 機 is 0x8B 0x40; in 1252 its 0x5C is one.
      {"D:\\\x8b\x40\\\x83\x5ctarvo.exe", "D:\\\x8b\x40\\tarvo.ini", 932},
      {"D:\\\x8b\x40\\\x83\x5ctarvo.exe", "D:\\\x8b\x40\\\x83\\tarvo.ini"},
  };
  for (const Case& c : cases) {
    files.opened.clear();
    code_page.number = c.code_page;
    Run({}, c.program);
    EXPECT_EQ(std::vector<std::string>{c.ini}, files.opened) << c.program;
  }
}

TEST_F(LauncherTest, WithoutIniTheRegistryNamesTheRuntime) {
  files.files.clear();
  registry.Set(kSite, "jrePathName", "C:\\Jre");
  ASSERT_EQ(0, Run({}));
  EXPECT_TRUE(Starts("C:\\Jre")) << Line();
  EXPECT_EQ("jrePathName", registry.queries.back().name);

  registry.Set(kSite, "jrePathName", "");
  ExpectFailedBeforeRun(Run({}));
}

TEST_F(LauncherTest, ProgramNameTooLongForTheIniPathFallsBackToRegistry) {
  registry.Set(kSite, "jrePathName", "C:\\Jre");
  std::string dir = "D:\\" + std::string(247, 'd') + "\\";  // 251 characters
  files.files[dir + "tarvo.ini"] = "D:\\FromIni";
  ASSERT_EQ(0, Run({}, dir + "tarvo.exe"));  // 251 + 9 = 260: too long
  EXPECT_TRUE(files.opened.empty());
  EXPECT_TRUE(Starts("C:\\Jre")) << Line();

  std::string shorter = "D:\\" + std::string(246, 'd') + "\\";
  files.files[shorter + "tarvo.ini"] = "D:\\FromIni";
  ASSERT_EQ(0, Run({}, shorter + "tarvo.exe"));  // 259: fits
  EXPECT_TRUE(Starts("D:\\FromIni")) << Line();
}

TEST_F(LauncherTest, DirectoryEndingInBackslashDoublesIt) {
  registry.Set(kSite, "optPathName", "D:\\");
  ASSERT_EQ(0, Run({}));
  EXPECT_NE(std::string::npos,
            Line().find("-Dpellucor.optdir=\"D:\\\\KVXPdkmgr\""));
  EXPECT_EQ("D:\\\\KVXPdkmgr\\lib", environment.variables["LIB"]);
}

}  // namespace

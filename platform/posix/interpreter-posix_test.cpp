#include "platform/interpreter.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/testing/scratch_dir.h"

namespace platform {
namespace {

int RunLine(const std::string& line) {
  return SystemCommandInterpreter().System(line.c_str());
}

// As the launcher builds a line: two quotes, the program path and its
// closing quote, each argument as a blank and the argument in quotes, and
// one final quote.
std::string LauncherLine(const std::string& program,
                         const std::vector<std::string>& args) {
  std::string line = "\"\"" + program + "\"";
  for (const std::string& arg : args) line += " \"" + arg + "\"";
  return line + "\"";
}

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    setenv("CAPTURE_OUT", dir_.Path("out").c_str(), 1);
  }
  void TearDown() override { unsetenv("CAPTURE_OUT"); }

  ScratchDir dir_;
};

TEST_F(InterpreterTest, ExitStatusOfTheProgram) {
  EXPECT_EQ(0, RunLine("/bin/sh -c \"exit 0\""));
  EXPECT_EQ(3, RunLine("/bin/sh -c \"exit 3\""));
  EXPECT_EQ(255, RunLine("\"\"/bin/sh\" \"-c\" \"exit 255\"\""));
  EXPECT_EQ(143, RunLine("/bin/sh -c \"kill -TERM $$\""));
  EXPECT_EQ(137, RunLine("/bin/sh -c \"kill -KILL $$\""));
  EXPECT_NE(0, SystemCommandInterpreter().System(nullptr));
}

TEST_F(InterpreterTest, LauncherLineReachesTheProgramAsItsArguments) {
  std::string capture = WriteCaptureScript(dir_);
  ASSERT_EQ(0, RunLine(LauncherLine(capture, {"-Dx=a b", "", "c\\d", "list"})));
  // The environment (CAPTURE_OUT) and the working directory are inherited.
  EXPECT_EQ("<-Dx=a b><><c\\d><list>\n" + CurrentDirectory() + "\n",
            dir_.Read("out"));
}

TEST_F(InterpreterTest, LauncherLineWithoutArguments) {
  std::string capture = WriteCaptureScript(dir_);
  ASSERT_EQ(0, RunLine(LauncherLine(capture, {})));
  EXPECT_EQ("\n" + CurrentDirectory() + "\n", dir_.Read("out"));
}

// A program path with a blank only works if the outer quotes are dropped
// and the inner ones kept.
TEST_F(InterpreterTest, ProgramPathWithBlank) {
  std::string capture = WriteCaptureScript(dir_);
  ASSERT_EQ(0, rename(capture.c_str(), dir_.Path("cap ture").c_str()));
  ASSERT_EQ(0, RunLine(LauncherLine(dir_.Path("cap ture"), {"x y"})));
  EXPECT_EQ(0u, dir_.Read("out").find("<x y>\n"));
}

TEST_F(InterpreterTest, MissingProgramIs127WithOneLine) {
  std::string missing = dir_.Path("no-such-program");
  ::testing::internal::CaptureStderr();
  int status = RunLine(LauncherLine(missing, {"a"}));
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(127, status);
  EXPECT_EQ(missing + ": not found\n", said);
}

// Never looked up along the search path, as no shell is involved.
TEST_F(InterpreterTest, BareNameIsNotSearched) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(127, RunLine("sh -c \"exit 0\""));
  EXPECT_EQ("sh: not found\n", ::testing::internal::GetCapturedStderr());
}

TEST_F(InterpreterTest, UnrunnableProgramIs126) {
  std::string not_executable = dir_.Write("plain", "#!/bin/sh\nexit 0\n", 0644);
  std::string no_format = dir_.Write("garbage", "\x01\x02garbage\n", 0755);
  const std::string lines[] = {not_executable, no_format, dir_.path()};
  for (const std::string& program : lines) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(126, RunLine(LauncherLine(program, {}))) << program;
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, said.find(program + ": ")) << said;
    EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
  }
}

}  // namespace
}  // namespace platform

#include "platform/text_file.h"

#include <gtest/gtest.h>

#include "platform/posix/test_programs.h"

namespace platform {
namespace {

TEST(SystemTextFilesTest, ReadsAFileInTextMode) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::string path = dir.Write("tarvo.ini", "jre= /opt/jre\r\nnext\r\n\x1a" "x");
  TextFiles& files = SystemTextFiles();
  TextStream* stream = files.Fopen(path.c_str());
  ASSERT_NE(nullptr, stream);
  char line[1040];
  ASSERT_EQ(line, files.Fgets(line, sizeof line, stream));
  EXPECT_STREQ("jre= /opt/jre\n", line);
  ASSERT_EQ(line, files.Fgets(line, sizeof line, stream));
  EXPECT_STREQ("next\n", line);
  EXPECT_EQ(nullptr, files.Fgets(line, sizeof line, stream));
  EXPECT_EQ(0, files.Fclose(stream));
}

// What Windows cannot open as a file cannot be opened here either.
TEST(SystemTextFilesTest, OpenFailures) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  TextFiles& files = SystemTextFiles();
  EXPECT_EQ(nullptr, files.Fopen(dir.Path("missing.ini").c_str()));
  EXPECT_EQ(nullptr, files.Fopen(dir.path().c_str()));
}

TEST(SystemTextFilesTest, EmptyFileHasNoLine) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  TextFiles& files = SystemTextFiles();
  TextStream* stream = files.Fopen(dir.Write("empty.ini", "").c_str());
  ASSERT_NE(nullptr, stream);
  char line[16];
  EXPECT_EQ(nullptr, files.Fgets(line, sizeof line, stream));
  EXPECT_EQ(0, files.Fclose(stream));
}

}  // namespace
}  // namespace platform

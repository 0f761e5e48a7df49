#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/testing/scratch_dir.h"

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

// What Windows cannot open as a file cannot be opened here either, nor
// anything else than a regular file: a FIFO (whose open would wait for a
// writer), a device, a link to one. Opening them does not wait.
TEST(SystemTextFilesTest, OpenFailures) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  TextFiles& files = SystemTextFiles();
  EXPECT_EQ(nullptr, files.Fopen(dir.Path("missing.ini").c_str()));
  EXPECT_EQ(nullptr, files.Fopen(dir.path().c_str()));
  ASSERT_EQ(0, mkfifo(dir.Path("fifo.ini").c_str(), 0644));
  EXPECT_EQ(nullptr, files.Fopen(dir.Path("fifo.ini").c_str()));
  EXPECT_EQ(nullptr, files.Fopen("/dev/zero"));
  ASSERT_EQ(0, symlink("/dev/zero", dir.Path("zero.ini").c_str()));
  EXPECT_EQ(nullptr, files.Fopen(dir.Path("zero.ini").c_str()));
}

TEST(SystemTextFilesTest, LinkToAFileIsRead) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::string target = dir.Write("target.ini", "jre=/opt/jre\n");
  ASSERT_EQ(0, symlink(target.c_str(), dir.Path("tarvo.ini").c_str()));
  TextFiles& files = SystemTextFiles();
  TextStream* stream = files.Fopen(dir.Path("tarvo.ini").c_str());
  ASSERT_NE(nullptr, stream);
  char line[64];
  ASSERT_EQ(line, files.Fgets(line, sizeof line, stream));
  EXPECT_STREQ("jre=/opt/jre\n", line);
  EXPECT_EQ(0, files.Fclose(stream));
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

#include "platform/posix/internal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace platform {
namespace {

// Reads `content` line by line with buffers of `size`, until Gets says the
// end has come.
std::vector<std::string> ReadAll(const std::string& content, int size = 64) {
  std::vector<std::string> lines;
  std::string copy = content;
  std::FILE* file = fmemopen(copy.empty() ? nullptr : &copy[0], copy.size(), "rb");
  if (file == nullptr) {
    ADD_FAILURE() << "fmemopen failed";
    return lines;
  }
  TextModeReader reader(file);
  std::vector<char> buffer(size + 1, '#');
  while (reader.Gets(buffer.data(), size) != nullptr) {
    lines.emplace_back(buffer.data());
    EXPECT_EQ('#', buffer[size]) << "written past the buffer";
  }
  std::fclose(file);
  return lines;
}

using Lines = std::vector<std::string>;

TEST(TextModeReaderTest, CrLfReadsAsLf) {
  EXPECT_EQ(Lines({"jre= D:\\Mgr Jre\n", "second\n"}),
            ReadAll("jre= D:\\Mgr Jre\r\nsecond\r\n"));
  EXPECT_EQ(Lines({"unix\n", "last"}), ReadAll("unix\nlast"));
  EXPECT_EQ(Lines({"\n", "\n"}), ReadAll("\r\n\r\n"));
}

TEST(TextModeReaderTest, LoneCrStays) {
  EXPECT_EQ(Lines({"a\rb\n"}), ReadAll("a\rb\r\n"));
  EXPECT_EQ(Lines({"a\r"}), ReadAll("a\r"));
  EXPECT_EQ(Lines({"a\r\n", "b"}), ReadAll("a\r\r\nb"));
  EXPECT_EQ(Lines({"\n", "\r"}), ReadAll("\n\r"));
}

// Ctrl-Z is the end of the file, even with more behind it.
TEST(TextModeReaderTest, CtrlZEndsTheFile) {
  EXPECT_EQ(Lines({"ab"}), ReadAll("ab\x1a" "cd\r\n"));
  EXPECT_EQ(Lines({"line\n"}), ReadAll("line\r\n\x1a" "more\r\n"));
  EXPECT_EQ(Lines(), ReadAll("\x1a" "all hidden\n"));
  EXPECT_EQ(Lines({"a\r"}), ReadAll("a\r\x1a" "b"));
}

TEST(TextModeReaderTest, EmptyFileGivesNothing) {
  EXPECT_EQ(Lines(), ReadAll(""));
}

// Bytes above 0x7F are characters, not the end of the file.
TEST(TextModeReaderTest, HighBytesPassUnchanged) {
  EXPECT_EQ(Lines({"\xff\xfe\x80\n"}), ReadAll("\xff\xfe\x80\r\n"));
}

// At most size - 1 characters, counted after the translation.
TEST(TextModeReaderTest, BufferLimits) {
  EXPECT_EQ(Lines({"abc", "def", "\n"}), ReadAll("abcdef\n", 4));
  EXPECT_EQ(Lines({"ab\n"}), ReadAll("ab\r\n", 4));
  // A CR LF split by the end of the buffer still reads as one LF.
  EXPECT_EQ(Lines({"abc", "\n", "x"}), ReadAll("abc\r\nx", 4));
  EXPECT_EQ(Lines({"a", "\r", "b"}), ReadAll("a\rb", 2));
  std::string long_line(2000, 'j');
  Lines lines = ReadAll(long_line + "\r\n", 1040);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(1039u, lines[0].size());
  EXPECT_EQ(long_line.substr(1039) + "\n", lines[1]);
}

TEST(TextModeReaderTest, DegenerateSizes) {
  std::string content = "xy\n";
  std::FILE* file = fmemopen(&content[0], content.size(), "rb");
  ASSERT_NE(nullptr, file);
  TextModeReader reader(file);
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(nullptr, reader.Gets(buffer, 0));
  EXPECT_EQ('#', buffer[0]);
  // Room for the terminator only: an empty text, nothing consumed.
  EXPECT_EQ(buffer, reader.Gets(buffer, 1));
  EXPECT_EQ('\0', buffer[0]);
  EXPECT_EQ(buffer, reader.Gets(buffer, 4));
  EXPECT_STREQ("xy\n", buffer);
  EXPECT_EQ(nullptr, reader.Gets(buffer, 4));
  std::fclose(file);
}

}  // namespace
}  // namespace platform

#include "platform/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/fakes.h"

namespace platform {
namespace {

struct SplitCase {
  const char* line;
  std::vector<std::string> items;
};

void ExpectSplits(const std::vector<SplitCase>& cases,
                  unsigned code_page_number = 1252) {
  platform_test::FakeCodePage code_page;
  code_page.number = code_page_number;
  for (const SplitCase& c : cases) {
    EXPECT_EQ(c.items, SplitCommandLine(c.line, code_page))
        << "line: " << c.line;
  }
}

// The examples the C runtime's documentation gives for its parsing, each
// after a program name.
TEST(SplitCommandLineTest, PublishedExamples) {
  ExpectSplits({
      {R"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
      {R"(p "abc" d e)", {"p", "abc", "d", "e"}},
      {R"(p "ab\"c" "\\" d)", {"p", R"(ab"c)", R"(\)", "d"}},
      {R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
      {R"(p a\\b d"e f"g h)", {"p", R"(a\\b)", "de fg", "h"}},
      {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
      {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
      // Since 2008 a "" inside a quoted run is one quote and the run goes on.
      {R"(p a"b"" c d)", {"p", R"(ab" c d)"}},
  });
}

// The program name: quotes only toggle, and a backslash is always plain.
TEST(SplitCommandLineTest, ProgramName) {
  ExpectSplits({
      {R"("C:\a b"\x y)", {R"(C:\a b\x)", "y"}},
      {R"("C:\Mgr Jre\bin\java" -version)", {R"(C:\Mgr Jre\bin\java)", "-version"}},
      {R"(C:\dir\ a)", {R"(C:\dir\)", "a"}},
      {R"(a\"b c)", {R"(a\b c)"}},
      {R"(p"q r"s t)", {"pq rs", "t"}},
      {"prog", {"prog"}},
      {"", {""}},
      {R"("")", {""}},
      {" x", {"", "x"}},
  });
}

TEST(SplitCommandLineTest, BlanksAndEmptyItems) {
  ExpectSplits({
      {"p\ta\t\tb", {"p", "a", "b"}},
      {"p   a  ", {"p", "a"}},
      {"p \"\" a", {"p", "", "a"}},
      {"p \"\"", {"p", ""}},
      {"p \"a\tb\"", {"p", "a\tb"}},
      {"p a\"\"b", {"p", "ab"}},
      {"p \"unterminated run", {"p", "unterminated run"}},
  });
}

TEST(SplitCommandLineTest, Backslashes) {
  ExpectSplits({
      {R"(p a\)", {"p", R"(a\)"}},
      {R"(p a\\)", {"p", R"(a\\)"}},
      {R"(p "a\\")", {"p", R"(a\)"}},
      {R"(p "a\\" b)", {"p", R"(a\)", "b"}},
      // An odd count escapes the quote, which then no longer closes the run.
      {R"(p "a\" b)", {"p", R"(a" b)"}},
      {R"(p \\server\share)", {"p", R"(\\server\share)"}},
      {R"(p \"x\")", {"p", R"("x")"}},
  });
}

// Lines as the launchers build them: every item quoted, none escaped.
TEST(SplitCommandLineTest, LauncherLines) {
  ExpectSplits({
      {R"("D:\Mgr Jre\bin\java" "-Dx=D:\Mgr Opt" "-classpath" "a;b" "list" "")",
       {R"(D:\Mgr Jre\bin\java)", R"(-Dx=D:\Mgr Opt)", "-classpath", "a;b",
        "list", ""}},
      // A directory that ends with a backslash escapes its closing quote.
      {R"("java" "-Dd=C:\dir\" "next")", {"java", R"(-Dd=C:\dir" next)"}},
  });
}

// Code page 932: a lead byte takes the byte after it, after the backslashes
// and quotes before it have been dealt with. \x83\x5C is one character.
TEST(SplitCommandLineTest, LeadByteAndItsSecondByteAreOneCharacter) {
  ExpectSplits(
      {
          {"p \"\x83\\\" b", {"p", "\x83\\", "b"}},
          {"p \"\x83\\\\\" b\"", {"p", "\x83\\\" b"}},
          {"p \"\x83\\\\\\\" b", {"p", "\x83\\\\", "b"}},
          {"p \\\x83\\\"", {"p", "\\\x83\\"}},
          {"p \x83\" b\"", {"p", "\x83\"", "b"}},
          {"p \x83 b", {"p", "\x83 b"}},
          {"\"C:\\\x83\"\" x", {"C:\\\x83\"", "x"}},
          // Bytes below 0x81 lead nothing: 0x5C after them is a backslash.
          {"p \"a\\\" b", {"p", "a\" b"}},
          // A lead byte before the terminator stands alone.
          {"p \"\x83", {"p", "\x83"}},
          {"p\x83", {"p\x83"}},
      },
      932);
}

}  // namespace
}  // namespace platform

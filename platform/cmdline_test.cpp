#include "platform/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

struct SplitCase {
  const char* line;
  std::vector<std::string> items;
};

void ExpectSplits(const std::vector<SplitCase>& cases) {
  for (const SplitCase& c : cases) {
    EXPECT_EQ(c.items, SplitCommandLine(c.line)) << "line: " << c.line;
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

}  // namespace
}  // namespace platform

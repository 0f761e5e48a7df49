#include "platform/cmdline.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name: quotes toggle, nothing is escaped, and it ends at the
// first blank outside quotes.
const char* ParseProgramName(const char* p, std::string* name) {
  bool in_quotes = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"') {
      in_quotes = !in_quotes;
      continue;
    }
    if (!in_quotes && IsBlank(*p)) break;
    name->push_back(*p);
  }
  return p;
}

// One argument after the program name.
const char* ParseArgument(const char* p, std::string* arg) {
  bool in_quotes = false;
  for (;;) {
    std::size_t backslashes = 0;
    while (*p == '\\') {
      ++p;
      ++backslashes;
    }
    bool copy = true;
    if (*p == '"') {
      if (backslashes % 2 == 0) {
        if (in_quotes && p[1] == '"') {
          ++p;  // "" inside a quoted run: one literal quote, still quoted
        } else {
          copy = false;
          in_quotes = !in_quotes;
        }
      }
      backslashes /= 2;
    }
    arg->append(backslashes, '\\');
    if (*p == '\0' || (!in_quotes && IsBlank(*p))) return p;
    if (copy) arg->push_back(*p);
    ++p;
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* line) {
  std::vector<std::string> items;
  items.emplace_back();
  const char* p = ParseProgramName(line, &items.back());
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') break;
    items.emplace_back();
    p = ParseArgument(p, &items.back());
  }
  return items;
}

}  // namespace platform

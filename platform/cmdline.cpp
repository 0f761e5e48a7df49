#include "platform/cmdline.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Appends the character at `p` and gives the position of its last byte. The
// C runtime takes a lead byte's second byte even when it is the terminator
// and reads on past it; here the lead byte then stands alone.
const char* CopyCharacter(const char* p, const CodePage& code_page,
                          std::string* item) {
  const char* next = NextCharacter(code_page, p);
  item->append(p, next);
  return next - 1;
}

// The program name: quotes toggle, nothing is escaped, and it ends at the
// first blank outside quotes.
const char* ParseProgramName(const char* p, const CodePage& code_page,
                             std::string* name) {
  bool in_quotes = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"') {
      in_quotes = !in_quotes;
      continue;
    }
    if (!in_quotes && IsBlank(*p)) break;
    p = CopyCharacter(p, code_page, name);
  }
  return p;
}

// One argument after the program name.
const char* ParseArgument(const char* p, const CodePage& code_page,
                          std::string* arg) {
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
    if (copy) p = CopyCharacter(p, code_page, arg);
    ++p;
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* line,
                                          const CodePage& code_page) {
  std::vector<std::string> items;
  items.emplace_back();
  const char* p = ParseProgramName(line, code_page, &items.back());
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') break;
    items.emplace_back();
    p = ParseArgument(p, code_page, &items.back());
  }
  return items;
}

}  // namespace platform

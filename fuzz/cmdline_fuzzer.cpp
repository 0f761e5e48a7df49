// The command-line splitter: any line splits without harm and its items,
// quoted again, split back to themselves; and items quoted the way a caller
// of CreateProcess must quote them come back exactly.
//
// Input: the first byte chooses how items are joined (bit 0: blanks between
// items are a run of spaces and tabs instead of one space; bit 1: items that
// need no quotes are written bare) and how text is read (bit 2: in code page
// 932, where a lead byte and the byte after it are one character); the rest
// is both a whole command line and, cut at its zero bytes, the items of one
// (program name first).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/cmdline.h"
#include "platform/testing/fakes.h"

namespace {

constexpr std::size_t kMaxItems = 16;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

using fuzz::EndsInLoneLeadByte;
using fuzz::Leads;

// Whether `text` holds a quote that is not a lead byte's second byte.
bool HoldsQuote(const platform::CodePage& code_page, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') return true;
    if (Leads(code_page, text[i])) ++i;
  }
  return false;
}

// One argument for the C runtime: backslashes doubled where a quote follows
// (an escaped quote or the closing one), every quote escaped, a lead byte's
// second byte left as it is, and the whole in quotes unless `bare` is
// allowed and nothing in it needs them.
std::string QuoteArgument(const std::string& argument, bool bare,
                          const platform::CodePage& code_page) {
  bool needs_quotes = argument.empty();
  for (char c : argument) needs_quotes |= IsBlank(c) || c == '"';
  const bool quoted = needs_quotes || !bare;
  std::string out;
  if (quoted) out.push_back('"');
  std::size_t backslashes = 0;
  for (std::size_t i = 0; i < argument.size(); ++i) {
    const char c = argument[i];
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = 2 * backslashes + 1;
    out.append(backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
    if (Leads(code_page, c) && i + 1 < argument.size())
      out.push_back(argument[++i]);
  }
  out.append(quoted ? 2 * backslashes : backslashes, '\\');
  if (quoted) out.push_back('"');
  return out;
}

// The program name has no escapes: it is simply put in quotes, which is
// right for any name without a quote of its own.
std::string Join(const std::vector<std::string>& items, bool bare,
                 const std::string& blanks,
                 const platform::CodePage& code_page) {
  std::string line = "\"" + items[0] + "\"";
  for (std::size_t i = 1; i < items.size(); ++i)
    line += blanks + QuoteArgument(items[i], bare, code_page);
  return line;
}

// Invariants of any split: a program name always, without quotes (they only
// toggle), and no argument that a blank would have ended outside quotes.
void CheckAnyLine(const std::string& line,
                  const platform::CodePage& code_page) {
  const std::vector<std::string> items =
      platform::SplitCommandLine(line.c_str(), code_page);
  FUZZ_CHECK(!items.empty());
  FUZZ_CHECK(!HoldsQuote(code_page, items[0]));
  std::size_t total = 0;
  bool whole = true;
  for (const std::string& item : items) {
    total += item.size();
    whole &= !EndsInLoneLeadByte(code_page, item);
  }
  FUZZ_CHECK(total <= line.size());
  // Splitting is stable: the items, quoted again, split to themselves. A
  // lead byte left alone by the line's end would take the closing quote.
  if (whole) {
    FUZZ_CHECK(platform::SplitCommandLine(
                   Join(items, false, " ", code_page).c_str(), code_page) ==
               items);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const bool blank_runs = (data[0] & 1) != 0;
  const bool bare = (data[0] & 2) != 0;
  platform_test::FakeCodePage code_page;
  if ((data[0] & 4) != 0) code_page.number = 932;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);

  CheckAnyLine(fuzz::CString(rest), code_page);

  std::vector<std::string> items(1);
  for (char c : rest) {
    if (c != '\0') {
      items.back().push_back(c);
    } else if (items.size() < kMaxItems) {
      items.emplace_back();
    }
  }
  std::string& program = items[0];
  program.erase(std::remove(program.begin(), program.end(), '"'),
                program.end());
  // No item can end in a lone lead byte: the quote or blank after it would
  // become its second byte.
  for (std::string& item : items)
    if (EndsInLoneLeadByte(code_page, item)) item.pop_back();
  const std::string blanks = blank_runs ? " \t  \t" : " ";
  const std::string line = Join(items, bare, blanks, code_page);
  FUZZ_CHECK(platform::SplitCommandLine(line.c_str(), code_page) == items);
  return 0;
}

// gorvanel's argument checks and command line over the recording fakes:
// whatever the arguments and the registry hold, it ends with 0 or 1, prints
// one of its own messages or nothing, and starts at most one child, whose
// command line is the one a plain model builds: every item escaped, so that
// the C runtime's split gives it back as it was given, on both systems and
// in a double-byte code page, and refused where escaping would take it past
// its limit.
//
// Input: three bytes, then fields separated by 0x1E:
//   byte 0  bits 0-3: optPathName, etcPathName, varPathName (provider key),
//           jrePathName (site key) present; bit 4: the user is no
//           administrator; bit 5: the child cannot be created; bit 6: Linux
//           paths; bit 7: code page 932 (else 1252)
//   byte 1  bits 0-3: the value's bytes get a terminator
//   byte 2  the child's exit code (0xFE: 0x80000000, 0xFF: 0xFFFFFFFF)
//   fields  the four values' bytes, then argv[0] and the arguments (at most
//           ten entries in all; none at all when the fields end before)
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "gorvanel/entry.h"
#include "platform/cmdline.h"
#include "platform/path_style.h"
#include "platform/testing/fake_processes.h"
#include "platform/testing/fake_registry.h"
#include "platform/testing/fake_security.h"
#include "platform/testing/fakes.h"
#include "platform/testing/gorvanel_keys.h"

namespace {

constexpr const char* kValueNames[] = {"optPathName", "etcPathName",
                                       "varPathName", "jrePathName"};
constexpr char kClassName[] = "com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd";
constexpr std::size_t kMaxArgv = 10;

constexpr char kUsage[] =
    "Usage: gorvanel <opt> [parameters....]\n"
    "  add information     : gorvanel -a <key> <parm1> [parm2] [parm3] "
    "[parm4]\n"
    "  show one information: gorvanel -l <key>\n"
    "  show all information: gorvanel -l\n"
    "  delete information  : gorvanel -d <key>\n";
constexpr char kAuthorityError[] = "pemra1001 user authority error\n";
constexpr char kParameterError[] = "pemra1004 parameter error\n";
constexpr char kExecutionFailed[] = "pemra1007 command execution is failed (";

enum Value { kOpt, kEtc, kVar, kJre };

struct Case {
  bool present[4] = {};
  std::string value[4];
  bool refused = false;
  bool creation_fails = false;
  bool posix = false;
  unsigned code_page = 1252;
  platform::DWORD exit_code = 0;
  std::vector<std::string> argv;  // C strings: no zero bytes
};

Case ReadCase(const std::uint8_t* data, std::size_t size) {
  Case c;
  for (int i = 0; i < 4; ++i) c.present[i] = (data[0] >> i) & 1;
  c.refused = (data[0] >> 4) & 1;
  c.creation_fails = (data[0] >> 5) & 1;
  c.posix = (data[0] >> 6) & 1;
  c.code_page = (data[0] >> 7) & 1 ? 932 : 1252;
  c.exit_code = data[2] == 0xFF   ? 0xFFFFFFFFu
                : data[2] == 0xFE ? 0x80000000u
                                  : data[2];
  const std::vector<std::string> fields = fuzz::SplitFields(data + 3, size - 3);
  for (std::size_t i = 0; i < 4 && i < fields.size(); ++i) {
    c.value[i] = fields[i];
    if ((data[1] >> i) & 1) c.value[i].push_back('\0');
  }
  for (std::size_t i = 4; i < fields.size() && c.argv.size() < kMaxArgv; ++i)
    c.argv.push_back(fuzz::CString(fields[i]));
  return c;
}

// --- The model -------------------------------------------------------------

// A 260-byte field that starts zeroed: a value that fits is copied in, and
// counts when the field then holds a terminator and text before it.
std::string Field(const Case& c, const platform::CodePage& code_page,
                  Value which) {
  const std::string& bytes = c.value[which];
  if (!c.present[which] || bytes.size() > 260) return "";
  if (bytes.size() == 260 && bytes.find('\0') == std::string::npos) return "";
  // A quote, carriage return or line feed would change the line's split, and
  // so would a lone lead byte at the end.
  const std::string text = fuzz::CString(bytes);
  if (fuzz::EndsInLoneLeadByte(code_page, text)) return "";
  return text.find_first_of("\"\r\n") == std::string::npos ? text : "";
}

// The command line's limit, its buffer's less the terminator.
constexpr std::size_t kLineLimit = 3879;

struct Expected {
  int status = 1;
  std::string output;
  bool starts = false;
  std::vector<std::string> items;  // the Java program first
  std::string line;
};

// An item as the C runtime's split gives it back: each quote escaped, the
// backslashes before a quote or the item's end doubled, a lead byte's
// second byte left as it is.
std::string Escaped(const std::string& text,
                    const platform::CodePage& code_page) {
  std::string out;
  std::size_t backslashes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    out.push_back(c);
    if (fuzz::Leads(code_page, c) && i + 1 < text.size())
      out.push_back(text[++i]);
    backslashes = 0;
  }
  out.append(2 * backslashes, '\\');
  return out;
}

std::string Cut(const std::string& text, std::size_t limit) {
  return text.substr(0, limit);
}

Expected Model(const Case& c, const platform::CodePage& code_page) {
  Expected e;
  const int argc = static_cast<int>(c.argv.size());
  if (c.refused) {
    e.output = kAuthorityError;
    return e;
  }
  if (argc <= 1) {
    e.output = kUsage;
    return e;
  }
  if (argc > 7) {
    e.output = kParameterError;
    return e;
  }
  const std::string sep(1, c.posix ? '/' : '\\');
  std::string opt = Field(c, code_page, kOpt);
  const std::string jar = opt + sep + "java" + sep + "archive" + sep +
                          "gorvanel.jar";
  if (jar.size() >= 260) opt.clear();
  const std::string directories[] = {opt, Field(c, code_page, kEtc),
                                     Field(c, code_page, kVar),
                                     Field(c, code_page, kJre)};
  for (int i = 0; i < 4; ++i) {
    if (directories[i].empty()) {
      e.output = std::string(kExecutionFailed) + "internal error EXE00" +
                 char('1' + i) + ")\n";
      return e;
    }
  }
  for (int k = 1; k < argc; ++k) {
    if (c.argv[k].size() > 255 ||
        fuzz::EndsInLoneLeadByte(code_page, c.argv[k])) {
      e.output = kParameterError;
      return e;
    }
  }
  e.items = {directories[kJre] + sep + "bin" + sep + "java" +
                 (c.posix ? "" : ".exe"),
             Cut("-Dqrvex.optdir=" + opt, 519),
             Cut("-Dqrvex.etcdir=" + directories[kEtc] + sep + "etc", 519),
             Cut("-Dqrvex.vardir=" + directories[kVar] + sep + "var", 519),
             "-classpath",
             jar,
             kClassName};
  e.items.insert(e.items.end(), c.argv.begin() + 1, c.argv.end());
  // The Java program's path holds no quote and ends with no backslash: it
  // is the one item written as it is.
  e.line = "\"" + e.items[0] + "\"";
  for (std::size_t i = 1; i < e.items.size(); ++i)
    e.line += " \"" + Escaped(e.items[i], code_page) + "\"";
  if (e.line.size() > kLineLimit) {
    e.output = kParameterError;
    return e;
  }
  e.starts = true;
  if (c.creation_fails) {
    e.output = std::string(kExecutionFailed) + "internal error EXE005)\n";
    return e;
  }
  if (c.exit_code <= 1) {
    e.status = static_cast<int>(c.exit_code);
    return e;
  }
  e.output = std::string(kExecutionFailed) + "internal error EXE006:" +
             std::to_string(static_cast<std::int32_t>(c.exit_code)) + ")\n";
  return e;
}

// --- The run -----------------------------------------------------------------

// Whether `output` is one of gorvanel's own texts, or nothing.
bool IsKnownOutput(const std::string& output) {
  if (output.empty() || output == kUsage || output == kAuthorityError ||
      output == kParameterError)
    return true;
  const std::string prefix = std::string(kExecutionFailed) + "internal error EXE00";
  if (output.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = output.substr(prefix.size());
  if (rest.size() == 3 && rest[0] >= '1' && rest[0] <= '5') return rest.substr(1) == ")\n";
  if (rest.compare(0, 2, "6:") != 0 || rest.size() < 5) return false;
  const std::string number = rest.substr(2, rest.size() - 4);
  const std::size_t digits = number[0] == '-' ? 1 : 0;
  return rest.substr(rest.size() - 2) == ")\n" && number.size() > digits &&
         number.find_first_not_of("0123456789", digits) == std::string::npos;
}

// What must hold of a child's command line whatever the model says: it
// fits, and the split gives every item back.
void CheckLine(const Expected& e, const platform::CodePage& code_page,
               const std::string& line) {
  FUZZ_CHECK(line.size() <= kLineLimit);
  FUZZ_CHECK(platform::SplitCommandLine(line.c_str(), code_page) == e.items);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 3) return 0;
  const Case c = ReadCase(data, size);

  platform_test::FakeRegistry registry;
  for (int i = 0; i < 4; ++i) {
    if (!c.present[i]) continue;
    const char* key =
        i == kJre ? gorvanel_test::kSite : gorvanel_test::kProvider;
    registry.keys[key][kValueNames[i]] = c.value[i];
  }
  platform_test::Log log;
  platform_test::FakeProcesses processes(&log);
  processes.create_result = c.creation_fails ? 0 : 1;
  processes.exit_code = c.exit_code;
  platform_test::FakeSecurity security;
  security.groups = {c.refused ? "Users" : "Administrators"};
  platform_test::FakeHeap heap;
  platform_test::FakeConsole console;
  platform_test::FakeCodePage code_page;
  code_page.number = c.code_page;

  std::vector<const char*> argv;
  for (const std::string& argument : c.argv) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  const gorvanel::Platform p{registry,
                             processes,
                             security,
                             heap,
                             console,
                             c.posix ? platform::kPosixPaths
                                     : platform::kWindowsPaths,
                             code_page};
  const int status =
      gorvanel::RunGorvanel(p, static_cast<int>(c.argv.size()), argv.data());

  FUZZ_CHECK(status == 0 || status == 1);
  FUZZ_CHECK(IsKnownOutput(console.output));
  FUZZ_CHECK(registry.open_keys == 0);
  FUZZ_CHECK(security.held == 0 && heap.held.empty());
  const Expected e = Model(c, code_page);
  FUZZ_CHECK(status == e.status);
  FUZZ_CHECK(console.output == e.output);
  FUZZ_CHECK(processes.lines.size() == (e.starts ? 1u : 0u));
  if (processes.lines.empty()) return 0;
  FUZZ_CHECK(processes.lines[0] == e.line);
  CheckLine(e, code_page, processes.lines[0]);
  return 0;
}

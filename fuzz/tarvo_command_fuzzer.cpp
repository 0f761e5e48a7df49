// tarvo's command assembly over the recording fakes: whatever the registry,
// tarvo.ini and the operator's arguments hold, the launcher either ends
// with 1 having run nothing or runs one command line that is the one a
// plain model builds, fits its 8191 characters and hands the Java VM the
// operator's arguments exactly.
//
// Input: three bytes, then fields separated by 0x1E:
//   byte 0  bits 0-3: optPathName, etcPathName, varPathName, jrePathName
//           present; bit 4: tarvo.ini present; bit 5: Linux paths;
//           bit 6: nfport defined; bit 7: tovrexm defined
//   byte 1  bits 0-3: the value's bytes get a terminator; bit 4: no argv
//           at all; bit 5: code page 932 (else 1252)
//   byte 2  the interpreter's status, signed
//   fields  optPathName, etcPathName, varPathName, jrePathName (the bytes
//           of the value), tarvo.ini (as text mode delivers it), argv[0],
//           then the operator's arguments
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/ini_model.h"
#include "platform/cmdline.h"
#include "platform/path_style.h"
#include "platform/testing/fake_registry.h"
#include "platform/testing/fakes.h"
#include "tarvo/launcher.h"

namespace {

constexpr char kSiteKey[] =
    "SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion";
constexpr const char* kValueNames[] = {"optPathName", "etcPathName",
                                       "varPathName", "jrePathName"};
constexpr char kClassName[] =
    "com.talvane.vantrel.pennimark.san.manager.cli.tarvo.Tarvo";
constexpr std::size_t kMaxArguments = 40;
constexpr platform::WORD kNfport = 40123;
constexpr platform::WORD kTovrexm = 20001;

enum Value { kOpt, kEtc, kVar, kJre };

struct Case {
  bool present[4] = {};
  std::string value[4];
  bool has_ini = false;
  std::string ini;
  bool posix = false;
  bool nfport = false;
  bool tovrexm = false;
  int status = 0;
  bool has_argv = true;
  unsigned code_page = 1252;
  std::vector<std::string> argv;  // C strings: no zero bytes
};

Case ReadCase(const std::uint8_t* data, std::size_t size) {
  Case c;
  const std::uint8_t flags = data[0];
  const std::uint8_t terminators = data[1];
  for (int i = 0; i < 4; ++i) c.present[i] = (flags >> i) & 1;
  c.has_ini = (flags >> 4) & 1;
  c.posix = (flags >> 5) & 1;
  c.nfport = (flags >> 6) & 1;
  c.tovrexm = (flags >> 7) & 1;
  c.has_argv = ((terminators >> 4) & 1) == 0;
  c.code_page = (terminators >> 5) & 1 ? 932 : 1252;
  c.status = static_cast<std::int8_t>(data[2]);

  std::vector<std::string> fields = fuzz::SplitFields(data + 3, size - 3);
  fields.resize(std::max<std::size_t>(fields.size(), 6));
  for (int i = 0; i < 4; ++i) {
    c.value[i] = fields[i];
    if ((terminators >> i) & 1) c.value[i].push_back('\0');
  }
  c.ini = fields[4];
  if (c.has_argv) {
    for (std::size_t i = 5; i < fields.size() && c.argv.size() <= kMaxArguments;
         ++i)
      c.argv.push_back(fuzz::CString(fields[i]));
  }
  return c;
}

// --- The model -------------------------------------------------------------

// The settings lookup: a value that fits the 260-byte window and holds 1 to
// 259 characters before its first zero byte (or the window's end).
bool Setting(const Case& c, Value which, std::string* text) {
  if (!c.present[which] || c.value[which].size() > 260) return false;
  *text = fuzz::CString(c.value[which]);
  return !text->empty() && text->size() < 260;
}

// A directory for the command line: a setting that holds no double quote
// and no line feed, which would break the line's quoting.
bool Quotable(const std::string& directory) {
  return directory.find_first_of("\"\n") == std::string::npos;
}

bool Directory(const Case& c, Value which, std::string* text) {
  return Setting(c, which, text) && Quotable(*text);
}

// The parts with a separator between each two.
std::string Joined(char sep, std::initializer_list<const char*> parts) {
  std::string path;
  bool first = true;
  for (const char* part : parts) {
    if (!first) path.push_back(sep);
    path += part;
    first = false;
  }
  return path;
}

// Beside the program: up to its name's last separator, read from the start
// (a lead byte's second byte is never one).
std::string IniPath(const Case& c, char sep,
                    const platform::CodePage& code_page) {
  const std::string program = c.argv.empty() ? "" : c.argv[0];
  std::size_t directory = 0;
  for (std::size_t i = 0; i < program.size(); ++i) {
    if (program[i] == sep) directory = i + 1;
    if (fuzz::Leads(code_page, program[i]) && i + 1 < program.size()) ++i;
  }
  return program.substr(0, directory) + "tarvo.ini";
}

struct Expected {
  bool runs = false;
  std::string runtime;              // the Java runtime directory
  std::vector<std::string> items;   // as the Java VM is to see them
  std::string line;
};

// The backslashes that end `argument`, a lead byte's second byte being
// none.
std::string TrailingBackslashes(const std::string& argument,
                                const platform::CodePage& code_page) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < argument.size(); ++i) {
    if (argument[i] == '\\') continue;
    if (fuzz::Leads(code_page, argument[i])) ++i;
    start = i + 1;
  }
  return argument.substr(std::min(start, argument.size()));
}

Expected Model(const Case& c, const platform::CodePage& code_page) {
  Expected e;
  for (std::size_t i = 1; i < c.argv.size(); ++i) {
    if (c.argv[i].find_first_of("\"\r\n") != std::string::npos ||
        fuzz::EndsInLoneLeadByte(code_page, c.argv[i]))
      return e;
  }
  std::string opt, etc, var;
  if (!Directory(c, kOpt, &opt) || !Directory(c, kVar, &var) ||
      !Directory(c, kEtc, &etc))
    return e;
  const char sep = c.posix ? '/' : '\\';
  const std::string package = opt + sep + "KVXPdkmgr";
  const std::string library = package + sep + "lib";
  const std::string etc_current = Joined(sep, {"", "opt", "KVXPdkmgr", "current"});
  const std::string options[] = {
      "-Djava.library.path=\"" + library + "\"",
      "-Dpellucor.optdir=\"" + package + "\"",
      "-Dpellucor.etcdir=\"" + etc + etc_current + "\"",
      "-Dpellucor.vardir=\"" + var + etc_current + "\"",
  };
  for (int i = 1; i < 4; ++i)
    if (options[i].size() > 283) return e;

  const std::string ini_path = IniPath(c, sep, code_page);
  if (c.has_ini && ini_path.size() <= 259) {
    e.runtime = fuzz::IniValue(fuzz::FirstIniLine(c.ini));
    if (!Quotable(e.runtime)) return e;
  } else if (!Directory(c, kJre, &e.runtime)) {
    return e;
  }
  const std::string java = e.runtime + Joined(sep, {"", "bin", "java"});
  if (java.size() + 1 > 259) return e;

  const std::string rmiport =
      "-Dpellucor.rmiport=" + std::to_string(c.tovrexm ? kTovrexm : 0);
  const std::string nfport =
      "-Dpellucor.nfport=" + std::to_string(c.nfport ? kNfport : 23456);
  e.line = "\"\"" + java + "\"";
  for (const std::string& element :
       {options[0], options[1], options[2], options[3], rmiport, nfport,
        std::string(kClassName)})
    e.line += " " + element;
  for (std::size_t i = 1; i < c.argv.size(); ++i)
    e.line += " \"" + c.argv[i] + TrailingBackslashes(c.argv[i], code_page) +
              "\"";
  e.line += "\"";
  if (e.line.size() > 8191) return e;

  e.runs = true;
  e.items = {java,
             "-Djava.library.path=" + library,
             "-Dpellucor.optdir=" + package,
             "-Dpellucor.etcdir=" + etc + etc_current,
             "-Dpellucor.vardir=" + var + etc_current,
             rmiport,
             nfport,
             kClassName};
  e.items.insert(e.items.end(), c.argv.begin() + (c.argv.empty() ? 0 : 1),
                 c.argv.end());
  return e;
}

// --- The run -----------------------------------------------------------------

bool Holds(const std::string& text, const char* characters) {
  return text.find_first_of(characters) != std::string::npos;
}

// What must hold of any command line the launcher runs, whatever the model
// says: its limit, its outer quotes, no value that could break the quoting,
// and the Java VM's split giving the elements and arguments back.
void CheckLine(const Case& c, const platform::CodePage& code_page,
               const Expected& e, const std::string& line) {
  FUZZ_CHECK(line.size() <= 8191);
  FUZZ_CHECK(line.compare(0, 2, "\"\"") == 0);
  FUZZ_CHECK(line.size() >= 3 && line.back() == '"');
  std::string opt, etc, var;
  Setting(c, kOpt, &opt);
  Setting(c, kEtc, &etc);
  Setting(c, kVar, &var);
  const std::string directories = opt + etc + var + e.runtime;
  FUZZ_CHECK(!Holds(directories, "\"\n"));
  if (!Holds(directories, "\r")) FUZZ_CHECK(!Holds(line, "\r\n"));
  // The interpreter drops the first and the last quote.
  const std::string inner = line.substr(1, line.size() - 2);
  const std::vector<std::string> items =
      platform::SplitCommandLine(inner.c_str(), code_page);
  FUZZ_CHECK(items == e.items);
  FUZZ_CHECK(items.size() == 8 + (c.argv.empty() ? 0 : c.argv.size() - 1));
  for (std::size_t i = 1; i < c.argv.size(); ++i)
    FUZZ_CHECK(items[7 + i] == c.argv[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 3) return 0;
  const Case c = ReadCase(data, size);

  platform_test::FakeRegistry registry;
  platform_test::FakeSockets sockets;
  platform_test::FakeEnvironment environment;
  platform_test::FakeTextFiles files;
  platform_test::FakeInterpreter interpreter;
  platform_test::FakeCodePage code_page;
  code_page.number = c.code_page;
  for (int i = 0; i < 4; ++i)
    if (c.present[i]) registry.keys[kSiteKey][kValueNames[i]] = c.value[i];
  if (c.nfport) sockets.Define("nfport", "tcp", kNfport);
  if (c.tovrexm) sockets.Define("tovrexm", "tcp", kTovrexm);
  const char sep = c.posix ? '/' : '\\';
  if (c.has_ini) files.files[IniPath(c, sep, code_page)] = c.ini;
  interpreter.status = c.status;

  std::vector<const char*> argv;
  for (const std::string& argument : c.argv) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  const tarvo::Platform p{registry,
                          sockets,
                          environment,
                          files,
                          interpreter,
                          c.posix ? platform::kPosixPaths
                                  : platform::kWindowsPaths,
                          code_page};
  const int status =
      tarvo::RunLauncher(p, static_cast<int>(c.argv.size()), argv.data());

  const Expected e = Model(c, code_page);
  FUZZ_CHECK(interpreter.lines.size() == (e.runs ? 1u : 0u));
  FUZZ_CHECK(registry.open_keys == 0);
  FUZZ_CHECK(files.open_streams == 0);
  if (!e.runs) {
    FUZZ_CHECK(status == 1);
    return 0;
  }
  FUZZ_CHECK(status == c.status);
  FUZZ_CHECK(interpreter.lines[0] == e.line);
  CheckLine(c, code_page, e, interpreter.lines[0]);
  return 0;
}

#include "gorvanel/execution.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

#include "gorvanel/path_cache.h"

namespace gorvanel {
namespace {

// Capacities, terminators included: each is a limit the operator sees.
constexpr std::size_t kOptionSize = 520;  // each -Dqrvex option, java's path
constexpr std::size_t kArgumentSlotSize = 520;  // an argument's copy
constexpr std::size_t kClasspathSize = 262860;  // the classpath's copy
constexpr std::size_t kCommandLineSize = 3880;  // the whole command line
constexpr int kVectorSize = 260;  // the command's items

constexpr int kMaxUserArguments = 6;
constexpr std::size_t kMaxArgumentLength = 255;  // longer ones are refused
constexpr int kFirstUserEntry = 7;
constexpr platform::UINT kTerminateExitCode = 1;

const char kProgramName[] = "gorvanel.exe";
const char kClassName[] = "com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd";

// The child's records live as long as the process; the classpath is too
// large for the stack.
char g_classpath[kClasspathSize];
platform::ProcessInformation g_process_information;

// Appends `text`, cut to the room left so that the terminator still fits.
void Append(char* buffer, std::size_t capacity, const char* text) {
  std::size_t used = std::strlen(buffer);
  while (used + 1 < capacity && *text != '\0') buffer[used++] = *text++;
  buffer[used] = '\0';
}

void Copy(char* buffer, std::size_t capacity, const char* text) {
  buffer[0] = '\0';
  Append(buffer, capacity, text);
}

void ReportFailure(platform::Console& console, const char* code_text) {
  char message[96];
  std::snprintf(message, sizeof(message),
                "pemra1007 command execution is failed (%s)\n", code_text);
  console.Write(message);
}

// The code text of the first directory that is missing, null when all four
// are known. Stops at the first, so later values are not read.
const char* MissingDirectory(PathCache& cache) {
  if (cache.InstallationDirectory()[0] == '\0') return "internal error EXE001";
  if (cache.ConfigurationDirectory()[0] == '\0') return "internal error EXE002";
  if (cache.VariableDataDirectory()[0] == '\0') return "internal error EXE003";
  if (cache.JavaRuntimeDirectory()[0] == '\0') return "internal error EXE004";
  return nullptr;
}

// "<prefix><directory><suffix>", each piece cut to the room left.
void BuildOption(char (&option)[kOptionSize], const char* prefix,
                 const char* directory, const char* suffix) {
  Copy(option, sizeof(option), prefix);
  Append(option, sizeof(option), directory);
  Append(option, sizeof(option), suffix);
}

// Calls `put` with each byte of `text` as it must stand between double
// quotes for the C runtime's split to give it back: a quote gets a
// backslash, and the backslashes before a quote or the closing quote are
// doubled. A lead byte's second byte is never a backslash.
template <typename Put>
void EscapeQuoted(const char* text, const platform::CodePage& code_page,
                  Put put) {
  std::size_t backslashes = 0;
  for (const char* p = text;; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    const bool before_quote = *p == '"' || *p == '\0';
    for (std::size_t i = 0; i < (before_quote ? 2 : 1) * backslashes; ++i)
      put('\\');
    backslashes = 0;
    if (*p == '\0') return;
    if (*p == '"') put('\\');
    if (platform::NextCharacter(code_page, p) == p + 2) put(*p++);
    put(*p);
  }
}

std::size_t EscapedLength(const char* text,
                          const platform::CodePage& code_page) {
  std::size_t length = 0;
  EscapeQuoted(text, code_page, [&length](char) { ++length; });
  return length;
}

// Appends `text` in double quotes, escaped, cut to the room left (the
// line's length is checked first, so nothing is cut).
void AppendQuoted(char* buffer, std::size_t capacity, const char* text,
                  const platform::CodePage& code_page) {
  std::size_t used = std::strlen(buffer);
  auto put = [&](char c) {
    if (used + 1 < capacity) buffer[used++] = c;
  };
  put('"');
  EscapeQuoted(text, code_page, put);
  put('"');
  buffer[used] = '\0';
}

// The Java program's path, written as it is: the program name is split by
// a rule of its own (quotes toggle, backslashes are plain).
void JavaProgram(char (&java)[kOptionSize], const char* java_runtime,
                 const platform::PathStyle& paths) {
  const char bin[] = {paths.separator, 'b', 'i', 'n', paths.separator, '\0'};
  Copy(java, sizeof(java), java_runtime);
  Append(java, sizeof(java), bin);
  Append(java, sizeof(java), "java");
  Append(java, sizeof(java), paths.program_suffix);
}

// The length of the line BuildCommandLine writes, counted without a buffer.
std::size_t CommandLineLength(const char* java, const char* const* vector,
                              int count, const platform::CodePage& code_page) {
  std::size_t length = std::strlen(java) + 2;
  for (int i = 1; i < count; ++i)
    length += 3 + EscapedLength(vector[i], code_page);
  return length;
}

// The Java program, then every item after the program's name, in double
// quotes and escaped so that the Java VM's split gives each back.
void BuildCommandLine(char* line, std::size_t capacity, const char* java,
                      const char* const* vector, int count,
                      const platform::CodePage& code_page) {
  Append(line, capacity, "\"");
  Append(line, capacity, java);
  Append(line, capacity, "\"");
  for (int i = 1; i < count; ++i) {
    Append(line, capacity, " ");
    AppendQuoted(line, capacity, vector[i], code_page);
  }
}

// Waits for the child without a time limit, takes its exit code and closes
// its handles. The forced end guards against a wait that returned early.
platform::DWORD WaitForExitCode(platform::Processes& processes) {
  platform::DWORD exit_code = 1;  // stands if the code cannot be read
  processes.WaitForSingleObject(g_process_information.hProcess,
                                platform::kInfinite);
  processes.GetExitCodeProcess(g_process_information.hProcess, &exit_code);
  processes.TerminateProcess(g_process_information.hProcess,
                             kTerminateExitCode);
  processes.CloseHandle(g_process_information.hThread);
  processes.CloseHandle(g_process_information.hProcess);
  return exit_code;
}

// The command line in a new heap buffer; null, with "pemra1004" printed,
// for an argument too long or ending in a lone lead byte, or a line that
// would not fit.
std::unique_ptr<char[]> NewCommandLine(
    PathCache& cache, platform::Console& console,
    const platform::PathStyle& paths, const platform::CodePage& code_page,
    int argc, const char* const* argv) {
  const char etc_suffix[] = {paths.separator, 'e', 't', 'c', '\0'};
  const char var_suffix[] = {paths.separator, 'v', 'a', 'r', '\0'};
  char optdir[kOptionSize];
  char etcdir[kOptionSize];
  char vardir[kOptionSize];
  BuildOption(optdir, "-Dqrvex.optdir=", cache.InstallationDirectory(), "");
  BuildOption(etcdir, "-Dqrvex.etcdir=", cache.ConfigurationDirectory(),
              etc_suffix);
  BuildOption(vardir, "-Dqrvex.vardir=", cache.VariableDataDirectory(),
              var_suffix);

  const char* vector[kVectorSize] = {};
  vector[0] = kProgramName;
  vector[1] = optdir;
  vector[2] = etcdir;
  vector[3] = vardir;
  vector[4] = "-classpath";
  vector[5] = g_classpath;
  vector[6] = kClassName;
  int count = kFirstUserEntry;

  char slots[kMaxUserArguments][kArgumentSlotSize];
  for (int k = 1; k <= kMaxUserArguments && k < argc; ++k) {
    if (std::strlen(argv[k]) > kMaxArgumentLength ||
        platform::EndsInLoneLeadByte(code_page, argv[k])) {
      console.Write("pemra1004 parameter error\n");
      return nullptr;
    }
    char* slot = slots[k - 1];
    Copy(slot, kArgumentSlotSize, argv[k]);
    vector[count++] = slot;
  }

  // Escaping lengthens items that hold quotes or end with backslashes: a
  // line that would not fit is refused, never cut.
  char java[kOptionSize];
  JavaProgram(java, cache.JavaRuntimeDirectory(), paths);
  if (CommandLineLength(java, vector, count, code_page) >= kCommandLineSize) {
    console.Write("pemra1004 parameter error\n");
    return nullptr;
  }

  // A failed allocation throws, and nothing catches it: the process ends.
  std::unique_ptr<char[]> line(new char[kCommandLineSize]());
  BuildCommandLine(line.get(), kCommandLineSize, java, vector, count,
                   code_page);
  return line;
}

}  // namespace

int ExecuteJavaCommand(platform::Processes& processes,
                       platform::Console& console,
                       const platform::PathStyle& paths,
                       const platform::CodePage& code_page, int argc,
                       const char* const* argv) {
  PathCache& cache = *CurrentPathCache();
  if (const char* missing = MissingDirectory(cache)) {
    ReportFailure(console, missing);
    return 1;
  }
  Copy(g_classpath, sizeof(g_classpath), cache.JarPath());

  std::unique_ptr<char[]> line =
      NewCommandLine(cache, console, paths, code_page, argc, argv);
  if (line == nullptr) return 1;

  platform::StartupInfoA startup = {};
  startup.cb = sizeof(startup);  // 68 in the 32-bit program
  if (!processes.CreateProcessA(nullptr, line.get(), nullptr, nullptr, 0,
                                platform::kNormalPriorityClass, nullptr,
                                nullptr, &startup, &g_process_information)) {
    line.reset();
    ReportFailure(console, "internal error EXE005");
    return 1;
  }

  platform::DWORD exit_code = WaitForExitCode(processes);
  if (exit_code == 0 || exit_code == 1) return static_cast<int>(exit_code);
  char message[96];
  std::snprintf(message, sizeof(message),
                "pemra1007 command execution is failed (%s:%d)\n",
                "internal error EXE006", static_cast<int>(exit_code));
  console.Write(message);
  return 1;
}

}  // namespace gorvanel

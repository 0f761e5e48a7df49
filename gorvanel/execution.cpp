#include "gorvanel/execution.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

#include "gorvanel/path_cache.h"

namespace gorvanel {
namespace {

// Capacities, terminators included.
constexpr std::size_t kOptionSize = 520;
constexpr std::size_t kArgumentSlotSize = 520;
constexpr std::size_t kClasspathSize = 262860;
constexpr std::size_t kCommandLineSize = 3880;
// Escaping at most doubles a text: where items are escaped the line gets
// room for that, so that it is never cut.
constexpr std::size_t kEscapedCommandLineSize = 2 * kCommandLineSize;
constexpr int kVectorSize = 260;

constexpr int kMaxUserArguments = 6;
constexpr std::size_t kMaxArgumentLength = 255;
constexpr int kFirstUserEntry = 7;
constexpr platform::UINT kTerminateExitCode = 1;

const char kProgramName[] = "gorvanel.exe";
const char kClassName[] = "com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd";

// The child's records live as long as the process; the classpath buffer is
// far too large for the stack.
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

// Appends `text` escaped by the C runtime's rules, so that splitting gives
// it back: a quote gets a backslash, and the backslashes before a quote or
// the closing quote are doubled. Cut to the room left like any other piece.
void AppendEscaped(char* buffer, std::size_t capacity, const char* text) {
  std::size_t used = std::strlen(buffer);
  auto put = [&](char c) {
    if (used + 1 < capacity) buffer[used++] = c;
  };
  std::size_t backslashes = 0;
  for (const char* p = text;; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    bool before_quote = *p == '"' || *p == '\0';
    for (std::size_t i = 0; i < (before_quote ? 2 : 1) * backslashes; ++i)
      put('\\');
    backslashes = 0;
    if (*p == '\0') break;
    if (*p == '"') put('\\');
    put(*p);
  }
  buffer[used] = '\0';
}

// One item of the command line in double quotes: as it is on Windows, where
// the Java VM splits the line itself; escaped where the line is split here
// into the list the Java VM receives, so that the item arrives unchanged.
void AppendItem(char* line, std::size_t capacity,
                const platform::PathStyle& paths, const char* text) {
  Append(line, capacity, "\"");
  if (paths.escapes_quoted_items) {
    AppendEscaped(line, capacity, text);
  } else {
    Append(line, capacity, text);
  }
  Append(line, capacity, "\"");
}

// The Java executable first, then every entry after the program's name, each
// in double quotes.
void BuildCommandLine(char* line, std::size_t capacity,
                      const char* java_runtime,
                      const platform::PathStyle& paths,
                      const char* const* vector, int count) {
  char java[kOptionSize];
  std::snprintf(java, sizeof(java), "%s%cbin%cjava%s", java_runtime,
                paths.separator, paths.separator, paths.program_suffix);
  AppendItem(line, capacity, paths, java);
  for (int i = 1; i < count; ++i) {
    Append(line, capacity, " ");
    AppendItem(line, capacity, paths, vector[i]);
  }
}

// Waits for the child without a time limit and takes its exit code. The
// child has ended by then, so the forced end changes nothing; it is kept as
// a guard against a wait that returned early.
platform::DWORD WaitForChild(platform::Processes& processes) {
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

}  // namespace

int ExecuteJavaCommand(platform::Processes& processes,
                       platform::Console& console,
                       const platform::PathStyle& paths, int argc,
                       const char* const* argv) {
  PathCache& cache = *CurrentPathCache();
  if (const char* missing = MissingDirectory(cache)) {
    ReportFailure(console, missing);
    return 1;
  }
  Copy(g_classpath, sizeof(g_classpath), cache.JarPath());

  char etc_suffix[8];
  char var_suffix[8];
  std::snprintf(etc_suffix, sizeof(etc_suffix), "%cetc", paths.separator);
  std::snprintf(var_suffix, sizeof(var_suffix), "%cvar", paths.separator);
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
    if (std::strlen(argv[k]) > kMaxArgumentLength) {
      console.Write("pemra1004 parameter error\n");
      return 1;
    }
    char* slot = slots[k - 1];
    Copy(slot, kArgumentSlotSize, argv[k]);
    vector[count++] = slot;
  }

  platform::StartupInfoA startup = {};
  // 68 in the 32-bit program, more where pointers are wider.
  startup.cb = sizeof(startup);

  // A failed allocation throws, and nothing catches it: the process ends.
  const std::size_t capacity = paths.escapes_quoted_items
                                   ? kEscapedCommandLineSize
                                   : kCommandLineSize;
  std::unique_ptr<char[]> line(new char[capacity]());
  BuildCommandLine(line.get(), capacity, cache.JavaRuntimeDirectory(), paths,
                   vector, count);
  if (!processes.CreateProcessA(nullptr, line.get(), nullptr, nullptr, 0,
                                platform::kNormalPriorityClass, nullptr,
                                nullptr, &startup, &g_process_information)) {
    line.reset();
    ReportFailure(console, "internal error EXE005");
    return 1;
  }

  platform::DWORD exit_code = WaitForChild(processes);
  if (exit_code == 0 || exit_code == 1) return static_cast<int>(exit_code);
  char message[96];
  std::snprintf(message, sizeof(message),
                "pemra1007 command execution is failed (%s:%d)\n",
                "internal error EXE006", static_cast<int>(exit_code));
  console.Write(message);
  return 1;
}

}  // namespace gorvanel

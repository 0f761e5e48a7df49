// The command interpreter's stand-in: no shell is involved. It does with a
// line what the launcher relies on the Windows interpreter's /c to do, and
// runs the program the line names directly.
#include "platform/interpreter.h"

#include <errno.h>
#include <string.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/cmdline.h"
#include "platform/posix/internal.h"

namespace platform {
namespace {

// Exit statuses a shell gives for a program it cannot run.
constexpr int kCannotExecute = 126;
constexpr int kNotFound = 127;

// A line that begins with a double quote loses that quote and the last
// double quote of the line; the rest is run as it stands.
std::string StripOuterQuotes(const char* line) {
  while (*line == ' ' || *line == '\t') ++line;
  std::string rest(line);
  if (rest.empty() || rest[0] != '"') return rest;
  rest.erase(0, 1);
  std::string::size_type last = rest.rfind('"');
  if (last != std::string::npos) rest.erase(last, 1);
  return rest;
}

int ReportUnrunnable(const std::string& program, int error) {
  if (error == ENOENT || error == ENOTDIR) {
    std::fprintf(stderr, "%s: not found\n", program.c_str());
    return kNotFound;
  }
  std::fprintf(stderr, "%s: cannot execute: %s\n", program.c_str(),
               strerror(error));
  return kCannotExecute;
}

class SpawningInterpreter : public CommandInterpreter {
 public:
  int System(const char* command_line) override {
    // system(NULL) asks whether there is an interpreter at all.
    if (command_line == nullptr) return 1;
    std::vector<std::string> args = SplitCommandLine(
        StripOuterQuotes(command_line).c_str(), SystemCodePage());
    const std::string& program = args[0];
    pid_t pid;
    int error = SpawnChild(program.c_str(), args, ChildOptions(), &pid);
    if (error != 0) {
      if (IsCreationFailure(error)) return -1;
      return ReportUnrunnable(program, error);
    }
    int wait_status;
    if (!WaitAndReap(pid, &wait_status)) return -1;
    return ExitCodeOf(wait_status);
  }
};

}  // namespace

CommandInterpreter& SystemCommandInterpreter() {
  static SpawningInterpreter interpreter;
  return interpreter;
}

}  // namespace platform

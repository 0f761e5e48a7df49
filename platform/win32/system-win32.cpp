// The environment, the command interpreter and text files, straight through
// to Windows and its C runtime: tarvo's calls, kept apart from what gorvanel
// links so that its program imports none of them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/environment.h"
#include "platform/interpreter.h"
#include "platform/text_file.h"
#include "platform/win32/child_guard.h"

namespace platform {
namespace {

class Win32Environment : public Environment {
 public:
  BOOL SetEnvironmentVariableA(const char* name, const char* value) override {
    return ::SetEnvironmentVariableA(name, value);
  }
};

// The runtime's system() runs %COMSPEC% /c with the line.
class Win32CommandInterpreter : public CommandInterpreter {
 public:
  int System(const char* command_line) override {
    if (command_line != nullptr) GuardChildren();
    // Handing tarvo's line to the interpreter is the point; tarvo refuses
    // any argument that could end its quoting.
    int status = std::system(command_line);  // NOLINT(cert-env33-c)
    if (command_line != nullptr) ReleaseChildren();
    return status;
  }
};

// Text mode: the runtime itself reads CR LF as LF.
class Win32TextFiles : public TextFiles {
 public:
  TextStream* Fopen(const char* path) override {
    return reinterpret_cast<TextStream*>(std::fopen(path, "r"));
  }
  char* Fgets(char* buffer, int size, TextStream* stream) override {
    return std::fgets(buffer, size, reinterpret_cast<std::FILE*>(stream));
  }
  int Fclose(TextStream* stream) override {
    return std::fclose(reinterpret_cast<std::FILE*>(stream));
  }
};

}  // namespace

Environment& SystemEnvironment() {
  static Win32Environment environment;
  return environment;
}

CommandInterpreter& SystemCommandInterpreter() {
  static Win32CommandInterpreter interpreter;
  return interpreter;
}

TextFiles& SystemTextFiles() {
  static Win32TextFiles files;
  return files;
}

}  // namespace platform

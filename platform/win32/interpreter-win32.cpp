// The C runtime's system(), which runs %COMSPEC% /c with the line, inside
// the guard that ends the child with the launcher.
#include <cstdlib>

#include "platform/interpreter.h"
#include "platform/win32/internal.h"

namespace platform {
namespace {

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

}  // namespace

CommandInterpreter& SystemCommandInterpreter() {
  static Win32CommandInterpreter interpreter;
  return interpreter;
}

}  // namespace platform

// The process environment of a POSIX system, behind the Windows call.
#include "platform/environment.h"

#include <stdlib.h>

namespace platform {
namespace {

class ProcessEnvironment : public Environment {
 public:
  // A null value removes the variable, as on Windows.
  BOOL SetEnvironmentVariableA(const char* name, const char* value) override {
    if (name == nullptr) return 0;
    int result = value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    return result == 0;
  }
};

}  // namespace

Environment& SystemEnvironment() {
  static ProcessEnvironment environment;
  return environment;
}

}  // namespace platform

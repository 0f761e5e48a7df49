// The process environment, straight through to Windows.
#include <windows.h>

#include "platform/environment.h"

namespace platform {
namespace {

class Win32Environment : public Environment {
 public:
  BOOL SetEnvironmentVariableA(const char* name, const char* value) override {
    return ::SetEnvironmentVariableA(name, value);
  }
};

}  // namespace

Environment& SystemEnvironment() {
  static Win32Environment environment;
  return environment;
}

}  // namespace platform

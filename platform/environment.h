// The process environment, inherited by children.
#pragma once

#include "platform/types.h"

namespace platform {

class Environment {
 public:
  virtual ~Environment() = default;
  // SetEnvironmentVariableA: non-zero on success.
  virtual BOOL SetEnvironmentVariableA(const char* name, const char* value) = 0;
};

Environment& SystemEnvironment();

}  // namespace platform

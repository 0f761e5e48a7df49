// The process environment as a map, with the order the names were set in.
#pragma once

#include <map>
#include <string>

#include "platform/environment.h"
#include "platform/testing/fakes.h"

namespace platform_test {

class FakeEnvironment : public platform::Environment {
 public:
  BOOL SetEnvironmentVariableA(const char* name,
                                         const char* value) override {
    set_order.push_back(name);
    variables[name] = value;
    return 1;
  }

  std::map<std::string, std::string> variables;
  Log set_order;
};

}  // namespace platform_test

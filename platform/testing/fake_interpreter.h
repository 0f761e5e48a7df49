// A command interpreter that keeps the lines it is given and answers with a
// chosen status.
#pragma once

#include "platform/interpreter.h"
#include "platform/testing/fakes.h"

namespace platform_test {

class FakeInterpreter : public platform::CommandInterpreter {
 public:
  int System(const char* command_line) override {
    lines.push_back(command_line);
    return status;
  }
  int status = 0;
  Log lines;
};

}  // namespace platform_test

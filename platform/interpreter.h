// The standard library's system(): the command interpreter runs a line.
#pragma once

namespace platform {

class CommandInterpreter {
 public:
  virtual ~CommandInterpreter() = default;
  // system(line): the interpreter's exit status, -1 when none could start.
  virtual int System(const char* command_line) = 0;
};

CommandInterpreter& SystemCommandInterpreter();

}  // namespace platform

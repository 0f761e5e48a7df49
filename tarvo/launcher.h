// tarvo's launcher flow: from the registry, the services database and
// tarvo.ini to one command line for the command interpreter.
#pragma once

#include "platform/code_page.h"
#include "platform/environment.h"
#include "platform/interpreter.h"
#include "platform/path_style.h"
#include "platform/registry.h"
#include "platform/sockets.h"
#include "platform/text_file.h"

namespace tarvo {

// Everything of the system that the launcher uses.
struct Platform {
  platform::Registry& registry;
  platform::Sockets& sockets;
  platform::Environment& environment;
  platform::TextFiles& files;
  platform::CommandInterpreter& interpreter;
  const platform::PathStyle& paths;
  const platform::CodePage& code_page;
};

// Runs the launcher for argv[0..argc): the interpreter's status once the
// Java command ran, 1 when the launcher failed before that. Prints nothing.
int RunLauncher(const Platform& system, int argc, const char* const* argv);

}  // namespace tarvo

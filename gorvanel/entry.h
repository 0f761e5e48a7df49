// gorvanel's entry: the authority gate, the argument count, then the Java
// command execution around a path cache made for the run.
#pragma once

#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/heap.h"
#include "platform/path_style.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/security.h"

namespace gorvanel {

// Everything of the system that gorvanel uses.
struct Platform {
  platform::Registry& registry;
  platform::Processes& processes;
  platform::Security& security;
  platform::Heap& heap;
  platform::Console& console;
  const platform::PathStyle& paths;
  const platform::CodePage& code_page;
};

// Writes the five lines of the usage text.
void PrintUsage(platform::Console& console);

// Runs gorvanel for argv[0..argc) and gives its exit status: the Java
// command execution's result for one to six arguments, 1 after a refusal.
int RunGorvanel(const Platform& system, int argc, const char* const* argv);

}  // namespace gorvanel

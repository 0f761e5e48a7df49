// Runs the information command class in a Java VM started as a child
// process, with the operator's arguments, and maps its exit code.
#pragma once

#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/path_style.h"
#include "platform/process.h"

namespace gorvanel {

// Runs the Java command with the operator's arguments argv[1..argc) (one
// to six), each quoted for the Java VM's split in `code_page`, and the
// directories of CurrentPathCache(), which must be set. 0 or 1 as the
// command ended; 1 with a "pemra1007" or "pemra1004" line after a failure.
int ExecuteJavaCommand(platform::Processes& processes,
                       platform::Console& console,
                       const platform::PathStyle& paths,
                       const platform::CodePage& code_page, int argc,
                       const char* const* argv);

}  // namespace gorvanel

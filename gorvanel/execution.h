// Runs the information command class in a Java VM started as a child
// process, with the operator's arguments, and maps its exit code.
#pragma once

#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/path_style.h"
#include "platform/process.h"

namespace gorvanel {

// argv[1..argc) are the operator's arguments (one to six); each is passed
// on in double quotes, escaped so that the Java VM's split, which reads
// text in `code_page`, gives it back unchanged. Reads the directories
// through CurrentPathCache(), which must be set. 0 or 1 as the Java command
// ended; 1 with a "pemra1007"/"pemra1004" line printed after any failure,
// "pemra1004" also for an argument that ends in a lone lead byte and for a
// command line that escaping would take past its 3,879 characters.
int ExecuteJavaCommand(platform::Processes& processes,
                       platform::Console& console,
                       const platform::PathStyle& paths,
                       const platform::CodePage& code_page, int argc,
                       const char* const* argv);

}  // namespace gorvanel

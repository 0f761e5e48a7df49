// Whether starting a program changes privileges: the kernel then clears the
// parent-death signal at its exec, and a launcher killed outright leaves
// that program running.
#pragma once

#include <string>

namespace platform {

// Why the start of the program file `path` by this process may change
// privileges, or "" when it does not: the process's real and effective
// user or group ids differ; the file is set-user-ID or set-group-ID to
// another id than this process's effective one; its file capabilities add
// to this process's permitted set. Reads the file's status and extended
// attributes and /proc/self/status: made only for the trace.
std::string PrivilegeChangeAtExec(const char* path);

}  // namespace platform

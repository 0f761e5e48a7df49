// Whether starting a program changes privileges: the kernel then clears the
// parent-death signal at its exec, and a launcher killed outright leaves
// that program running.
#pragma once

#include <cstddef>

namespace platform {

// Whether the start of the program file `path` by this process may change
// privileges, with why in `why` (cut to `size`): the process's real and
// effective user or group ids differ; the file is set-user-ID or
// set-group-ID to another id than this process's effective one; its file
// capabilities add to this process's permitted set. Reads the file's
// status and extended attributes and /proc/self/status: made only for the
// trace. Takes no memory.
bool PrivilegeChangeAtExec(const char* path, char* why, std::size_t size);

}  // namespace platform

// Keeping the launcher's descriptors from a program it starts, on every
// kernel from Linux 4.18 on.
#pragma once

namespace platform {

// Marks every descriptor above standard error close-on-exec. For a new
// child between vfork and exec: async-signal-safe, allocates nothing.
void KeepDescriptorsFromProgram();

}  // namespace platform

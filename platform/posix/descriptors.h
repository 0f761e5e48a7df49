// Keeping the launcher's descriptors from a program it starts, on every
// kernel from Linux 3.10 on.
#pragma once

namespace platform {

// Marks every descriptor above standard error close-on-exec. For a new
// child between vfork and exec: async-signal-safe, allocates nothing.
void KeepDescriptorsFromProgram();

// The same without close_range or /proc: every number that can be open, up
// to the higher of the hard descriptor limit and 2^20 (at most 2^24), is
// asked about with poll, a batch at a time. The last resort of
// KeepDescriptorsFromProgram, on its own so that its cost can be measured.
void MarkEveryPossibleDescriptor();

}  // namespace platform

// Starting a program as a child and waiting for it, shared by the command
// interpreter and the process calls.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

struct ChildOptions {
  bool inherit_descriptors = true;  // false: only 0, 1 and 2 pass
};

// Starts the program file `path` (no search, no shell) with `args` as its
// argument vector, in the caller's environment and directory, no signal
// blocked and the launcher's ignored signals ignored. 0 with *pid set, or
// the error number of the failure (ENOMEM: no memory to prepare the
// start): memory is taken only before the child starts, and nothing here
// takes any from its start to its wait. Until it has been waited for, the
// launcher's signals are relayed to it (signal_relay.h); it gets SIGTERM
// should the launcher die first. Until then SIGCHLD is at its default here
// even where the caller ignores it, so that the child can be waited for.
int SpawnChild(const char* path, const std::vector<std::string>& args,
               const ChildOptions& options, pid_t* pid);

// True when a spawn error means no process could be created at all, as
// opposed to a program that could not be run.
bool IsCreationFailure(int error);

// Waits for the child to end, retrying when a signal interrupts: true with
// its wait status, false when it cannot be waited for. Either way the child
// is let go: its pid may belong to another process now and must never be
// signalled. So does PollAndReap once it gives 1 or -1.
bool WaitAndReap(pid_t pid, int* wait_status);

// Looks without blocking: 1 ended (status set), 0 still running, -1 error.
int PollAndReap(pid_t pid, int* wait_status);

// The exit code of a wait status: the child's own, or 128 + the signal
// that ended it.
int ExitCodeOf(int wait_status);

}  // namespace platform

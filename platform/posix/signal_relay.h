// Passing the launcher's signals on to the child it waits for, so that
// stopping the launcher stops the Java VM as the signal meant to.
#pragma once

#include <sys/types.h>

namespace platform {

// With every signal blocked, before a child starts: catches TERM, HUP, INT
// and QUIT, except those ignored, which stay ignored here and in the child.
void CatchRelayedSignals();

// Signals caught from now on go to `child` (see the rule in the .cpp).
void RelayTo(pid_t child);

// `child` has ended, or never started (0): the relayed signals get back
// the dispositions they had, unless another child has taken its place.
void StopRelay(pid_t child);

// In a new child before it runs its program; async-signal-safe: what
// CatchRelayedSignals caught is back to its default action.
void ResetRelayedSignals();

}  // namespace platform

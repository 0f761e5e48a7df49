// While the launcher waits for a child: the launcher in a job object that
// ends the child with it should the launcher be terminated, and a console
// control handler that keeps it waiting through Ctrl-C and Ctrl-Break,
// which reach the child through the console they share.
#pragma once

namespace platform {

// Before anything is started. A part that cannot be set up is left out.
void GuardChildren();

// Once the child has ended: what its program left running on purpose no
// longer ends with the launcher, and Ctrl-C is the launcher's own again.
void ReleaseChildren();

}  // namespace platform

// Whether the user running the program belongs to the local Administrators
// group, decided by the group's account name.
#pragma once

#include "platform/heap.h"
#include "platform/security.h"
#include "platform/types.h"

namespace gorvanel {

// 0 when a group of the process token bears the Administrators group's
// account name (letter case counts, domain and attributes do not), 5 when
// none does, 8 without heap memory, else the failed call's error code,
// never 0. Releases all it obtains.
platform::DWORD CheckAdministratorMembership(platform::Security& security,
                                             platform::Heap& heap);

// 0 (admit) when the membership check answers 0, 1 (refuse) otherwise.
int AuthorityGate(platform::Security& security, platform::Heap& heap);

}  // namespace gorvanel

// What the fakes share: Windows' types by their own names, and the log of
// what a fake saw, in order, as short readable lines, so that a test can
// assert an order of calls that matters in one comparison.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace platform_test {

using platform::BOOL;
using platform::DWORD;
using platform::HANDLE;
using platform::LONG;
using Log = std::vector<std::string>;

}  // namespace platform_test

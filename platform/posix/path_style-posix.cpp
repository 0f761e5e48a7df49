// Paths on a POSIX system.
#include "platform/path_style.h"

namespace platform {

const PathStyle& SystemPathStyle() { return kPosixPaths; }

}  // namespace platform

// Windows spells paths its own way. Apart from the other system calls so
// that a program asking only for this links none of them.
#include "platform/path_style.h"

namespace platform {

const PathStyle& SystemPathStyle() { return kWindowsPaths; }

}  // namespace platform

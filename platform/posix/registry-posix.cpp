// The registry of this machine on Linux: the export file named by
// TALVANE_REGISTRY, opened on the first call and kept for the process.
#include "platform/posix/registry_file.h"
#include "platform/registry.h"

namespace platform {

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace platform

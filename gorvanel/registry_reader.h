// Reads one registry value below HKEY_LOCAL_MACHINE, the key named by its
// full path.
#pragma once

#include "platform/registry.h"
#include "platform/types.h"

namespace gorvanel {

// Holds no state of its own: callers make one for the read at hand.
class RegistryReader {
 public:
  explicit RegistryReader(platform::Registry& registry) : registry_(registry) {}

  // Reads `value_name` of the key `key_path` ("HKEY_LOCAL_MACHINE\<subkey>",
  // the root spelled exactly so) into `destination`, which holds `capacity`
  // bytes. 1 when a value holding its terminator was read whole; 0
  // otherwise, with the destination's first byte cleared whenever the
  // registry was queried. Prints nothing.
  int ReadValue(const char* key_path, const char* value_name,
                platform::BYTE* destination, platform::DWORD capacity);

 private:
  platform::Registry& registry_;
};

}  // namespace gorvanel

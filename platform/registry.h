// Read-only registry access, mirroring the narrow Windows calls.
#pragma once

#include "platform/types.h"

namespace platform {

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExA: 0 with *result open, else an error code.
  virtual LONG RegOpenKeyExA(HKEY root, const char* sub_key, DWORD options,
                             DWORD access, HKEY* result) = 0;

  // RegQueryValueExA: 0 when the value exists and fits in *size bytes of
  // data (data may be null to ask only for the size); kErrorMoreData with
  // *size set to the size needed when it does not fit; other codes when it
  // is missing. Strings come back narrow, their terminator counted in *size.
  virtual LONG RegQueryValueExA(HKEY key, const char* value_name,
                                DWORD* reserved, DWORD* type, BYTE* data,
                                DWORD* size) = 0;

  // RegCloseKey.
  virtual LONG RegCloseKey(HKEY key) = 0;

  // Why the last call that failed did, for the trace, when the registry
  // knows more than its code says; else null.
  virtual const char* LastFailureReason() const { return nullptr; }
};

// The registry of this machine.
Registry& SystemRegistry();

// Names the keys that the run is going to open, before it opens any: full
// paths ("HKEY_LOCAL_MACHINE\\..."), up to a null, in a list that lives as
// long as the run. Where the registry is a file, one reading of it then
// serves them all; a key not named still opens.
void DeclareRegistryKeys(const char* const* full_paths);

}  // namespace platform

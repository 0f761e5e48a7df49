// The registry, straight through to the narrow Windows calls.
#include "platform/registry.h"
#include "platform/win32/internal.h"

namespace {

// Outside our namespace: the Windows macro spells its cast as plain HKEY.
// Predefined roots are small integers cast to handles; name ours by that
// macro rather than trusting the two spellings to agree.
HKEY ToWindows(platform::HKEY key) {
  if (key == platform::LocalMachineKey())
    return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(key);
}

}  // namespace

namespace platform {
namespace {

class Win32Registry : public Registry {
 public:
  LONG RegOpenKeyExA(HKEY root, const char* sub_key, DWORD options,
                     DWORD access, HKEY* result) override {
    return ::RegOpenKeyExA(ToWindows(root), sub_key, options, access,
                           reinterpret_cast<::HKEY*>(result));
  }

  LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* reserved,
                        DWORD* type, BYTE* data, DWORD* size) override {
    return ::RegQueryValueExA(ToWindows(key), value_name,
                              reinterpret_cast<::DWORD*>(reserved),
                              reinterpret_cast<::DWORD*>(type), data,
                              reinterpret_cast<::DWORD*>(size));
  }

  LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(ToWindows(key)); }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

// Windows keeps the registry in memory and caches it itself.
void DeclareRegistryKeys(const char* const* /*full_paths*/) {}

}  // namespace platform

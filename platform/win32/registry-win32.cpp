// The registry, straight through to the narrow Windows calls.
#include <windows.h>

#include <type_traits>

#include "platform/registry.h"

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

// Our DWORD and Windows' are distinct types of one width and signedness, so
// the out-parameters can be handed over as they are.
static_assert(sizeof(DWORD) == sizeof(::DWORD), "DWORD width");
static_assert(std::is_unsigned<::DWORD>::value, "DWORD signedness");
static_assert(sizeof(LONG) == sizeof(::LONG), "LONG width");

// The codes callers compare against must be the ones Windows returns.
static_assert(kErrorSuccess == ERROR_SUCCESS, "ERROR_SUCCESS");
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND,
              "ERROR_FILE_NOT_FOUND");
static_assert(kErrorMoreData == ERROR_MORE_DATA, "ERROR_MORE_DATA");
static_assert(kKeyRead == KEY_READ, "KEY_READ");
static_assert(kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ &&
                  kRegBinary == REG_BINARY && kRegDword == REG_DWORD &&
                  kRegMultiSz == REG_MULTI_SZ && kRegQword == REG_QWORD,
              "registry value types");

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

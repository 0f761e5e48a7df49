#include "gorvanel/registry_reader.h"

#include <cstring>

namespace gorvanel {
namespace {

const char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr std::size_t kRootNameLength = sizeof(kRootName) - 1;

// The subkey part of `key_path`, or null when the path does not name a key
// below the one root these programs read.
const char* SubKeyOf(const char* key_path) {
  if (std::strncmp(key_path, kRootName, kRootNameLength) != 0) return nullptr;
  const char* backslash = std::strchr(key_path, '\\');
  if (backslash == nullptr || backslash[1] == '\0') return nullptr;
  return backslash + 1;
}

}  // namespace

int RegistryReader::ReadValue(const char* key_path, const char* value_name,
                              platform::BYTE* destination,
                              platform::DWORD capacity) {
  if (key_path == nullptr || key_path[0] == '\0') return 0;
  if (value_name == nullptr || value_name[0] == '\0') return 0;
  if (destination == nullptr || capacity == 0) return 0;
  const char* sub_key = SubKeyOf(key_path);
  if (sub_key == nullptr) return 0;

  platform::HKEY key = nullptr;
  if (registry_.RegOpenKeyExA(platform::LocalMachineKey(), sub_key, 0,
                              platform::kKeyRead, &key) != 0)
    return 0;
  platform::DWORD type = platform::kRegSz;
  platform::DWORD size = capacity;
  platform::LONG queried = registry_.RegQueryValueExA(
      key, value_name, nullptr, &type, destination, &size);
  registry_.RegCloseKey(key);

  // Windows leaves the destination undefined when the value is too large,
  // and a value that fills it without a terminator is no text: either way
  // the caller must find it empty, not holding part of a value.
  if (queried != 0 || std::memchr(destination, '\0', capacity) == nullptr) {
    destination[0] = '\0';
    return 0;
  }
  return 1;
}

}  // namespace gorvanel

#include "tarvo/settings.h"

#include <cstring>

namespace tarvo {
namespace {

constexpr char kRoot[] = "HKEY_LOCAL_MACHINE";
constexpr char kSiteKeyFullPath[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Site\\"
    "CurrentVersion";
// The same key below the root, where tarvo opens it: past the root's name
// and its backslash.
static_assert(kSiteKeyFullPath[sizeof kRoot - 1] == '\\', "the root's name");
const char* const kSiteKeyPath = kSiteKeyFullPath + sizeof kRoot;
const char kDomainKeyPath[] =
    "SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Domain\\CurrentVersion";
const char kAlias[] = "PathName";

// Room for a 260-byte value and two zero bytes that always terminate it.
constexpr int kScratchSize = kPathCapacity + 2;

bool BeginsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Only these names may be read, and IIL_SETUP only from the domain key. A
// name that merely begins with an allowed one passes, and is read in full.
bool IsAllowed(const char* name, int key_kind) {
  static const char* const kAnyKey[] = {"jrePathName", "etcPathName",
                                        "varPathName", "optPathName",
                                        "VERSION"};
  for (const char* allowed : kAnyKey)
    if (BeginsWith(name, allowed)) return true;
  return BeginsWith(name, "IIL_SETUP") && key_kind == kDomainKeyKind;
}

const char* KeyPath(int key_kind) {
  if (key_kind == kSiteKeyKind) return kSiteKeyPath;
  if (key_kind == kDomainKeyKind) return kDomainKeyPath;
  return nullptr;
}

// 1 with the value's bytes in `data`, read through a 260-byte window.
int QueryValue(platform::Registry& registry, const char* key_path,
               const char* name, char (&data)[kScratchSize]) {
  platform::HKEY key = nullptr;
  if (registry.RegOpenKeyExA(platform::LocalMachineKey(), key_path, 0,
                             platform::kKeyRead, &key) != 0)
    return 0;
  platform::DWORD size = kPathCapacity;
  platform::LONG status = registry.RegQueryValueExA(
      key, name, nullptr, nullptr, reinterpret_cast<platform::BYTE*>(data),
      &size);
  registry.RegCloseKey(key);
  return status == 0 ? 1 : 0;
}

}  // namespace

const char* const kRegistryKeysRead[] = {kSiteKeyFullPath, nullptr};

int LookupSetting(platform::Registry& registry, int key_kind,
                  const char* value_name, char (&result)[kPathCapacity]) {
  char data[kScratchSize] = {};
  char alias[kScratchSize] = {};

  const char* name = value_name;
  if (BeginsWith(name, kAlias)) {
    std::memcpy(alias, "optPathName", sizeof("optPathName"));
    name = alias;
  }
  if (!IsAllowed(name, key_kind)) return 0;
  const char* key_path = KeyPath(key_kind);
  if (key_path == nullptr) return 0;

  if (!QueryValue(registry, key_path, name, data)) return 0;
  std::size_t length = std::strlen(data);
  // A value that fills the whole window has no terminator of its own and
  // could not be handed on whole: treat it as absent.
  if (length == 0 || length >= static_cast<std::size_t>(kPathCapacity))
    return 0;
  std::memcpy(result, data, length + 1);
  return 1;
}

}  // namespace tarvo

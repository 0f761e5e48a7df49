// The registry of this machine on Linux: the export file named by
// TALVANE_REGISTRY, opened on the first call and kept for the process.
#include "platform/posix/registry_internal.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {

PosixRegistry::PosixRegistry()
    : PosixRegistry([] { return LoadRegistryFile(RegistryFilePath()); }) {}

PosixRegistry::PosixRegistry(std::function<RegistryFile()> load)
    : load_(std::move(load)) {}

const RegistryFile& PosixRegistry::File() {
  if (!file_) {
    file_.emplace(load_());
    if (expected_ != nullptr) file_->Expect(expected_);
  }
  return *file_;
}

bool PosixRegistry::Resolve(HKEY key, std::string* path) {
  for (const RegistryRoot& root : kRegistryRoots) {
    if (key == reinterpret_cast<HKEY>(root.handle)) {
      *path = root.name;
      return true;
    }
  }
  const auto it = open_keys_.find(key);
  if (it == open_keys_.end()) return false;
  *path = it->second;
  return true;
}

LONG PosixRegistry::Failed(LONG status, std::string why) {
  why_ = std::move(why);
  return status;
}

const char* PosixRegistry::LastFailureReason() const {
  return why_.empty() ? nullptr : why_.c_str();
}

LONG PosixRegistry::RegOpenKeyExA(HKEY root, const char* sub_key,
                                  DWORD /*options*/, DWORD /*access*/,
                                  HKEY* result) {
  if (result == nullptr) return Failed(kErrorInvalidParameter, "");
  std::string path;
  if (!Resolve(root, &path)) return Failed(kErrorInvalidHandle, "");
  if (sub_key != nullptr && *sub_key != '\0') path.append("\\").append(sub_key);
  if (File().FindKey(path) == nullptr)
    return Failed(kErrorFileNotFound, File().Why());
  last_handle_ += 4;
  const HKEY handle = reinterpret_cast<HKEY>(last_handle_);
  open_keys_[handle] = std::move(path);
  *result = handle;
  why_.clear();
  return kErrorSuccess;
}

bool PosixRegistry::Lookup(const std::string& path, const char* name,
                           const BYTE* data, const DWORD* size,
                           RegistryValue* value) {
  // Found before, when the handle was opened; kept since.
  const RegistryFileKey* key = File().FindKey(path);
  if (key == nullptr) return false;
  const RegistryValue* kept = key->FindValue(name);
  if (kept == nullptr && key->complete) return false;
  const std::size_t can_take = data != nullptr ? std::size_t(*size) : 0;
  if (kept != nullptr && (kept->Whole() || can_take < kept->size)) {
    *value = *kept;
    return true;
  }
  // Left out of the key, or more of it wanted than was kept: read anew,
  // keeping as much as the caller can take.
  return File().ReadValue(path, name, std::max(can_take, kKeptValueBytes),
                          value);
}

LONG PosixRegistry::RegQueryValueExA(HKEY key, const char* value_name,
                                     DWORD* reserved, DWORD* type, BYTE* data,
                                     DWORD* size) {
  std::string path;
  if (!Resolve(key, &path)) return Failed(kErrorInvalidHandle, "");
  if (reserved != nullptr || (data != nullptr && size == nullptr))
    return Failed(kErrorInvalidParameter, "");
  RegistryValue value;
  if (!Lookup(path, value_name != nullptr ? value_name : "", data, size,
              &value)) {
    return Failed(kErrorFileNotFound, "");
  }
  if (value.fault != nullptr) return Failed(kErrorFileNotFound, value.fault);
  why_.clear();
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return kErrorSuccess;
  const DWORD needed = DWORD(value.size);
  // Not whole only when the file grew between two passes.
  if (data != nullptr && (*size < needed || !value.Whole())) {
    *size = needed;
    return kErrorMoreData;  // destination untouched
  }
  // Raw value bytes, copied whole: a string's terminator is among them.
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
  if (data != nullptr) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

LONG PosixRegistry::RegCloseKey(HKEY key) {
  for (const RegistryRoot& root : kRegistryRoots) {
    if (key == reinterpret_cast<HKEY>(root.handle)) return kErrorSuccess;
  }
  if (open_keys_.erase(key) == 0) return Failed(kErrorInvalidHandle, "");
  return kErrorSuccess;
}

Registry& SystemRegistry() {
  static PosixRegistry registry;
  return registry;
}

void DeclareRegistryKeys(const char* const* full_paths) {
  static_cast<PosixRegistry&>(SystemRegistry()).Expect(full_paths);
}

}  // namespace platform

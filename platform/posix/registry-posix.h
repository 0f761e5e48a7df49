// The registry of this machine on Linux: a RegistryFile served through the
// narrow Windows calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/posix/registry_file.h"
#include "platform/registry.h"
#include "platform/types.h"

namespace platform {

// A Registry over a RegistryFile that is loaded on first use.
class PosixRegistry : public Registry {
 public:
  // Loads LoadRegistryFile(RegistryFilePath()).
  PosixRegistry();
  explicit PosixRegistry(std::function<RegistryFile()> load);

  // Keys to find in the pass that the first open makes (see
  // RegistryFile::Expect); the list stays valid until then.
  void Expect(const char* const* paths) { expected_ = paths; }

  LONG RegOpenKeyExA(HKEY root, const char* sub_key, DWORD options,
                     DWORD access, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* reserved,
                        DWORD* type, BYTE* data, DWORD* size) override;
  LONG RegCloseKey(HKEY key) override;
  const char* LastFailureReason() const override;

 private:
  const RegistryFile& File();
  // The path of a predefined root or an open handle. Only the path: a
  // root's values are looked for only when one is queried.
  bool Resolve(HKEY key, std::string* path);
  // The value, read anew when the kept one cannot answer the query.
  bool Lookup(const std::string& path, const char* name, const BYTE* data,
              const DWORD* size, RegistryValue* value);
  LONG Failed(LONG status, std::string why);

  std::function<RegistryFile()> load_;
  std::optional<RegistryFile> file_;
  const char* const* expected_ = nullptr;
  std::unordered_map<HKEY, std::string> open_keys_;
  std::uintptr_t last_handle_ = 0x1000;
  std::string why_;  // of the last call that failed
};

}  // namespace platform

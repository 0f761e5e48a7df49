// The registry on Linux: the keys and values of one export file in the
// format that regedit writes, read into memory and served through the
// narrow Windows calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/registry.h"
#include "platform/types.h"

namespace platform {

// A value as RegQueryValueExA hands it out: strings narrow (UTF-8) and
// with their terminator.
struct RegistryValue {
  DWORD type = kRegSz;
  std::string data;
};

// A key's values by name, the names folded to lower case.
struct RegistryFileKey {
  std::map<std::string, RegistryValue> values;

  // The value `name` (any letter case; "" is the default value), or null.
  const RegistryValue* FindValue(std::string_view name) const;
};

// All keys of an export file, applied in file order the way regedit
// imports it. The five roots always exist.
class RegistryFile {
 public:
  RegistryFile();

  // Parses a whole file held in memory: "REGEDIT4" or "Windows Registry
  // Editor Version 5.00", the latter also UTF-16LE with its byte-order
  // mark. Unparsable lines are skipped; without a known header there are
  // no keys beyond the roots.
  static RegistryFile Parse(std::string_view bytes);

  // The key at `path` ("HKEY_LOCAL_MACHINE\\A\\B", HKLM for short, any
  // letter case), or null.
  const RegistryFileKey* FindKey(std::string_view path) const;

 private:
  friend class RegistryFileParser;

  // Ordered by folded path, so a key's subkeys follow it in one run.
  std::map<std::string, RegistryFileKey> keys_;
};

// The file that the registry of this machine is read from: the
// environment variable TALVANE_REGISTRY, else the default path.
std::string RegistryFilePath();

// Reads and parses `path`; a missing or unreadable file gives the roots
// alone.
RegistryFile LoadRegistryFile(const std::string& path);

// A Registry over a RegistryFile that is loaded on first use.
class FileRegistry : public Registry {
 public:
  // Loads LoadRegistryFile(RegistryFilePath()).
  FileRegistry();
  explicit FileRegistry(std::function<RegistryFile()> load);
  ~FileRegistry() override;

  LONG RegOpenKeyExA(HKEY root, const char* sub_key, DWORD options,
                     DWORD access, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* reserved,
                        DWORD* type, BYTE* data, DWORD* size) override;
  LONG RegCloseKey(HKEY key) override;

 private:
  struct OpenKey {
    std::string path;
    const RegistryFileKey* key;
  };

  const RegistryFile& File();
  // The path and contents of a predefined root or an open handle.
  bool Resolve(HKEY key, OpenKey* open);

  std::function<RegistryFile()> load_;
  std::unique_ptr<RegistryFile> file_;
  std::unordered_map<HKEY, OpenKey> open_keys_;
  std::uintptr_t last_handle_ = 0x1000;
};

}  // namespace platform

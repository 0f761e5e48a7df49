// The registry on Linux: the keys and values of one export file in the
// format that regedit writes, served through the narrow Windows calls.
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

// The bytes of an export file: a copy in memory or a read-only mapping.
class RegistryBytes;

// The keys of an export file, applied in file order the way regedit
// imports it. The five roots always exist. A key is looked for when first
// asked for, in one pass over the text that keeps only that key's values,
// and the answer is kept; the text is held, not parsed into a tree. Not
// for use from more than one thread.
class RegistryFile {
 public:
  // The roots alone, without values.
  RegistryFile();
  RegistryFile(RegistryFile&&) noexcept;
  RegistryFile& operator=(RegistryFile&&) noexcept;
  ~RegistryFile();

  // A file held in memory (copied): "REGEDIT4" or "Windows Registry
  // Editor Version 5.00", the latter also UTF-16LE with its byte-order
  // mark. Unparsable lines are skipped; without a known header there are
  // no keys beyond the roots.
  static RegistryFile Parse(std::string_view bytes);

  // The key at `path` ("HKEY_LOCAL_MACHINE\\A\\B", HKLM for short, any
  // letter case), or null. The key stays valid as long as the file.
  const RegistryFileKey* FindKey(std::string_view path) const;

 private:
  friend RegistryFile LoadRegistryFile(const std::string& path);

  explicit RegistryFile(std::unique_ptr<RegistryBytes> bytes);
  // The key at the folded full path `path`, or null.
  std::unique_ptr<RegistryFileKey> Scan(const std::string& path) const;

  std::unique_ptr<RegistryBytes> bytes_;  // null: the roots alone
  bool wide_text_ = false;     // UTF-16LE, else 8-bit text taken as UTF-8
  bool wide_strings_ = false;  // version 5: hex strings are UTF-16LE
  std::size_t body_ = 0;       // where the line after the header begins
  // Keys asked for so far by folded path; null for one that is not there.
  mutable std::map<std::string, std::unique_ptr<RegistryFileKey>> found_;
};

// The file that the registry of this machine is read from: the
// environment variable TALVANE_REGISTRY, else the default path.
std::string RegistryFilePath();

// Maps `path` (reads it, when it is no regular file); a missing or
// unreadable file gives the roots alone.
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
  const RegistryFile& File();
  // The path of a predefined root or an open handle. Only the path: a
  // root's values are looked for only when one is queried.
  bool Resolve(HKEY key, std::string* path);

  std::function<RegistryFile()> load_;
  std::unique_ptr<RegistryFile> file_;
  std::unordered_map<HKEY, std::string> open_keys_;
  std::uintptr_t last_handle_ = 0x1000;
};

}  // namespace platform

// The registry on Linux: the keys and values of one export file in the
// format that regedit writes.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry_scanner.h"
#include "platform/posix/registry_source.h"
#include "platform/posix/registry_value_data.h"

namespace platform {

// Bytes of a value's data that a key keeps: every caller's capacity. The
// size of the whole value is known all the same.
constexpr std::size_t kKeptValueBytes = 260;

// The keys of an export file, applied in file order the way regedit
// imports it. The five roots always exist. Nothing is read until a key is
// first asked for; one pass over the text then finds it and every key
// named by Expect, keeping only their values. A key asked for later takes
// a pass of its own. Answers are kept. Not for use from more than one
// thread.
class RegistryFile {
 public:
  // The roots alone, without values; `why` says why there is no more.
  explicit RegistryFile(std::string why = "");
  // "REGEDIT4" or "Windows Registry Editor Version 5.00", the latter also
  // UTF-16LE with its byte-order mark. Unparsable lines are skipped;
  // without a known header there are no keys beyond the roots.
  explicit RegistryFile(std::unique_ptr<RegistrySource> source);

  // A file held in memory (copied).
  static RegistryFile Parse(std::string_view bytes);

  // Names keys to find with the first one asked for: full paths, up to a
  // null, in a list that stays valid until then.
  void Expect(const char* const* paths) { expected_ = paths; }

  // The key at `path` ("HKEY_LOCAL_MACHINE\\A\\B", HKLM for short, any
  // letter case), or null. The key stays valid as long as the file.
  const RegistryFileKey* FindKey(std::string_view path) const;

  // The value `name` of the key at `path`, read anew with up to `keep`
  // bytes of its data; false when the key or value is not there.
  bool ReadValue(std::string_view path, std::string_view name,
                 std::size_t keep, RegistryValue* value) const;

  // Why the file gives the roots alone, or "".
  const std::string& Why() const { return why_; }

 private:
  void LookFor(const std::string& path) const;
  void Scan(const ValueSelection& selection, std::vector<KeyScan>* keys) const;

  std::unique_ptr<RegistrySource> source_;  // null: the roots alone
  mutable std::string why_;
  mutable const char* const* expected_ = nullptr;  // null once looked for
  // Keys looked for so far by folded path, whether they exist or not.
  mutable std::map<std::string, RegistryFileKey> found_;
};

// The file that the registry of this machine is read from: the
// environment variable TALVANE_REGISTRY, else the default path.
std::string RegistryFilePath();

// The file at `path` (see OpenRegistrySource); one that cannot be read
// gives the roots alone.
RegistryFile LoadRegistryFile(const std::string& path);

}  // namespace platform

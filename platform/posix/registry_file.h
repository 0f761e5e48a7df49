// The registry on Linux: the keys and values of one export file in the
// format that regedit writes.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/registry_scanner.h"
#include "platform/posix/registry_source.h"
#include "platform/posix/registry_value_data.h"

namespace platform {

// Bytes of a value's data that a key keeps: every caller's capacity. The
// size of the whole value is known all the same.
constexpr std::size_t kKeptValueBytes = 260;

// A key's values by name, the names folded to lower case. A value whose
// fault is set cannot be read and counts as missing.
struct RegistryFileKey {
  std::map<std::string, RegistryValue> values;
  // False when some values were left out: look for those by ReadValue.
  bool complete = true;

  // The value `name` (any letter case; "" is the default value), or null.
  const RegistryValue* FindValue(std::string_view name) const;
};

// The keys of an export file, applied in file order the way regedit
// imports it. The five roots always exist. A key is looked for when first
// asked for, in one pass over the text that keeps only that key's values,
// and the answer is kept. Not for use from more than one thread.
class RegistryFile {
 public:
  // The roots alone, without values; `why` says why there is no more.
  explicit RegistryFile(std::string why = "");
  // "REGEDIT4" or "Windows Registry Editor Version 5.00", the latter also
  // UTF-16LE with its byte-order mark. Unparsable lines are skipped;
  // without a known header there are no keys beyond the roots.
  explicit RegistryFile(std::unique_ptr<RegistrySource> source);
  RegistryFile(RegistryFile&&) noexcept;
  RegistryFile& operator=(RegistryFile&&) noexcept;
  ~RegistryFile();

  // A file held in memory (copied).
  static RegistryFile Parse(std::string_view bytes);

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
  KeyScan Scan(const std::string& path, const ValueSelection& selection) const;

  std::unique_ptr<RegistrySource> source_;  // null: the roots alone
  HexStrings hex_strings_ = HexStrings::kNarrow;
  std::string why_;
  // Keys asked for so far by folded path; null for one that is not there.
  mutable std::map<std::string, std::unique_ptr<RegistryFileKey>> found_;
};

// The file that the registry of this machine is read from: the
// environment variable TALVANE_REGISTRY, else the default path.
std::string RegistryFilePath();

// The file at `path` (see OpenRegistrySource); one that cannot be read
// gives the roots alone.
RegistryFile LoadRegistryFile(const std::string& path);

}  // namespace platform

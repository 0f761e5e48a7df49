// One pass over the registry file's text for the keys asked for: what
// concerns them is applied in file order the way regedit imports the file
// (their values, their deletion with themselves or a parent, their
// creation with themselves or a subkey); everything else is only passed
// over.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry_path.h"
#include "platform/posix/registry_text.h"
#include "platform/posix/registry_value_data.h"

namespace platform {

// What the file says of one key: its values by name, the names folded to
// lower case. A value whose fault is set cannot be read and counts as
// missing.
struct RegistryFileKey {
  bool exists = false;
  std::map<std::string, RegistryValue> values;
  // False when values were left out, so that memory stays bounded however
  // many the key has: a name not among them must be looked for alone.
  bool complete = true;

  // The value `name` (any letter case; "" is the default value), or null.
  const RegistryValue* FindValue(std::string_view name) const;
};

// Which values a pass keeps, and how many bytes of each one's data.
struct ValueSelection {
  const std::string* only = nullptr;  // one folded name, else every one
  std::size_t keep = 0;
};

// A key that a pass looks for, and what it found.
struct KeyScan {
  std::string path;  // folded full path
  RegistryFileKey key;
  std::size_t kept_bytes = 0;  // what its kept values take
};

// Fills `keys` from `text`, standing at the line after the header.
void ScanKeys(TextReader& text, HexStrings hex_strings,
              const ValueSelection& selection, std::vector<KeyScan>* keys);

}  // namespace platform

// One pass over the registry file's text for one key: what concerns it is
// applied in file order the way regedit imports the file (its values, its
// deletion with itself or a parent, its creation with itself or a subkey);
// everything else is only passed over.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/posix/registry_path.h"
#include "platform/posix/registry_text.h"
#include "platform/posix/registry_value_data.h"

namespace platform {

// Which values a pass keeps, and how many bytes of each one's data.
struct ValueSelection {
  const std::string* only = nullptr;  // one folded name, else every one
  std::size_t keep = 0;
};

// What the file says of one key.
struct KeyScan {
  bool exists = false;
  std::map<std::string, RegistryValue> values;  // by folded name
  // False when values were left out, so that memory stays bounded however
  // many the key has: a name not among them must be looked for alone.
  bool complete = true;
};

// The key at the folded full path `path`, from `text` standing at the
// line after the header.
KeyScan ScanKey(TextReader& text, HexStrings hex_strings,
                const std::string& path, const ValueSelection& selection);

}  // namespace platform

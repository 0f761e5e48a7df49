#include "platform/posix/registry_internal.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace platform {
namespace {

constexpr const char* kDefaultRegistryPath = "/etc/opt/talvane/registry.reg";
constexpr std::string_view kVersion4Header = "REGEDIT4";
constexpr std::string_view kVersion5Header =
    "Windows Registry Editor Version 5.00";
// Longer than either header with the blanks an editor may leave after it.
constexpr std::size_t kHeaderLimit = 256;

// Passes the header line; false when it is none that is known.
bool ReadHeader(TextReader& text, HexStrings* hex_strings) {
  std::string header;
  const bool read = ReadLineUpTo(text, kHeaderLimit, &header);
  text.SkipLine();
  const std::string_view trimmed = TrimBlanks(header);
  *hex_strings = trimmed == kVersion5Header ? HexStrings::kUtf16Le
                                            : HexStrings::kNarrow;
  return read && (trimmed == kVersion5Header || trimmed == kVersion4Header);
}

bool Includes(const std::vector<KeyScan>& keys, const std::string& path) {
  return std::any_of(keys.begin(), keys.end(),
                     [&path](const KeyScan& key) { return key.path == path; });
}

}  // namespace

RegistryFile::RegistryFile(std::string why) : why_(std::move(why)) {}
RegistryFile::RegistryFile(std::unique_ptr<RegistrySource> source)
    : source_(std::move(source)) {}

RegistryFile RegistryFile::Parse(std::string_view bytes) {
  return RegistryFile(MemorySource(std::string(bytes)));
}

const RegistryFileKey* RegistryFile::FindKey(std::string_view path) const {
  std::string normalized;
  if (!NormalizeKeyPath(path, &normalized)) return nullptr;
  if (found_.count(normalized) == 0) LookFor(normalized);
  const RegistryFileKey& key = found_.find(normalized)->second;
  return key.exists ? &key : nullptr;
}

// The key and those expected, all in one pass; each once, as two scans of
// one key would share its values out between them.
void RegistryFile::LookFor(const std::string& path) const {
  std::vector<KeyScan> keys(1);
  keys[0].path = path;
  for (; expected_ != nullptr && *expected_ != nullptr; ++expected_) {
    std::string expected;
    if (NormalizeKeyPath(*expected_, &expected) && !Includes(keys, expected))
      keys.emplace_back().path = std::move(expected);
  }
  expected_ = nullptr;
  Scan(ValueSelection{nullptr, kKeptValueBytes}, &keys);
  for (KeyScan& scan : keys)
    found_.emplace(std::move(scan.path), std::move(scan.key));
}

bool RegistryFile::ReadValue(std::string_view path, std::string_view name,
                             std::size_t keep, RegistryValue* value) const {
  std::vector<KeyScan> keys(1);
  if (!NormalizeKeyPath(path, &keys[0].path)) return false;
  const std::string folded = Folded(name);
  Scan(ValueSelection{&folded, keep}, &keys);
  RegistryFileKey& key = keys[0].key;
  const auto it = key.values.find(folded);
  if (!key.exists || it == key.values.end()) return false;
  *value = std::move(it->second);
  return true;
}

// Each pass reads the header and tells the encoding from its own first
// chunk: there is no read of the file but the passes.
void RegistryFile::Scan(const ValueSelection& selection,
                        std::vector<KeyScan>* keys) const {
  if (source_ != nullptr) {
    TextReader text(*source_);
    HexStrings hex_strings;
    if (ReadHeader(text, &hex_strings)) {
      ScanKeys(text, hex_strings, selection, keys);
    } else {
      why_ = "the registry file does not begin with a known header";
    }
  }
  for (KeyScan& scan : *keys)
    scan.key.exists = scan.key.exists || IsRootPath(scan.path);
}

std::string RegistryFilePath() {
  const char* path = std::getenv("TALVANE_REGISTRY");
  return path != nullptr && *path != '\0' ? path : kDefaultRegistryPath;
}

RegistryFile LoadRegistryFile(const std::string& path) {
  std::string why;
  std::unique_ptr<RegistrySource> source = OpenRegistrySource(path, &why);
  if (source == nullptr) return RegistryFile(std::move(why));
  return RegistryFile(std::move(source));
}

}  // namespace platform

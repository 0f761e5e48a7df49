#include "platform/posix/registry_file.h"

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

}  // namespace

const RegistryValue* RegistryFileKey::FindValue(std::string_view name) const {
  const auto it = values.find(Folded(name));
  return it == values.end() ? nullptr : &it->second;
}

RegistryFile::RegistryFile(std::string why) : why_(std::move(why)) {}
RegistryFile::RegistryFile(RegistryFile&&) noexcept = default;
RegistryFile& RegistryFile::operator=(RegistryFile&&) noexcept = default;
RegistryFile::~RegistryFile() = default;

RegistryFile::RegistryFile(std::unique_ptr<RegistrySource> source) {
  TextReader text(*source);
  std::string header;
  const bool read = ReadLineUpTo(text, kHeaderLimit, &header);
  const std::string_view trimmed = TrimBlanks(header);
  // Without a known header the text is not kept: the roots alone.
  if (!read || (trimmed != kVersion5Header && trimmed != kVersion4Header)) {
    why_ = "the registry file does not begin with a known header";
    return;
  }
  hex_strings_ = trimmed == kVersion5Header ? HexStrings::kUtf16Le
                                              : HexStrings::kNarrow;
  source_ = std::move(source);
}

RegistryFile RegistryFile::Parse(std::string_view bytes) {
  return RegistryFile(MemorySource(std::string(bytes)));
}

const RegistryFileKey* RegistryFile::FindKey(std::string_view path) const {
  std::string normalized;
  if (!NormalizeKeyPath(path, &normalized)) return nullptr;
  auto it = found_.find(normalized);
  if (it == found_.end()) {
    KeyScan scan = Scan(normalized, ValueSelection{nullptr, kKeptValueBytes});
    std::unique_ptr<RegistryFileKey> key;
    if (scan.exists) {
      key = std::make_unique<RegistryFileKey>();
      key->values = std::move(scan.values);
      key->complete = scan.complete;
    }
    it = found_.emplace(std::move(normalized), std::move(key)).first;
  }
  return it->second.get();
}

bool RegistryFile::ReadValue(std::string_view path, std::string_view name,
                             std::size_t keep, RegistryValue* value) const {
  std::string normalized;
  if (!NormalizeKeyPath(path, &normalized)) return false;
  const std::string folded = Folded(name);
  KeyScan scan = Scan(normalized, ValueSelection{&folded, keep});
  const auto it = scan.values.find(folded);
  if (!scan.exists || it == scan.values.end()) return false;
  *value = std::move(it->second);
  return true;
}

KeyScan RegistryFile::Scan(const std::string& path,
                           const ValueSelection& selection) const {
  if (source_ == nullptr) {
    KeyScan roots;
    roots.exists = IsRootPath(path);
    return roots;
  }
  TextReader text(*source_);
  text.SkipLine();  // the header
  return ScanKey(text, hex_strings_, path, selection);
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

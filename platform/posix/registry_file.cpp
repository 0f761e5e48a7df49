#include "platform/posix/registry_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform {
namespace {

constexpr const char* kDefaultRegistryPath = "/etc/opt/talvane/registry.reg";
constexpr std::string_view kVersion4Header = "REGEDIT4";
constexpr std::string_view kVersion5Header =
    "Windows Registry Editor Version 5.00";
// Longer than either header with the blanks an editor may leave after it.
constexpr std::size_t kHeaderLimit = 256;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

const RegistryValue* RegistryFileKey::FindValue(std::string_view name) const {
  const auto it = values.find(Folded(name));
  return it == values.end() ? nullptr : &it->second;
}

RegistryFile::RegistryFile(std::string why) : why_(std::move(why)) {}
RegistryFile::RegistryFile(RegistryFile&&) noexcept = default;
RegistryFile& RegistryFile::operator=(RegistryFile&&) noexcept = default;
RegistryFile::~RegistryFile() = default;

RegistryFile::RegistryFile(std::unique_ptr<RegistrySource> source)
    : format_(DetectTextFormat(*source)) {
  TextReader text(*source, format_);
  std::string header;
  const bool read = ReadLineUpTo(text, kHeaderLimit, &header);
  const std::string_view trimmed = TrimBlanks(header);
  // Without a known header the text is not kept: the roots alone.
  if (!read || (trimmed != kVersion5Header && trimmed != kVersion4Header)) {
    why_ = "the registry file does not begin with a known header";
    return;
  }
  wide_strings_ = trimmed == kVersion5Header;
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
  TextReader text(*source_, format_);
  text.SkipLine();  // the header
  return ScanKey(text, wide_strings_, path, selection);
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

FileRegistry::FileRegistry()
    : FileRegistry([] { return LoadRegistryFile(RegistryFilePath()); }) {}

FileRegistry::FileRegistry(std::function<RegistryFile()> load)
    : load_(std::move(load)) {}

FileRegistry::~FileRegistry() = default;

const RegistryFile& FileRegistry::File() {
  if (!file_) file_ = std::make_unique<RegistryFile>(load_());
  return *file_;
}

bool FileRegistry::Resolve(HKEY key, std::string* path) {
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

LONG FileRegistry::Failed(LONG status, std::string why) {
  why_ = std::move(why);
  return status;
}

const char* FileRegistry::LastFailureReason() const {
  return why_.empty() ? nullptr : why_.c_str();
}

LONG FileRegistry::RegOpenKeyExA(HKEY root, const char* sub_key,
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

bool FileRegistry::Lookup(const std::string& path, const char* name,
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

LONG FileRegistry::RegQueryValueExA(HKEY key, const char* value_name,
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

LONG FileRegistry::RegCloseKey(HKEY key) {
  for (const RegistryRoot& root : kRegistryRoots) {
    if (key == reinterpret_cast<HKEY>(root.handle)) return kErrorSuccess;
  }
  if (open_keys_.erase(key) == 0) return Failed(kErrorInvalidHandle, "");
  return kErrorSuccess;
}

}  // namespace platform

// The registry file reader: any bytes parse, and every key and value that
// the file yields is served by the narrow calls as Windows serves it.
//
// Input: the first byte chooses the file's form, the rest is its body:
//   0  the body as it is (its own header, or none)
//   1  "REGEDIT4" and CR LF, then the body
//   2  UTF-16LE: byte-order mark, the version 5 header, CR LF and the body,
//      each byte of them one code unit
//   3  UTF-16LE: byte-order mark and the version 5 header as in 2, then the
//      body's bytes as they are (so any code unit, surrogates included)
//   4  the version 5 header narrow, then the body
// Every key line of the decoded text is opened, and every value of a key
// that exists is queried.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/posix/registry_internal.h"
#include "platform/types.h"

namespace {

using platform::DWORD;
using platform::HKEY;
using platform::LONG;

constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00\r\n";
constexpr std::size_t kMaxKeys = 64;
constexpr unsigned char kCanary = 0xA5;

struct Root {
  const char* name;
  const char* short_name;
  std::uintptr_t handle;
};

constexpr Root kRoots[] = {
    {"hkey_classes_root", "hkcr", 0x80000000u},
    {"hkey_current_user", "hkcu", 0x80000001u},
    {"hkey_local_machine", "hklm", 0x80000002u},
    {"hkey_users", "hku", 0x80000003u},
    {"hkey_current_config", "hkcc", 0x80000005u},
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

std::string Widened(const std::string& text) {
  std::string wide;
  for (char c : text) {
    wide.push_back(c);
    wide.push_back('\0');
  }
  return wide;
}

std::string FileBytes(std::uint8_t form, const std::string& body) {
  switch (form % 5) {
    case 1:
      return "REGEDIT4\r\n" + body;
    case 2:
      return "\xFF\xFE" + Widened(kVersion5Header + body);
    case 3:
      return "\xFF\xFE" + Widened(kVersion5Header) + body;
    case 4:
      return kVersion5Header + body;
    default:
      return body;
  }
}

void AppendUtf8(std::uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(char(c));
    return;
  }
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out->push_back(char(kLead[tail] | (c >> (6 * tail))));
  for (int i = tail - 1; i >= 0; --i)
    out->push_back(char(0x80 | ((c >> (6 * i)) & 0x3F)));
}

// The text as the parser reads it: a wide file decoded to UTF-8 (a lone
// surrogate as U+FFFD, an odd last byte dropped), a UTF-8 mark dropped.
std::string DecodedText(const std::string& bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (bytes.compare(0, 2, "\xFF\xFE") != 0) return bytes;
  std::vector<std::uint32_t> units;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
    units.push_back(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8);
  std::string text;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    const bool high = c >= 0xD800 && c < 0xDC00;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(c, &text);
  }
  return text;
}

// Whether a hex(...) tag can be in the text: only a value line holds one,
// as a continuation line takes hex items alone.
bool TagsPossible(const std::string& text) {
  return Lower(text).find("hex(") != std::string::npos;
}

std::string Trimmed(const std::string& line) {
  const std::size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// The paths of the key lines, a deleting "-" dropped.
std::vector<std::string> KeyPaths(const std::string& text) {
  std::vector<std::string> paths;
  std::size_t start = 0;
  while (start <= text.size() && paths.size() < kMaxKeys) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trimmed(text.substr(start, end - start));
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      std::string path = line.substr(1, line.size() - 2);
      if (!path.empty() && path.front() == '-') path.erase(0, 1);
      paths.push_back(fuzz::CString(path));  // as the narrow calls can ask
    }
    start = end + 1;
  }
  return paths;
}

const Root* FindRoot(const std::string& name) {
  const std::string folded = Lower(name);
  for (const Root& root : kRoots)
    if (folded == root.name || folded == root.short_name) return &root;
  return nullptr;
}

HKEY Handle(const Root& root) { return reinterpret_cast<HKEY>(root.handle); }

bool IsString(DWORD type) {
  return type == platform::kRegSz || type == platform::kRegExpandSz ||
         type == platform::kRegMultiSz;
}

// One query offering `offered` bytes: 0 with the value in front and nothing
// behind it touched, or 234 with the size needed and nothing touched. Only
// the kept bytes of a longer value are known here; the rest is read anew.
void CheckQuery(platform::PosixRegistry& registry, HKEY key,
                const std::string& name, const platform::RegistryValue& value,
                DWORD offered) {
  const DWORD needed = DWORD(value.size);
  std::vector<unsigned char> buffer(std::size_t(offered) + 16, kCanary);
  DWORD type = 0xFFFFFFFFu;
  DWORD size = offered;
  const LONG result = registry.RegQueryValueExA(key, name.c_str(), nullptr,
                                                &type, buffer.data(), &size);
  FUZZ_CHECK(type == value.type);
  FUZZ_CHECK(size == needed);
  std::size_t untouched_from = 0;
  if (needed <= offered) {
    FUZZ_CHECK(result == platform::kErrorSuccess);
    FUZZ_CHECK(value.data.empty() ||
               std::memcmp(buffer.data(), value.data.data(),
                           value.data.size()) == 0);
    untouched_from = needed;
  } else {
    FUZZ_CHECK(result == platform::kErrorMoreData);
  }
  for (std::size_t i = untouched_from; i < buffer.size(); ++i)
    FUZZ_CHECK(buffer[i] == kCanary);
}

// The size-only query, queries around the size needed, a repeat, the name
// in another letter case and the calls Windows refuses. A value that cannot
// be read is not found, and the registry says why.
void CheckValue(platform::PosixRegistry& registry, HKEY key,
                const std::string& name, const platform::RegistryValue& value,
                bool tags_possible) {
  DWORD type = 0;
  DWORD size = 0xFFFFFFFFu;
  if (value.fault != nullptr) {
    FUZZ_CHECK(registry.RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                         nullptr, &size) ==
               platform::kErrorFileNotFound);
    FUZZ_CHECK(registry.LastFailureReason() != nullptr);
    return;
  }
  const DWORD needed = DWORD(value.size);
  FUZZ_CHECK(value.data.size() ==
             std::min<std::size_t>(needed, platform::kKeptValueBytes));
  FUZZ_CHECK(registry.RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                       nullptr, &size) == 0);
  FUZZ_CHECK(type == value.type && size == needed);

  for (DWORD offered : {DWORD(0), needed / 2, needed - (needed > 0),
                        needed, needed + 1, needed + 100}) {
    CheckQuery(registry, key, name, value, offered);
  }
  CheckQuery(registry, key, Upper(name), value, needed);

  DWORD reserved = 0;
  unsigned char byte = 0;
  FUZZ_CHECK(registry.RegQueryValueExA(key, name.c_str(), &reserved, nullptr,
                                       nullptr, &size) ==
             platform::kErrorInvalidParameter);
  FUZZ_CHECK(registry.RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                       &byte, nullptr) ==
             platform::kErrorInvalidParameter);

  // Only a hex(...) tag makes types other than these, and only it can hold
  // a string without its terminator.
  if (!tags_possible) {
    FUZZ_CHECK(value.type == platform::kRegSz ||
               value.type == platform::kRegBinary ||
               value.type == platform::kRegDword);
  }
  if (value.type == platform::kRegDword && !tags_possible)
    FUZZ_CHECK(needed == 4);
  if (IsString(value.type) && !tags_possible && value.Whole())
    FUZZ_CHECK(needed > 0 && value.data.back() == '\0');
}

// A key line's path: open through the root and, for a subkey, through its
// parent; each agrees with the parsed file, and every value is served.
void CheckKey(const platform::RegistryFile& file,
              platform::PosixRegistry& registry, const std::string& path,
              bool tags_possible) {
  const platform::RegistryFileKey* key = file.FindKey(path);
  const std::size_t slash = path.find('\\');
  const Root* root = FindRoot(path.substr(0, slash));
  if (root == nullptr) {
    FUZZ_CHECK(key == nullptr);
    return;
  }
  const std::string sub_key =
      slash == std::string::npos ? "" : path.substr(slash + 1);

  HKEY handle = nullptr;
  const LONG opened = registry.RegOpenKeyExA(Handle(*root), sub_key.c_str(), 0,
                                             platform::kKeyRead, &handle);
  // An empty subkey opens the root itself.
  const bool exists = sub_key.empty() || key != nullptr;
  FUZZ_CHECK((opened == 0) == exists);
  if (opened != 0) {
    FUZZ_CHECK(opened == platform::kErrorFileNotFound);
    return;
  }
  if (key == nullptr) key = file.FindKey(root->name);
  FUZZ_CHECK(key != nullptr);

  for (const auto& [name, value] : key->values) {
    FUZZ_CHECK(key->FindValue(name) == &value);
    FUZZ_CHECK(key->FindValue(Upper(name)) == &value);
    // A name with a zero byte in it cannot be asked for by the narrow calls.
    if (name.find('\0') == std::string::npos)
      CheckValue(registry, handle, name, value, tags_possible);
  }
  DWORD size = 0;
  const std::string missing = "\x02no such value";
  if (key->FindValue(missing) == nullptr) {
    FUZZ_CHECK(registry.RegQueryValueExA(handle, missing.c_str(), nullptr,
                                         nullptr, nullptr, &size) ==
               platform::kErrorFileNotFound);
  }

  // A key's parent exists, and opens the key relative to it.
  const std::size_t last = sub_key.rfind('\\');
  if (key != file.FindKey(root->name) && last != std::string::npos) {
    FUZZ_CHECK(file.FindKey(path.substr(0, slash + 1 + last)) != nullptr);
    HKEY parent = nullptr;
    HKEY child = nullptr;
    FUZZ_CHECK(registry.RegOpenKeyExA(Handle(*root),
                                      sub_key.substr(0, last).c_str(), 0,
                                      platform::kKeyRead, &parent) == 0);
    FUZZ_CHECK(registry.RegOpenKeyExA(parent, sub_key.substr(last + 1).c_str(),
                                      0, platform::kKeyRead, &child) == 0);
    FUZZ_CHECK(registry.RegCloseKey(child) == 0);
    FUZZ_CHECK(registry.RegCloseKey(parent) == 0);
  }

  FUZZ_CHECK(registry.RegCloseKey(handle) == 0);
  FUZZ_CHECK(registry.RegCloseKey(handle) == platform::kErrorInvalidHandle);
  FUZZ_CHECK(registry.RegQueryValueExA(handle, "", nullptr, nullptr, nullptr,
                                       &size) == platform::kErrorInvalidHandle);
}

// What a file says of each path: whether the key exists, and its values
// (type, kept data, size; a value that cannot be read as type ~0).
using Values =
    std::map<std::string, std::tuple<DWORD, std::string, std::uint64_t>>;
using Snapshot = std::vector<std::optional<Values>>;

// A value line that cannot be read, put before each key line by
// CheckContinuationsKeepKeyLines and left out of snapshots.
constexpr char kJunkName[] = "\x01junk";

// Keys are looked for on first request and kept: the order of the requests
// must not matter, so `reverse` asks for them the other way round.
Snapshot TakeSnapshot(const platform::RegistryFile& file,
                      const std::vector<std::string>& paths, bool reverse) {
  Snapshot snapshot(paths.size());
  for (std::size_t n = 0; n < paths.size(); ++n) {
    const std::size_t i = reverse ? paths.size() - 1 - n : n;
    const platform::RegistryFileKey* key = file.FindKey(paths[i]);
    if (key == nullptr) continue;
    snapshot[i].emplace();
    for (const auto& [name, value] : key->values) {
      if (name == kJunkName) continue;
      const DWORD type = value.fault != nullptr ? ~DWORD(0) : value.type;
      (*snapshot[i])[name] = {type, value.data, value.size};
    }
  }
  return snapshot;
}

// A hex value that a backslash runs on, put before every key line, must
// change nothing: a continuation never takes a key line.
void CheckContinuationsKeepKeyLines(const std::string& narrow) {
  std::string guarded;
  std::size_t start = 0;
  while (start < narrow.size()) {
    std::size_t end = narrow.find('\n', start);
    end = end == std::string::npos ? narrow.size() : end + 1;
    const std::string line = narrow.substr(start, end - start);
    if (start > 0 && Trimmed(line).compare(0, 1, "[") == 0)
      guarded += std::string("\"") + kJunkName + "\"=hex:00,\\\r\n";
    guarded += line;
    start = end;
  }
  const std::vector<std::string> paths = KeyPaths(narrow);
  FUZZ_CHECK(TakeSnapshot(platform::RegistryFile::Parse(narrow), paths, false) ==
             TakeSnapshot(platform::RegistryFile::Parse(guarded), paths, false));
}

// The same text, narrow or UTF-16LE, gives the same keys and values (bytes
// outside ASCII left out, as they would decode differently).
void CheckEncodingsAgree(const std::string& body) {
  std::string ascii;
  for (char c : body)
    if ((c & 0x80) == 0) ascii.push_back(c);
  const std::string narrow = kVersion5Header + ascii;
  const std::vector<std::string> paths = KeyPaths(narrow);
  const platform::RegistryFile narrow_file =
      platform::RegistryFile::Parse(narrow);
  const platform::RegistryFile wide_file =
      platform::RegistryFile::Parse("\xFF\xFE" + Widened(narrow));
  FUZZ_CHECK(TakeSnapshot(narrow_file, paths, false) ==
             TakeSnapshot(wide_file, paths, true));
  CheckContinuationsKeepKeyLines(narrow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string bytes = FileBytes(data[0], body);

  const platform::RegistryFile file = platform::RegistryFile::Parse(bytes);
  const std::string text = DecodedText(bytes);
  const std::vector<std::string> paths = KeyPaths(text);
  // The same bytes give the same file, whichever registry serves it: one
  // pass for every key, all named up front, gives what a pass for each does.
  platform::PosixRegistry registry(
      [&bytes] { return platform::RegistryFile::Parse(bytes); });
  std::vector<const char*> named;
  for (const std::string& path : paths) named.push_back(path.c_str());
  named.push_back(nullptr);
  registry.Expect(named.data());

  for (const Root& root : kRoots) {
    FUZZ_CHECK(file.FindKey(root.name) != nullptr);
    FUZZ_CHECK(file.FindKey(Upper(root.short_name)) != nullptr);
  }
  const bool tags_possible = TagsPossible(text);
  for (const Root& root : kRoots) {
    for (const auto& [name, value] : file.FindKey(root.name)->values) {
      if (name.find('\0') == std::string::npos)
        CheckValue(registry, Handle(root), name, value, tags_possible);
    }
  }
  for (const std::string& path : paths)
    CheckKey(file, registry, path, tags_possible);
  FUZZ_CHECK(TakeSnapshot(file, paths, false) ==
             TakeSnapshot(platform::RegistryFile::Parse(bytes), paths, true));
  CheckEncodingsAgree(body);

  HKEY unused = nullptr;
  FUZZ_CHECK(registry.RegOpenKeyExA(reinterpret_cast<HKEY>(std::uintptr_t(1)),
                                    "", 0, platform::kKeyRead, &unused) ==
             platform::kErrorInvalidHandle);
  return 0;
}

#include "platform/posix/registry_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform {
namespace {

constexpr const char* kDefaultRegistryPath = "/etc/opt/talvane/registry.reg";
constexpr std::string_view kVersion4Header = "REGEDIT4";
constexpr std::string_view kVersion5Header =
    "Windows Registry Editor Version 5.00";

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

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldCase(c);
  return folded;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         Folded(text.substr(0, prefix.size())) == prefix;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r'))
    text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = FoldCase(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// 1 to `max_digits` hex digits and nothing else.
bool ParseHexNumber(std::string_view text, std::size_t max_digits,
                    DWORD* number) {
  if (text.empty() || text.size() > max_digits) return false;
  *number = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    *number = (*number << 4) | DWORD(digit);
  }
  return true;
}

void AppendUtf8(std::uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(char(code_point));
  } else if (code_point < 0x800) {
    out->push_back(char(0xC0 | (code_point >> 6)));
    out->push_back(char(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(char(0xE0 | (code_point >> 12)));
    out->push_back(char(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(char(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (code_point >> 18)));
    out->push_back(char(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(char(0x80 | (code_point & 0x3F)));
  }
}

// UTF-16LE to UTF-8. A lone surrogate becomes U+FFFD and an odd last byte
// is dropped, so that damaged text still reads.
std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);  // exact for ASCII, grows for the rest
  const std::size_t units = bytes.size() / 2;
  auto unit = [&bytes](std::size_t i) {
    return std::uint32_t(std::uint8_t(bytes[2 * i])) |
           std::uint32_t(std::uint8_t(bytes[2 * i + 1])) << 8;
  };
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t code_point = unit(i);
    if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < units &&
        unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      code_point =
          0x10000 + ((code_point - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (code_point >= 0xD800 && code_point <= 0xDFFF) {
      code_point = 0xFFFD;
    }
    AppendUtf8(code_point, &out);
  }
  return out;
}

// The folded full path of a key, its root spelled out; false for an
// unknown root or an empty name between backslashes.
bool NormalizeKeyPath(std::string_view path, std::string* normalized) {
  const std::size_t slash = path.find('\\');
  const std::string root = Folded(path.substr(0, slash));
  const Root* found = nullptr;
  for (const Root& candidate : kRoots) {
    if (root == candidate.name || root == candidate.short_name)
      found = &candidate;
  }
  if (found == nullptr) return false;
  *normalized = found->name;
  if (slash == std::string_view::npos) return true;
  const std::string_view rest = path.substr(slash + 1);
  if (rest.empty() || rest.front() == '\\' || rest.back() == '\\' ||
      rest.find("\\\\") != std::string_view::npos) {
    return false;
  }
  normalized->push_back('\\');
  normalized->append(Folded(rest));
  return true;
}

// Splits text into lines at LF; the CR of a CR LF stays for the trimming.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  bool Next(std::string_view* line) {
    if (rest_.empty()) return false;
    const std::size_t end = rest_.find('\n');
    *line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return true;
  }

 private:
  std::string_view rest_;
};

// A quoted text at the start of `text` with \\ and \" unescaped; any other
// backslash is kept as written, as hand-written paths need. `text` is left
// behind the closing quote.
bool ParseQuoted(std::string_view* text, std::string* out) {
  if (text->empty() || text->front() != '"') return false;
  out->clear();
  for (std::size_t i = 1; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < text->size() &&
        ((*text)[i + 1] == '\\' || (*text)[i + 1] == '"')) {
      ++i;
    }
    out->push_back((*text)[i]);
  }
  return false;
}

// Comma-separated bytes of one or two hex digits; blanks around them and
// one comma at the end are allowed.
bool ParseHexList(std::string_view list, std::string* bytes) {
  bytes->clear();
  list = TrimBlanks(list);
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    DWORD byte = 0;
    if (!ParseHexNumber(TrimBlanks(list.substr(0, comma)), 2, &byte))
      return false;
    bytes->push_back(char(byte));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return true;
}

}  // namespace

// Applies the lines of a decoded file to a RegistryFile in order.
class RegistryFileParser {
 public:
  RegistryFileParser(RegistryFile* file, bool wide_strings)
      : file_(file), wide_strings_(wide_strings) {}

  void ParseLines(LineReader* lines) {
    std::string_view line;
    while (lines->Next(&line)) {
      line = TrimBlanks(line);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        KeyLine(line);
      } else if (line.front() == '"' || line.front() == '@') {
        ValueLine(line, lines);
      }
      // Anything else is skipped, as regedit does.
    }
  }

 private:
  void KeyLine(std::string_view line) {
    current_ = nullptr;  // values after a bad or deleting line go nowhere
    if (line.back() != ']') return;
    std::string_view path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    std::string normalized;
    if (!NormalizeKeyPath(path, &normalized)) return;
    if (remove) {
      DeleteKey(normalized);
    } else {
      current_ = &CreateKey(normalized);
    }
  }

  RegistryFileKey& CreateKey(const std::string& path) {
    auto [it, created] = file_->keys_.try_emplace(path);
    // Parents up to the first existing one, so each is made once.
    std::string parent = path;
    while (created) {
      const std::size_t slash = parent.rfind('\\');
      if (slash == std::string::npos) break;
      parent.resize(slash);
      created = file_->keys_.try_emplace(parent).second;
    }
    return it->second;
  }

  void DeleteKey(const std::string& path) {
    if (path.find('\\') == std::string::npos) return;  // roots stay
    auto& keys = file_->keys_;
    keys.erase(path);
    const std::string prefix = path + '\\';
    auto end = keys.lower_bound(prefix);
    while (end != keys.end() &&
           end->first.compare(0, prefix.size(), prefix) == 0)
      ++end;
    keys.erase(keys.lower_bound(prefix), end);
  }

  void ValueLine(std::string_view line, LineReader* lines) {
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ParseQuoted(&line, &name)) {
      return;
    }
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '=') return;
    const std::string_view data = TrimBlanks(line.substr(1));
    if (current_ == nullptr) {
      SkipContinuation(data, lines);
      return;
    }
    if (data == "-") {
      current_->values.erase(Folded(name));
      return;
    }
    RegistryValue value;
    if (!ParseData(data, lines, &value)) return;
    current_->values.insert_or_assign(Folded(name), std::move(value));
  }

  bool ParseData(std::string_view data, LineReader* lines,
                 RegistryValue* value) {
    if (!data.empty() && data.front() == '"') {
      value->type = kRegSz;
      if (!ParseQuoted(&data, &value->data) || !data.empty()) return false;
      value->data.push_back('\0');
      return true;
    }
    if (StartsWithFolded(data, "dword:")) {
      DWORD number = 0;
      if (!ParseHexNumber(data.substr(6), 8, &number)) return false;
      value->type = kRegDword;
      value->data.clear();
      for (int i = 0; i < 4; ++i)
        value->data.push_back(char(number >> (8 * i)));
      return true;
    }
    if (StartsWithFolded(data, "hex")) return ParseHexData(data, lines, value);
    return false;
  }

  // hex:... or hex(N):..., continued over lines that a backslash ends.
  bool ParseHexData(std::string_view data, LineReader* lines,
                    RegistryValue* value) {
    const std::string_view list = JoinContinuation(data, lines);
    const std::size_t colon = list.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view tag = list.substr(3, colon - 3);
    value->type = kRegBinary;
    if (!tag.empty()) {
      if (tag.size() < 3 || tag.front() != '(' || tag.back() != ')')
        return false;
      if (!ParseHexNumber(tag.substr(1, tag.size() - 2), 8, &value->type))
        return false;
    }
    if (!ParseHexList(list.substr(colon + 1), &value->data)) return false;
    // Version 5 files hold these as UTF-16LE; the narrow query hands them
    // out narrow.
    if (wide_strings_ &&
        (value->type == kRegSz || value->type == kRegExpandSz ||
         value->type == kRegMultiSz)) {
      value->data = Utf16LeToUtf8(value->data);
    }
    return true;
  }

  std::string_view JoinContinuation(std::string_view data, LineReader* lines) {
    if (data.empty() || data.back() != '\\') return data;
    joined_.assign(data);
    std::string_view next;
    while (!joined_.empty() && joined_.back() == '\\') {
      joined_.pop_back();
      if (!lines->Next(&next)) break;
      joined_.append(TrimBlanks(next));
    }
    return joined_;
  }

  void SkipContinuation(std::string_view data, LineReader* lines) {
    if (StartsWithFolded(data, "hex")) JoinContinuation(data, lines);
  }

  RegistryFile* file_;
  const bool wide_strings_;
  RegistryFileKey* current_ = nullptr;
  std::string joined_;  // reused, so long hex lists cost no more than once
};

const RegistryValue* RegistryFileKey::FindValue(std::string_view name) const {
  const auto it = values.find(Folded(name));
  return it == values.end() ? nullptr : &it->second;
}

RegistryFile::RegistryFile() {
  for (const Root& root : kRoots) keys_.try_emplace(root.name);
}

RegistryFile RegistryFile::Parse(std::string_view bytes) {
  RegistryFile file;
  std::string decoded;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    decoded = Utf16LeToUtf8(bytes.substr(2));
    bytes = decoded;
  } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  }
  LineReader lines(bytes);
  std::string_view header;
  if (!lines.Next(&header)) return file;
  header = TrimBlanks(header);
  if (header != kVersion5Header && header != kVersion4Header) return file;
  RegistryFileParser parser(&file, header == kVersion5Header);
  parser.ParseLines(&lines);
  return file;
}

const RegistryFileKey* RegistryFile::FindKey(std::string_view path) const {
  std::string normalized;
  if (!NormalizeKeyPath(path, &normalized)) return nullptr;
  const auto it = keys_.find(normalized);
  return it == keys_.end() ? nullptr : &it->second;
}

std::string RegistryFilePath() {
  const char* path = std::getenv("TALVANE_REGISTRY");
  return path != nullptr && *path != '\0' ? path : kDefaultRegistryPath;
}

RegistryFile LoadRegistryFile(const std::string& path) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) return RegistryFile();
  std::string bytes;
  // One allocation for a regular file; the loop still reads whatever comes.
  if (std::fseek(stream, 0, SEEK_END) == 0) {
    const long end = std::ftell(stream);
    if (end > 0) bytes.reserve(std::size_t(end));
    std::rewind(stream);
  }
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
    bytes.append(chunk, got);
  const bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) return RegistryFile();
  return RegistryFile::Parse(bytes);
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

bool FileRegistry::Resolve(HKEY key, OpenKey* open) {
  for (const Root& root : kRoots) {
    if (key == reinterpret_cast<HKEY>(root.handle)) {
      *open = OpenKey{root.name, File().FindKey(root.name)};
      return true;
    }
  }
  const auto it = open_keys_.find(key);
  if (it == open_keys_.end()) return false;
  *open = it->second;
  return true;
}

LONG FileRegistry::RegOpenKeyExA(HKEY root, const char* sub_key,
                                 DWORD /*options*/, DWORD /*access*/,
                                 HKEY* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  OpenKey parent;
  if (!Resolve(root, &parent)) return kErrorInvalidHandle;
  std::string path = parent.path;
  if (sub_key != nullptr && *sub_key != '\0') path.append("\\").append(sub_key);
  const RegistryFileKey* key = File().FindKey(path);
  if (key == nullptr) return kErrorFileNotFound;
  last_handle_ += 4;
  const HKEY handle = reinterpret_cast<HKEY>(last_handle_);
  open_keys_[handle] = OpenKey{std::move(path), key};
  *result = handle;
  return kErrorSuccess;
}

LONG FileRegistry::RegQueryValueExA(HKEY key, const char* value_name,
                                    DWORD* reserved, DWORD* type, BYTE* data,
                                    DWORD* size) {
  OpenKey open;
  if (!Resolve(key, &open)) return kErrorInvalidHandle;
  if (reserved != nullptr || (data != nullptr && size == nullptr))
    return kErrorInvalidParameter;
  const RegistryValue* value =
      open.key->FindValue(value_name != nullptr ? value_name : "");
  if (value == nullptr) return kErrorFileNotFound;
  if (type != nullptr) *type = value->type;
  if (size == nullptr) return kErrorSuccess;
  const DWORD needed = DWORD(value->data.size());
  const bool fits = *size >= needed;
  if (data != nullptr && !fits) {
    *size = needed;
    return kErrorMoreData;  // destination untouched
  }
  if (data != nullptr) std::memcpy(data, value->data.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

LONG FileRegistry::RegCloseKey(HKEY key) {
  for (const Root& root : kRoots) {
    if (key == reinterpret_cast<HKEY>(root.handle)) return kErrorSuccess;
  }
  return open_keys_.erase(key) > 0 ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace platform

#include "platform/posix/registry_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform {

// The whole file, as the scans read it.
class RegistryBytes {
 public:
  virtual ~RegistryBytes() = default;
  virtual std::string_view View() const = 0;
  // [begin, end) will not be read again by the current scan: a mapping
  // hands those pages back, so that a large file is never resident whole.
  virtual void Release(std::size_t /*begin*/, std::size_t /*end*/) const {}
};

namespace {

constexpr const char* kDefaultRegistryPath = "/etc/opt/talvane/registry.reg";
constexpr std::string_view kVersion4Header = "REGEDIT4";
constexpr std::string_view kVersion5Header =
    "Windows Registry Editor Version 5.00";
// How far a scan gets before it hands back what it has read.
constexpr std::size_t kReleaseStep = std::size_t(1) << 20;

struct Root {
  std::string_view name;
  std::string_view short_name;
  std::uintptr_t handle;
};

constexpr Root kRoots[] = {
    {"hkey_classes_root", "hkcr", 0x80000000u},
    {"hkey_current_user", "hkcu", 0x80000001u},
    {"hkey_local_machine", "hklm", 0x80000002u},
    {"hkey_users", "hku", 0x80000003u},
    {"hkey_current_config", "hkcc", 0x80000005u},
};

class OwnedBytes : public RegistryBytes {
 public:
  explicit OwnedBytes(std::string bytes) : bytes_(std::move(bytes)) {}
  std::string_view View() const override { return bytes_; }

 private:
  std::string bytes_;
};

class MappedBytes : public RegistryBytes {
 public:
  MappedBytes(void* address, std::size_t size)
      : address_(static_cast<char*>(address)), size_(size) {}
  MappedBytes(const MappedBytes&) = delete;
  MappedBytes& operator=(const MappedBytes&) = delete;
  ~MappedBytes() override { munmap(address_, size_); }
  std::string_view View() const override { return {address_, size_}; }

  void Release(std::size_t begin, std::size_t end) const override {
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    begin -= begin % page;
    end -= end % page;
    // Read-only and never written: the pages come back from the file if
    // they are read again.
    if (end > begin) madvise(address_ + begin, end - begin, MADV_DONTNEED);
  }

 private:
  char* address_;
  std::size_t size_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What TrimBlanks takes off both ends of a line.
bool IsTrimmed(char c) { return IsBlank(c) || c == '\r'; }

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldCase(c);
  return folded;
}

// `text` equals `lower`, a lower-case name, in any letter case.
bool EqualsFolded(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (FoldCase(text[i]) != lower[i]) return false;
  }
  return true;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsFolded(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
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

std::uint32_t Utf16Unit(std::string_view bytes, std::size_t i) {
  return std::uint32_t(std::uint8_t(bytes[2 * i])) |
         std::uint32_t(std::uint8_t(bytes[2 * i + 1])) << 8;
}

// UTF-16LE appended as UTF-8. A lone surrogate becomes U+FFFD and an odd
// last byte is dropped, so that damaged text still reads.
void AppendUtf16LeAsUtf8(std::string_view bytes, std::string* out) {
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t code_point = Utf16Unit(bytes, i);
    if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < units &&
        Utf16Unit(bytes, i + 1) >= 0xDC00 &&
        Utf16Unit(bytes, i + 1) <= 0xDFFF) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) +
                   (Utf16Unit(bytes, i + 1) - 0xDC00);
      ++i;
    } else if (code_point >= 0xD800 && code_point <= 0xDFFF) {
      code_point = 0xFFFD;
    }
    AppendUtf8(code_point, out);
  }
}

// The folded full path of a key, its root spelled out; false for an
// unknown root or an empty name between backslashes. Reuses the room in
// `normalized`, as it runs for every key line of a scan.
bool NormalizeKeyPath(std::string_view path, std::string* normalized) {
  const std::size_t slash = path.find('\\');
  const std::string_view root = path.substr(0, slash);
  const Root* found = nullptr;
  for (const Root& candidate : kRoots) {
    if (EqualsFolded(root, candidate.name) ||
        EqualsFolded(root, candidate.short_name)) {
      found = &candidate;
    }
  }
  if (found == nullptr) return false;
  normalized->assign(found->name);
  if (slash == std::string_view::npos) return true;
  const std::string_view rest = path.substr(slash + 1);
  if (rest.empty() || rest.front() == '\\' || rest.back() == '\\' ||
      rest.find("\\\\") != std::string_view::npos) {
    return false;
  }
  normalized->push_back('\\');
  for (char c : rest) normalized->push_back(FoldCase(c));
  return true;
}

bool IsRootPath(std::string_view normalized) {
  return normalized.find('\\') == std::string_view::npos;
}

// `lower` names a key below `upper` (both folded full paths).
bool IsBelow(std::string_view lower, std::string_view upper) {
  return lower.size() > upper.size() && lower[upper.size()] == '\\' &&
         lower.substr(0, upper.size()) == upper;
}

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

// What a scan needs of a line to decide whether to read it whole: its
// first and last characters once blanks and CRs are trimmed off ('\0' for
// a blank line; any character outside ASCII may stand as '\x80').
struct LineShape {
  char first = '\0';
  char last = '\0';
};

LineShape ShapeOf(std::string_view line) {
  std::size_t begin = 0;
  std::size_t end = line.size();
  while (begin < end && IsTrimmed(line[begin])) ++begin;
  while (end > begin && IsTrimmed(line[end - 1])) --end;
  if (begin == end) return {};
  return {line[begin], line[end - 1]};
}

// The lines of the text, split at LF (the CR of a CR LF stays for the
// trimming).
class Lines {
 public:
  virtual ~Lines() = default;
  // Moves to the next line; false at the end of the text.
  virtual bool Next(LineShape* shape) = 0;
  // The current line as UTF-8, valid until the next call.
  virtual std::string_view Text() = 0;
  // Where the next line begins, in bytes from the start of the file.
  virtual std::size_t Offset() const = 0;
};

// 8-bit text, taken as UTF-8 as it stands.
class NarrowLines : public Lines {
 public:
  NarrowLines(std::string_view bytes, std::size_t begin)
      : bytes_(bytes), next_(begin) {}

  bool Next(LineShape* shape) override {
    if (next_ >= bytes_.size()) return false;
    const char* start = bytes_.data() + next_;
    const std::size_t left = bytes_.size() - next_;
    const void* newline = std::memchr(start, '\n', left);
    const std::size_t length =
        newline == nullptr
            ? left
            : std::size_t(static_cast<const char*>(newline) - start);
    line_ = std::string_view(start, length);
    next_ += newline == nullptr ? length : length + 1;
    *shape = ShapeOf(line_);
    return true;
  }
  std::string_view Text() override { return line_; }
  std::size_t Offset() const override { return next_; }

 private:
  std::string_view bytes_;
  std::size_t next_;
  std::string_view line_;
};

// UTF-16LE text, found in place and decoded only for the lines a scan
// reads whole. `begin` is even: the units start after the byte-order mark.
class WideLines : public Lines {
 public:
  WideLines(std::string_view bytes, std::size_t begin)
      : bytes_(bytes.substr(0, bytes.size() - (bytes.size() - begin) % 2)),
        next_(begin) {}

  bool Next(LineShape* shape) override {
    if (next_ >= bytes_.size()) return false;
    const std::size_t end = FindLineFeed(next_);
    line_ = bytes_.substr(next_, end - next_);
    next_ = end == bytes_.size() ? end : end + 2;
    *shape = Shape();
    return true;
  }
  std::string_view Text() override {
    text_.clear();
    AppendUtf16LeAsUtf8(line_, &text_);
    return text_;
  }
  std::size_t Offset() const override { return next_; }

 private:
  // The offset of the next unit 0x000A from `from`, or the end. A byte
  // 0x0A may also be half of another character: only one at a unit's
  // start with a zero byte after it counts.
  std::size_t FindLineFeed(std::size_t from) const {
    std::size_t at = from;
    while (at < bytes_.size()) {
      const void* hit =
          std::memchr(bytes_.data() + at, '\n', bytes_.size() - at);
      if (hit == nullptr) break;
      const std::size_t i =
          std::size_t(static_cast<const char*>(hit) - bytes_.data());
      if ((i - from) % 2 == 0 && bytes_[i + 1] == '\0') return i;
      at = i + 1;
    }
    return bytes_.size();
  }

  static char Ascii(std::uint32_t unit) {
    return unit < 0x80 ? char(unit) : '\x80';
  }

  LineShape Shape() const {
    const std::size_t units = line_.size() / 2;
    auto trimmed = [this](std::size_t i) {
      const std::uint32_t unit = Utf16Unit(line_, i);
      return unit < 0x80 && IsTrimmed(char(unit));
    };
    std::size_t begin = 0;
    std::size_t end = units;
    while (begin < end && trimmed(begin)) ++begin;
    while (end > begin && trimmed(end - 1)) --end;
    if (begin == end) return {};
    return {Ascii(Utf16Unit(line_, begin)), Ascii(Utf16Unit(line_, end - 1))};
  }

  std::string_view bytes_;
  std::size_t next_;
  std::string_view line_;
  std::string text_;  // reused, so a scan allocates it once
};

// One pass over the lines after the header, applying in file order what
// concerns one key: its values, its deletion with itself or a parent, its
// creation with itself or a subkey. Everything else is only skipped over,
// the way regedit would read it.
class KeyScanner {
 public:
  KeyScanner(const RegistryBytes& bytes, Lines* lines, bool wide_strings,
             std::string_view target, RegistryFileKey* key)
      : bytes_(bytes),
        lines_(lines),
        wide_strings_(wide_strings),
        target_(target),
        key_(key) {}

  // True when the key exists once the whole file is applied.
  bool Run() {
    LineShape shape;
    std::size_t released = 0;
    while (lines_->Next(&shape)) {
      if (shape.first == '[') {
        KeyLine(TrimBlanks(lines_->Text()));
      } else if ((shape.first == '"' || shape.first == '@') &&
                 (in_target_ || shape.last == '\\')) {
        // Another key's value matters only if it runs on over the next
        // lines, which must then not be read as lines of their own.
        ValueLine(TrimBlanks(lines_->Text()));
      }
      // Anything else is skipped, as regedit does.
      if (lines_->Offset() - released >= kReleaseStep) {
        bytes_.Release(released, lines_->Offset());
        released = lines_->Offset();
      }
    }
    bytes_.Release(released, lines_->Offset());
    return exists_;
  }

 private:
  void KeyLine(std::string_view line) {
    in_target_ = false;  // values after a bad or deleting line go nowhere
    if (line.back() != ']') return;
    std::string_view path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    if (!NormalizeKeyPath(path, &path_)) return;
    const bool same = path_ == target_;
    if (remove) {
      if (IsRootPath(path_)) return;  // roots stay
      if (same || IsBelow(target_, path_)) {
        exists_ = false;
        key_->values.clear();
      }
      return;
    }
    // Creating a key creates its parents.
    if (same || IsBelow(path_, target_)) exists_ = true;
    in_target_ = same;
  }

  void ValueLine(std::string_view line) {
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ParseQuoted(&line, &name)) {
      return;
    }
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '=') return;
    const std::string_view data = TrimBlanks(line.substr(1));
    if (!in_target_) {
      SkipContinuation(data);
      return;
    }
    if (data == "-") {
      key_->values.erase(Folded(name));
      return;
    }
    RegistryValue value;
    if (!ParseData(data, &value)) return;
    key_->values.insert_or_assign(Folded(name), std::move(value));
  }

  bool ParseData(std::string_view data, RegistryValue* value) {
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
    if (StartsWithFolded(data, "hex")) return ParseHexData(data, value);
    return false;
  }

  // hex:... or hex(N):..., continued over lines that a backslash ends.
  bool ParseHexData(std::string_view data, RegistryValue* value) {
    const std::string_view list = JoinContinuation(data);
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
      std::string narrow;
      AppendUtf16LeAsUtf8(value->data, &narrow);
      value->data = std::move(narrow);
    }
    return true;
  }

  // `data` is copied before the next line is read: reading it may reuse
  // the room that `data` lies in.
  std::string_view JoinContinuation(std::string_view data) {
    if (data.empty() || data.back() != '\\') return data;
    joined_.assign(data);
    LineShape shape;
    while (!joined_.empty() && joined_.back() == '\\') {
      joined_.pop_back();
      if (!lines_->Next(&shape)) break;
      joined_.append(TrimBlanks(lines_->Text()));
    }
    return joined_;
  }

  void SkipContinuation(std::string_view data) {
    if (StartsWithFolded(data, "hex")) JoinContinuation(data);
  }

  const RegistryBytes& bytes_;
  Lines* lines_;
  const bool wide_strings_;
  const std::string_view target_;
  RegistryFileKey* key_;
  bool exists_ = false;
  bool in_target_ = false;  // the last key line created the target
  std::string path_;        // reused for every key line
  std::string joined_;      // reused, so long hex lists cost no more than once
};

}  // namespace

const RegistryValue* RegistryFileKey::FindValue(std::string_view name) const {
  const auto it = values.find(Folded(name));
  return it == values.end() ? nullptr : &it->second;
}

RegistryFile::RegistryFile() = default;
RegistryFile::RegistryFile(RegistryFile&&) noexcept = default;
RegistryFile& RegistryFile::operator=(RegistryFile&&) noexcept = default;
RegistryFile::~RegistryFile() = default;

RegistryFile::RegistryFile(std::unique_ptr<RegistryBytes> bytes) {
  const std::string_view text = bytes->View();
  std::size_t begin = 0;
  const bool wide = text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE';
  if (wide) {
    begin = 2;
  } else if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    begin = 3;
  }
  NarrowLines narrow_lines(text, begin);
  WideLines wide_lines(text, begin);
  Lines& lines = wide ? static_cast<Lines&>(wide_lines)
                      : static_cast<Lines&>(narrow_lines);
  LineShape shape;
  if (!lines.Next(&shape)) return;
  const std::string_view header = TrimBlanks(lines.Text());
  // Without a known header the text is not kept: the roots alone.
  if (header != kVersion5Header && header != kVersion4Header) return;
  wide_text_ = wide;
  wide_strings_ = header == kVersion5Header;
  body_ = lines.Offset();
  bytes_ = std::move(bytes);
}

RegistryFile RegistryFile::Parse(std::string_view bytes) {
  return RegistryFile(std::make_unique<OwnedBytes>(std::string(bytes)));
}

const RegistryFileKey* RegistryFile::FindKey(std::string_view path) const {
  std::string normalized;
  if (!NormalizeKeyPath(path, &normalized)) return nullptr;
  auto it = found_.find(normalized);
  if (it == found_.end()) {
    std::unique_ptr<RegistryFileKey> key = Scan(normalized);
    it = found_.emplace(std::move(normalized), std::move(key)).first;
  }
  return it->second.get();
}

std::unique_ptr<RegistryFileKey> RegistryFile::Scan(
    const std::string& path) const {
  auto key = std::make_unique<RegistryFileKey>();
  bool exists = IsRootPath(path);
  if (bytes_ != nullptr) {
    const std::string_view text = bytes_->View();
    NarrowLines narrow_lines(text, body_);
    WideLines wide_lines(text, body_);
    Lines& lines = wide_text_ ? static_cast<Lines&>(wide_lines)
                              : static_cast<Lines&>(narrow_lines);
    KeyScanner scanner(*bytes_, &lines, wide_strings_, path, key.get());
    exists = scanner.Run() || exists;
  }
  if (!exists) key.reset();
  return key;
}

std::string RegistryFilePath() {
  const char* path = std::getenv("TALVANE_REGISTRY");
  return path != nullptr && *path != '\0' ? path : kDefaultRegistryPath;
}

namespace {

// Whatever a descriptor gives until its end; null on a read error.
std::unique_ptr<RegistryBytes> ReadAll(int fd) {
  std::string bytes;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return nullptr;
    bytes.append(chunk, std::size_t(got));
  }
  return std::make_unique<OwnedBytes>(std::move(bytes));
}

// A regular file is mapped, not copied: a scan then costs only the pages
// it passes over. (A file cut short in place while mapped would stop the
// process with SIGBUS on its next scan; one rewritten in place would be
// read torn by any reader.) Pipes and the like are read.
std::unique_ptr<RegistryBytes> FileBytes(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return nullptr;
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    const std::size_t size = std::size_t(info.st_size);
    void* address = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (address != MAP_FAILED)
      return std::make_unique<MappedBytes>(address, size);
  }
  return ReadAll(fd);
}

}  // namespace

RegistryFile LoadRegistryFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return RegistryFile();
  std::unique_ptr<RegistryBytes> bytes = FileBytes(fd);
  close(fd);  // a mapping outlives its descriptor
  if (bytes == nullptr) return RegistryFile();
  return RegistryFile(std::move(bytes));
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
  for (const Root& root : kRoots) {
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

LONG FileRegistry::RegOpenKeyExA(HKEY root, const char* sub_key,
                                 DWORD /*options*/, DWORD /*access*/,
                                 HKEY* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  std::string path;
  if (!Resolve(root, &path)) return kErrorInvalidHandle;
  if (sub_key != nullptr && *sub_key != '\0') path.append("\\").append(sub_key);
  if (File().FindKey(path) == nullptr) return kErrorFileNotFound;
  last_handle_ += 4;
  const HKEY handle = reinterpret_cast<HKEY>(last_handle_);
  open_keys_[handle] = std::move(path);
  *result = handle;
  return kErrorSuccess;
}

LONG FileRegistry::RegQueryValueExA(HKEY key, const char* value_name,
                                    DWORD* reserved, DWORD* type, BYTE* data,
                                    DWORD* size) {
  std::string path;
  if (!Resolve(key, &path)) return kErrorInvalidHandle;
  if (reserved != nullptr || (data != nullptr && size == nullptr))
    return kErrorInvalidParameter;
  // Found before, when the handle was opened; kept since.
  const RegistryFileKey* open = File().FindKey(path);
  const RegistryValue* value =
      open == nullptr
          ? nullptr
          : open->FindValue(value_name != nullptr ? value_name : "");
  if (value == nullptr) return kErrorFileNotFound;
  if (type != nullptr) *type = value->type;
  if (size == nullptr) return kErrorSuccess;
  const DWORD needed = DWORD(value->data.size());
  const bool fits = *size >= needed;
  if (data != nullptr && !fits) {
    *size = needed;
    return kErrorMoreData;  // destination untouched
  }
  // Raw value bytes, copied whole: a string's terminator is among them.
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
  if (data != nullptr) std::memcpy(data, value->data.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

LONG FileRegistry::RegCloseKey(HKEY key) {
  for (const Root& root : kRoots) {
    if (key == reinterpret_cast<HKEY>(root.handle)) return kErrorSuccess;
  }
  // Both codes are small: the LONG a registry call returns holds them.
  // NOLINTNEXTLINE(bugprone-narrowing-conversions)
  return open_keys_.erase(key) > 0 ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace platform

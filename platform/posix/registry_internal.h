// The Linux stand-in's registry: the keys and values of one export file in
// the format that regedit writes, served through the narrow Windows calls.
// Its parts, from the bytes up: the source, the text reader, a value's
// data, key paths, the pass over the file, the file, and the calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"
#include "platform/types.h"

namespace platform {

// --- Where the bytes come from (registry_source.cpp) ---

// A regular file read afresh by each pass, or the bytes of a pipe (or of a
// test's text) kept in memory.
class RegistrySource {
 public:
  virtual ~RegistrySource() = default;
  // Up to `size` bytes from `offset` into `buffer`; 0 at the end. A file
  // that shrank or cannot be read any more ends where reading stopped.
  virtual std::size_t ReadAt(std::uint64_t offset, char* buffer,
                             std::size_t size) const = 0;
  // The size when opened: only a guide to how much to read at once.
  virtual std::uint64_t SizeWhenOpened() const = 0;
};

// How much of a pipe or FIFO is read; being read once, it is kept.
constexpr std::size_t kPipeReadLimit = std::size_t(1) << 20;

// `bytes` as a source.
std::unique_ptr<RegistrySource> MemorySource(std::string bytes);

// The file at `path`, opened without ever blocking: a regular file, or a
// pipe or FIFO (one nobody writes reads as empty). Null for anything else
// or a file that cannot be opened, with the reason in `why`.
std::unique_ptr<RegistrySource> OpenRegistrySource(const std::string& path,
                                                   std::string* why);

// --- The file as text (registry_text.cpp) ---

inline bool IsBlank(int c) { return c == ' ' || c == '\t'; }
// What is trimmed off both ends of a line.
inline bool IsTrimmed(int c) { return IsBlank(c) || c == '\r'; }
inline char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}
std::string Folded(std::string_view text);
std::string_view TrimBlanks(std::string_view text);
// 0-15 for a hex digit, else -1.
int HexDigit(int c);

// UTF-16LE bytes as UTF-8: a lone surrogate becomes U+FFFD and an odd last
// byte is dropped, so that damaged text still reads.
class Utf16LeToUtf8 {
 public:
  // What one more byte can complete, at most.
  static constexpr std::size_t kMaxBytes = 7;
  // Writes what `bytes` complete to `out` (room for 3 bytes a unit and
  // kMaxBytes); returns the bytes written. No bytes: the end.
  std::size_t Put(std::string_view bytes, char* out);

 private:
  std::size_t PutUnit(std::uint32_t unit, char* out);

  std::uint32_t high_ = 0;  // a high surrogate waiting for its pair
  int low_byte_ = -1;       // a unit's first byte, its second not read
};

// A source's text as UTF-8 one character at a time, decoded a chunk at a
// time: UTF-16LE after its byte-order mark, else 8-bit text as UTF-8.
class TextReader {
 public:
  static constexpr int kEnd = -1;

  explicit TextReader(const RegistrySource& source) : source_(source) {}

  // The next character as a byte (0-255), or kEnd at the end of the text.
  int Peek() { return at_ < end_ ? static_cast<unsigned char>(*at_) : Refill(); }
  // Passes the character that Peek gave (not kEnd).
  void Next() { ++at_; }
  bool AtLineEnd() {
    const int c = Peek();
    return c == '\n' || c == kEnd;
  }
  // Passes blanks and CRs.
  void SkipBlanks();
  // Passes the rest of the line and its line feed.
  void SkipLine();

 private:
  int Refill();
  std::size_t PassByteOrderMark(std::string_view raw);
  std::string_view DecodeUtf16(std::string_view raw);

  const RegistrySource& source_;
  std::uint64_t offset_ = 0;
  bool ended_ = false;
  bool utf16_ = false;
  Utf16LeToUtf8 utf16_text_;
  // Left uninitialized: a small file touches only the pages it fills.
  std::unique_ptr<char[]> raw_;
  std::size_t chunk_bytes_ = 0;
  std::unique_ptr<char[]> decoded_;  // UTF-16LE text as UTF-8
  const char* at_ = nullptr;
  const char* end_ = nullptr;
};

// The rest of the line, its line feed left, into `line` when it holds at
// most `limit` characters; else false, the rest left unread.
bool ReadLineUpTo(TextReader& text, std::size_t limit, std::string* line);

// A "quoted" text from its opening quote on, each character handed to
// `put` with \\ and \" unescaped (any other backslash kept, as hand-written
// paths need); false when the line ends before the closing quote.
template <typename Put>
bool ReadQuoted(TextReader& text, Put put) {
  text.Next();  // the opening quote
  for (;;) {
    int c = text.Peek();
    if (c == '\n' || c == TextReader::kEnd) return false;
    text.Next();
    if (c == '"') return true;
    if (c == '\\' && (text.Peek() == '\\' || text.Peek() == '"')) {
      c = text.Peek();
      text.Next();
    }
    put(char(c));
  }
}

// --- A value's data (registry_value_data.cpp) ---

// A value as RegQueryValueExA hands it out: strings narrow (UTF-8) and with
// their terminator.
struct RegistryValue {
  DWORD type = kRegSz;
  std::string data;        // the first bytes, as many as were to be kept
  std::uint64_t size = 0;  // of the whole value
  // Why the data cannot be read whole, or null. Such a value is not found.
  const char* fault = nullptr;

  bool Whole() const { return data.size() == size; }
};

// How hex(1), hex(2) and hex(7) data hold their strings: UTF-16LE in a
// version 5 file, narrow in a REGEDIT4 one; handed out narrow either way.
enum class HexStrings { kNarrow, kUtf16Le };

// Reads the data ("...", dword:..., hex:... or hex(N):... over continuation
// lines) at the reader's next character, keeping at most `keep` bytes of
// it, and leaves the reader at the start of the line after the value.
RegistryValue ReadValueData(TextReader& text, HexStrings hex_strings,
                            std::size_t keep);

// --- Key paths (registry_path.cpp) ---

// Names held in place, not pointed to, so that the table needs no
// relocation at start.
struct RegistryRoot {
  char name[20];  // folded
  char short_name[5];
  std::uintptr_t handle;  // the predefined HKEY
};
extern const RegistryRoot kRegistryRoots[5];

// The full path of a key folded to one spelling, its root spelled out;
// false for an unknown root or an empty name between backslashes.
bool NormalizeKeyPath(std::string_view path, std::string* normalized);
bool IsRootPath(std::string_view normalized);
// `lower` names a key below `upper` (both folded full paths).
bool IsBelow(std::string_view lower, std::string_view upper);

// --- One pass over the file (registry_scanner.cpp) ---

// What the file says of one key: its values by folded name. A value whose
// fault is set cannot be read and counts as missing.
struct RegistryFileKey {
  bool exists = false;
  std::map<std::string, RegistryValue> values;
  // False when values were left out to keep memory bounded: a name not
  // among them must be looked for alone.
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

// Fills `keys` from `text`, standing at the line after the header: what
// concerns them is applied in file order the way regedit imports the file.
void ScanKeys(TextReader& text, HexStrings hex_strings,
              const ValueSelection& selection, std::vector<KeyScan>* keys);

// --- The file (registry_file.cpp) ---

// Bytes of a value's data that a key keeps: every caller's capacity. The
// size of the whole value is known all the same.
constexpr std::size_t kKeptValueBytes = 260;

// The keys of an export file; the five roots always exist. Nothing is read
// until a key is first asked for; one pass then finds it and every key
// named by Expect, keeping only their values. A key asked for later takes a
// pass of its own. Answers are kept. For one thread.
class RegistryFile {
 public:
  // The roots alone, without values; `why` says why there is no more.
  explicit RegistryFile(std::string why = "");
  // "REGEDIT4" or "Windows Registry Editor Version 5.00", the latter also
  // in UTF-16LE; without a known header there are no keys beyond the roots.
  explicit RegistryFile(std::unique_ptr<RegistrySource> source);

  // A file held in memory (copied).
  static RegistryFile Parse(std::string_view bytes);

  // Names keys to find with the first one asked for: full paths, up to a
  // null, in a list that stays valid until then.
  void Expect(const char* const* paths) { expected_ = paths; }

  // The key at `path` ("HKEY_LOCAL_MACHINE\\A\\B", HKLM for short, any
  // letter case), or null; valid as long as the file.
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

// The registry file of this machine: TALVANE_REGISTRY, else the default.
std::string RegistryFilePath();

// The file at `path`; one that cannot be read gives the roots alone.
RegistryFile LoadRegistryFile(const std::string& path);

// --- The calls (registry-posix.cpp) ---

// The Registry calls over a RegistryFile loaded on first use.
class PosixRegistry : public Registry {
 public:
  // Loads LoadRegistryFile(RegistryFilePath()).
  PosixRegistry();
  explicit PosixRegistry(std::function<RegistryFile()> load);

  // Keys to find in the first open's pass (RegistryFile::Expect).
  void Expect(const char* const* paths) { expected_ = paths; }

  LONG RegOpenKeyExA(HKEY root, const char* sub_key, DWORD options,
                     DWORD access, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* reserved,
                        DWORD* type, BYTE* data, DWORD* size) override;
  LONG RegCloseKey(HKEY key) override;
  const char* LastFailureReason() const override;

 private:
  const RegistryFile& File();
  // The path of a predefined root or an open handle; a root's values are
  // looked for only when one is queried.
  bool Resolve(HKEY key, std::string* path);
  // The value, read anew when the kept one cannot answer the query.
  bool Lookup(const std::string& path, const char* name, const BYTE* data,
              const DWORD* size, RegistryValue* value);
  LONG Failed(LONG status, std::string why);

  std::function<RegistryFile()> load_;
  std::optional<RegistryFile> file_;
  const char* const* expected_ = nullptr;
  std::unordered_map<HKEY, std::string> open_keys_;
  std::uintptr_t last_handle_ = 0x1000;
  std::string why_;  // of the last call that failed
};

}  // namespace platform

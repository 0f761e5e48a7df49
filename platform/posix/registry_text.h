// The registry file as text: its encoding found once from its first bytes,
// and a reader that hands the text on as UTF-8 one character at a time,
// decoding fixed chunks as it goes: no line is ever held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/registry_source.h"

namespace platform {

inline bool IsBlank(int c) { return c == ' ' || c == '\t'; }
// What is trimmed off both ends of a line.
inline bool IsTrimmed(int c) { return IsBlank(c) || c == '\r'; }
inline char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}
std::string Folded(std::string_view text);
// 0-15 for a hex digit, else -1.
int HexDigit(int c);

// UTF-16 code units as UTF-8: a surrogate pair becomes one character, a
// lone surrogate U+FFFD.
class Utf16ToUtf8 {
 public:
  static constexpr std::size_t kMaxBytes = 7;  // one call's most
  // Writes what `unit` completes to `out`; returns the bytes written.
  std::size_t Put(std::uint32_t unit, char* out);
  // What a high surrogate still waiting for its pair leaves at the end.
  std::size_t Finish(char* out);

 private:
  std::uint32_t high_ = 0;  // a high surrogate waiting for its pair
};

// Turns the file's bytes, chunk after chunk, into UTF-8.
class TextDecoder {
 public:
  virtual ~TextDecoder() = default;
  // Forgets what the last pass left pending.
  virtual void Reset() = 0;
  // The next bytes as UTF-8, valid until the next call; empty `raw` at
  // the end of the file.
  virtual std::string_view Decode(std::string_view raw) = 0;
};

// How a file's text is encoded, as its first bytes say.
struct TextFormat {
  std::uint64_t begin = 0;  // past a byte-order mark
  // UTF-16LE after its mark; else 8-bit text, taken as UTF-8.
  std::unique_ptr<TextDecoder> decoder;
};
TextFormat DetectTextFormat(const RegistrySource& source);

// The text of a source as UTF-8 characters, from `begin` on.
class TextReader {
 public:
  static constexpr int kEnd = -1;

  TextReader(const RegistrySource& source, const TextFormat& format);

  // The next character as a byte (0-255), or kEnd at the end of the text.
  int Peek() { return at_ < end_ ? static_cast<unsigned char>(*at_) : Refill(); }
  // Passes the character that Peek gave (not kEnd).
  void Next() { ++at_; }
  // Passes blanks and CRs.
  void SkipBlanks();
  // Passes the rest of the line and its line feed.
  void SkipLine();

 private:
  int Refill();

  const RegistrySource& source_;
  TextDecoder& decoder_;
  std::uint64_t offset_;
  bool ended_ = false;
  // Left uninitialized: a small file touches only the pages it fills.
  std::unique_ptr<char[]> raw_;
  std::size_t chunk_bytes_ = 0;
  const char* at_ = nullptr;
  const char* end_ = nullptr;
};

// The rest of the current line, its line feed left, into `line` when it
// holds at most `limit` characters; else false, the rest of the line left
// unread.
bool ReadLineUpTo(TextReader& text, std::size_t limit, std::string* line);

}  // namespace platform

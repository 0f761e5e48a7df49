// The registry file as text: a reader that hands it on as UTF-8 one
// character at a time, decoding fixed chunks as it goes; a caller holds at
// most as much of a line as it asks for (ReadLineUpTo). Its first chunk
// tells the encoding.
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
std::string_view TrimBlanks(std::string_view text);
// 0-15 for a hex digit, else -1.
int HexDigit(int c);

// UTF-16LE bytes as UTF-8: two bytes make a code unit, a surrogate pair
// one character, a lone surrogate U+FFFD. An odd last byte is dropped, so
// that damaged text still reads.
class Utf16LeToUtf8 {
 public:
  // What one more byte can complete, at most.
  static constexpr std::size_t kMaxBytes = 7;
  // Writes what `bytes` complete to `out`, which has room for 3 bytes a
  // unit and kMaxBytes; returns the bytes written. No bytes: the end, and
  // what it leaves (a high surrogate without its pair).
  std::size_t Put(std::string_view bytes, char* out);

 private:
  std::size_t PutUnit(std::uint32_t unit, char* out);

  std::uint32_t high_ = 0;  // a high surrogate waiting for its pair
  int low_byte_ = -1;       // a unit's first byte, its second not read
};

// The text of a source as UTF-8 characters: UTF-16LE after its byte-order
// mark, else 8-bit text taken as UTF-8 (its mark passed, if any).
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

// The rest of the current line, its line feed left, into `line` when it
// holds at most `limit` characters; else false, the rest of the line left
// unread.
bool ReadLineUpTo(TextReader& text, std::size_t limit, std::string* line);

// A "quoted" text from its opening quote on, each character handed to
// `put` with \\ and \" unescaped (any other backslash is kept as written,
// as hand-written paths need); false when the line ends before the
// closing quote.
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

}  // namespace platform

#include "platform/posix/registry_internal.h"

#include <utility>

namespace platform {
namespace {

constexpr std::uint64_t kLargestValue = 0xFFFFFFFFu;  // a DWORD's worth

constexpr const char* kUnknownData =
    "the data is neither \"text\", dword: nor hex:";
constexpr const char* kOpenQuote = "the text has no closing quote";
constexpr const char* kAfterQuote = "something follows the text's closing quote";
constexpr const char* kBadDword = "a dword is 1 to 8 hex digits";
constexpr const char* kBadType = "a hex(type) is 1 to 8 hex digits";
constexpr const char* kBadItem = "an item of the hex data is not two hex digits";
constexpr const char* kPastEnd = "the hex data continues past the end of the file";
constexpr const char* kNotHexLine =
    "the hex data continues into a line that is not hex data";
constexpr const char* kTooLarge = "the value is larger than 4 GiB";

// Passes `word` (lower case) in any letter case; false where it differs.
bool PassWord(TextReader& text, std::string_view word) {
  for (char expected : word) {
    const int c = text.Peek();
    if (c == TextReader::kEnd || FoldCase(char(c)) != expected) return false;
    text.Next();
  }
  return true;
}

// 1 to 8 hex digits.
bool ReadHexNumber(TextReader& text, DWORD* number) {
  int digits = 0;
  *number = 0;
  for (int digit = HexDigit(text.Peek()); digit >= 0;
       digit = HexDigit(text.Peek())) {
    if (++digits > 8) return false;
    *number = (*number << 4) | DWORD(digit);
    text.Next();
  }
  return digits > 0;
}

// Bytes into a value: all counted, the first `keep` kept; UTF-16LE turned
// to UTF-8 on the way when asked to.
class ValueBytes {
 public:
  ValueBytes(RegistryValue* value, std::size_t keep, bool from_utf16)
      : value_(value), keep_(keep), from_utf16_(from_utf16) {}

  void Add(char byte) {
    if (!from_utf16_) return Keep(&byte, 1);
    char utf8[Utf16LeToUtf8::kMaxBytes];
    Keep(utf8, utf16_text_.Put({&byte, 1}, utf8));
  }

  void Finish() {
    char utf8[Utf16LeToUtf8::kMaxBytes];
    if (from_utf16_) Keep(utf8, utf16_text_.Put({}, utf8));
  }

 private:
  void Keep(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (value_->data.size() < keep_) value_->data.push_back(bytes[i]);
    }
    value_->size += count;
  }

  RegistryValue* value_;
  const std::size_t keep_;
  const bool from_utf16_;
  Utf16LeToUtf8 utf16_text_;
};

// "text", blanks after it and nothing else.
const char* ReadText(TextReader& text, std::size_t keep, RegistryValue* value) {
  ValueBytes bytes(value, keep, false);
  if (!ReadQuoted(text, [&bytes](char c) { bytes.Add(c); })) return kOpenQuote;
  bytes.Add('\0');
  text.SkipBlanks();
  return text.AtLineEnd() ? nullptr : kAfterQuote;
}

const char* ReadDword(TextReader& text, RegistryValue* value) {
  DWORD number = 0;
  if (!PassWord(text, "dword:") || !ReadHexNumber(text, &number)) return kBadDword;
  text.SkipBlanks();
  if (!text.AtLineEnd()) return kBadDword;
  value->type = kRegDword;
  for (int i = 0; i < 4; ++i) value->data.push_back(char(number >> (8 * i)));
  value->size = 4;
  return nullptr;
}

// After a backslash that may end the line: null on the first character of
// the continuation line, else the fault.
const char* PassContinuation(TextReader& text) {
  text.Next();  // the backslash
  text.SkipBlanks();
  if (text.Peek() == TextReader::kEnd) return kPastEnd;
  if (text.Peek() != '\n') return kBadItem;
  text.Next();
  text.SkipBlanks();
  if (text.Peek() == TextReader::kEnd) return kPastEnd;
  // Only hex data is taken: a key or value line stays a line of its own.
  return HexDigit(text.Peek()) >= 0 ? nullptr : kNotHexLine;
}

// Comma-separated items of two hex digits, blanks around them, one comma
// at the end allowed; a backslash where an item could start, at the end
// of a line, continues them on the next.
const char* ReadHexList(TextReader& text, ValueBytes* bytes) {
  for (;;) {
    text.SkipBlanks();
    if (text.AtLineEnd()) return nullptr;  // none, or a comma ended them
    if (text.Peek() == '\\') {
      if (const char* fault = PassContinuation(text)) return fault;
      continue;
    }
    const int high = HexDigit(text.Peek());
    if (high < 0) return kBadItem;
    text.Next();
    const int low = HexDigit(text.Peek());
    if (low < 0) return kBadItem;
    text.Next();
    bytes->Add(char(high << 4 | low));
    text.SkipBlanks();
    if (text.AtLineEnd()) return nullptr;
    if (text.Peek() != ',') return kBadItem;
    text.Next();
  }
}

const char* ReadHex(TextReader& text, HexStrings hex_strings,
                    std::size_t keep, RegistryValue* value) {
  if (!PassWord(text, "hex")) return kUnknownData;
  value->type = kRegBinary;
  if (text.Peek() == '(') {
    text.Next();
    if (!ReadHexNumber(text, &value->type) || text.Peek() != ')') return kBadType;
    text.Next();
  }
  if (text.Peek() != ':') return kBadType;
  text.Next();
  const bool utf16 = hex_strings == HexStrings::kUtf16Le &&
                     (value->type == kRegSz || value->type == kRegExpandSz ||
                      value->type == kRegMultiSz);
  ValueBytes bytes(value, keep, utf16);
  const char* fault = ReadHexList(text, &bytes);
  bytes.Finish();
  return fault;
}

}  // namespace

RegistryValue ReadValueData(TextReader& text, HexStrings hex_strings,
                            std::size_t keep) {
  RegistryValue value;
  const int first = text.Peek();
  if (first == '"') {
    value.fault = ReadText(text, keep, &value);
  } else if (first == 'd' || first == 'D') {
    value.fault = ReadDword(text, &value);
  } else if (first == 'h' || first == 'H') {
    value.fault = ReadHex(text, hex_strings, keep, &value);
  } else {
    value.fault = kUnknownData;
  }
  if (value.fault == nullptr && value.size > kLargestValue) value.fault = kTooLarge;
  // On to the next line, unless the reader stands at its start already.
  if (value.fault != kNotHexLine) text.SkipLine();
  return value;
}

}  // namespace platform

#include "platform/posix/registry_value_data.h"

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

bool AtLineEnd(TextReader& text) {
  const int c = text.Peek();
  return c == '\n' || c == TextReader::kEnd;
}

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
    if (low_byte_ < 0) {
      low_byte_ = static_cast<unsigned char>(byte);
      return;
    }
    const std::uint32_t unit =
        std::uint32_t(low_byte_) | std::uint32_t(static_cast<unsigned char>(byte)) << 8;
    low_byte_ = -1;
    char utf8[Utf16ToUtf8::kMaxBytes];
    Keep(utf8, units_.Put(unit, utf8));
  }

  // An odd last byte is dropped, so that damaged text still reads.
  void Finish() {
    char utf8[Utf16ToUtf8::kMaxBytes];
    if (from_utf16_) Keep(utf8, units_.Finish(utf8));
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
  Utf16ToUtf8 units_;
  int low_byte_ = -1;
};

// "text" with \\ and \" unescaped; any other backslash is kept as written,
// as hand-written paths need. Blanks may follow it, nothing else.
const char* ReadText(TextReader& text, std::size_t keep, RegistryValue* value) {
  ValueBytes bytes(value, keep, false);
  text.Next();  // the opening quote
  for (;;) {
    int c = text.Peek();
    if (c == '\n' || c == TextReader::kEnd) return kOpenQuote;
    text.Next();
    if (c == '"') break;
    if (c == '\\' && (text.Peek() == '\\' || text.Peek() == '"')) {
      c = text.Peek();
      text.Next();
    }
    bytes.Add(char(c));
  }
  bytes.Add('\0');
  text.SkipBlanks();
  return AtLineEnd(text) ? nullptr : kAfterQuote;
}

const char* ReadDword(TextReader& text, RegistryValue* value) {
  DWORD number = 0;
  if (!PassWord(text, "dword:") || !ReadHexNumber(text, &number)) return kBadDword;
  text.SkipBlanks();
  if (!AtLineEnd(text)) return kBadDword;
  value->type = kRegDword;
  for (int i = 0; i < 4; ++i) value->data.push_back(char(number >> (8 * i)));
  value->size = 4;
  return nullptr;
}

// After a backslash that may end the line: true on the first character of
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
    if (AtLineEnd(text)) return nullptr;  // none, or a comma ended them
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
    if (AtLineEnd(text)) return nullptr;
    if (text.Peek() != ',') return kBadItem;
    text.Next();
  }
}

const char* ReadHex(TextReader& text, bool wide_strings, std::size_t keep,
                    RegistryValue* value) {
  if (!PassWord(text, "hex")) return kUnknownData;
  value->type = kRegBinary;
  if (text.Peek() == '(') {
    text.Next();
    if (!ReadHexNumber(text, &value->type) || text.Peek() != ')') return kBadType;
    text.Next();
  }
  if (text.Peek() != ':') return kBadType;
  text.Next();
  // Version 5 files hold these as UTF-16LE; the narrow query hands them
  // out narrow.
  const bool utf16 = wide_strings && (value->type == kRegSz ||
                                      value->type == kRegExpandSz ||
                                      value->type == kRegMultiSz);
  ValueBytes bytes(value, keep, utf16);
  const char* fault = ReadHexList(text, &bytes);
  bytes.Finish();
  return fault;
}

}  // namespace

RegistryValue ReadValueData(TextReader& text, bool wide_strings,
                            std::size_t keep) {
  RegistryValue value;
  const int first = text.Peek();
  if (first == '"') {
    value.fault = ReadText(text, keep, &value);
  } else if (first == 'd' || first == 'D') {
    value.fault = ReadDword(text, &value);
  } else if (first == 'h' || first == 'H') {
    value.fault = ReadHex(text, wide_strings, keep, &value);
  } else {
    value.fault = kUnknownData;
  }
  if (value.fault == nullptr && value.size > kLargestValue) value.fault = kTooLarge;
  // On to the next line, unless the reader stands at its start already.
  if (value.fault != kNotHexLine) text.SkipLine();
  return value;
}

}  // namespace platform

#include "platform/posix/registry_text.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// Raw bytes read at a time: a 100 MB file is a few thousand reads.
constexpr std::size_t kChunkBytes = std::size_t(1) << 16;
constexpr std::size_t kSmallestChunkBytes = std::size_t(1) << 12;

// A large file is read in chunks of 64 KiB; a small one in one read into a
// buffer no larger than it needs, which the heap has room for: a launcher
// starts faster for every fresh page of memory it does not touch.
std::size_t ChunkBytesFor(const RegistrySource& source) {
  const std::uint64_t size = source.SizeWhenOpened() + 1;  // sees the end
  return std::size_t(std::clamp<std::uint64_t>(size, kSmallestChunkBytes,
                                               kChunkBytes));
}

std::size_t PutUtf8(std::uint32_t c, char* out) {
  if (c < 0x80) {
    out[0] = char(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = char(0xC0 | (c >> 6));
    out[1] = char(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = char(0xE0 | (c >> 12));
    out[1] = char(0x80 | ((c >> 6) & 0x3F));
    out[2] = char(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = char(0xF0 | (c >> 18));
  out[1] = char(0x80 | ((c >> 12) & 0x3F));
  out[2] = char(0x80 | ((c >> 6) & 0x3F));
  out[3] = char(0x80 | (c & 0x3F));
  return 4;
}

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// 8-bit text is handed on as it is.
class NarrowDecoder : public TextDecoder {
 public:
  void Reset() override {}
  std::string_view Decode(std::string_view raw) override { return raw; }
};

// UTF-16LE, a unit's two bytes or a surrogate pair possibly split between
// chunks; an odd last byte is dropped, so that damaged text still reads.
class Utf16LeDecoder : public TextDecoder {
 public:
  void Reset() override {
    units_ = Utf16ToUtf8();
    pending_high_ = false;
    low_byte_ = -1;
  }

  std::string_view Decode(std::string_view raw) override {
    // At most 3 bytes of UTF-8 a unit, and what a pending one adds.
    const std::size_t room = raw.size() / 2 * 3 + 2 * Utf16ToUtf8::kMaxBytes;
    if (room_ < room) {
      out_.reset(new char[room]);  // not zeroed: pages never written stay out
      room_ = room;
    }
    char* out = out_.get();
    if (raw.empty()) {
      out += units_.Finish(out);
      Reset();
      return {out_.get(), std::size_t(out - out_.get())};
    }
    std::size_t i = 0;
    if (low_byte_ >= 0) {
      out = Unit(std::uint32_t(low_byte_) | Byte(raw, 0) << 8, out);
      low_byte_ = -1;
      i = 1;
    }
    for (; i + 1 < raw.size(); i += 2)
      out = Unit(Byte(raw, i) | Byte(raw, i + 1) << 8, out);
    if (i < raw.size()) low_byte_ = int(Byte(raw, i));
    return {out_.get(), std::size_t(out - out_.get())};
  }

 private:
  char* Unit(std::uint32_t unit, char* out) {
    if (unit < 0x80 && !pending_high_) {
      *out = char(unit);  // most of a file
      return out + 1;
    }
    pending_high_ = IsHighSurrogate(unit);
    return out + units_.Put(unit, out);
  }

  static std::uint32_t Byte(std::string_view raw, std::size_t i) {
    return static_cast<unsigned char>(raw[i]);
  }

  Utf16ToUtf8 units_;
  bool pending_high_ = false;  // the fast path must let units_ pair it
  int low_byte_ = -1;          // a unit's first byte, its second not read
  std::unique_ptr<char[]> out_;
  std::size_t room_ = 0;
};

}  // namespace

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldCase(c);
  return folded;
}

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::size_t Utf16ToUtf8::Put(std::uint32_t unit, char* out) {
  std::size_t written = 0;
  if (high_ != 0) {
    if (IsLowSurrogate(unit)) {
      const std::uint32_t c = 0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00);
      high_ = 0;
      return PutUtf8(c, out);
    }
    written = PutUtf8(0xFFFD, out);
    high_ = 0;
  }
  if (IsHighSurrogate(unit)) {
    high_ = unit;
    return written;
  }
  return written + PutUtf8(IsLowSurrogate(unit) ? 0xFFFD : unit, out + written);
}

std::size_t Utf16ToUtf8::Finish(char* out) {
  if (high_ == 0) return 0;
  high_ = 0;
  return PutUtf8(0xFFFD, out);
}

TextFormat DetectTextFormat(const RegistrySource& source) {
  char mark[3] = {};
  const std::size_t got = source.ReadAt(0, mark, sizeof mark);
  TextFormat format;
  if (got >= 2 && mark[0] == '\xFF' && mark[1] == '\xFE') {
    format.begin = 2;
    format.decoder = std::make_unique<Utf16LeDecoder>();
    return format;
  }
  if (got == 3 && std::memcmp(mark, "\xEF\xBB\xBF", 3) == 0) format.begin = 3;
  format.decoder = std::make_unique<NarrowDecoder>();
  return format;
}

TextReader::TextReader(const RegistrySource& source, const TextFormat& format)
    : source_(source), decoder_(*format.decoder), offset_(format.begin) {
  decoder_.Reset();
}

int TextReader::Refill() {
  while (!ended_) {
    if (raw_ == nullptr) {
      chunk_bytes_ = ChunkBytesFor(source_);
      raw_.reset(new char[chunk_bytes_]);
    }
    const std::size_t got = source_.ReadAt(offset_, raw_.get(), chunk_bytes_);
    offset_ += got;
    ended_ = got == 0;
    const std::string_view text = decoder_.Decode({raw_.get(), got});
    at_ = text.data();
    end_ = at_ + text.size();
    if (at_ < end_) return static_cast<unsigned char>(*at_);
  }
  return kEnd;
}

void TextReader::SkipBlanks() {
  while (IsTrimmed(Peek())) Next();
}

void TextReader::SkipLine() {
  while (Peek() != kEnd) {
    const void* feed = std::memchr(at_, '\n', std::size_t(end_ - at_));
    if (feed != nullptr) {
      at_ = static_cast<const char*>(feed) + 1;
      return;
    }
    at_ = end_;
  }
}

bool ReadLineUpTo(TextReader& text, std::size_t limit, std::string* line) {
  line->clear();
  for (int c = text.Peek(); c != TextReader::kEnd && c != '\n'; c = text.Peek()) {
    if (line->size() == limit) return false;
    line->push_back(char(c));
    text.Next();
  }
  return true;
}

}  // namespace platform

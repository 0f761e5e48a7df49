#include "platform/posix/registry_internal.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// Raw bytes read at a time, at most and at least.
constexpr std::size_t kChunkBytes = std::size_t(1) << 16;
constexpr std::size_t kSmallestChunkBytes = std::size_t(1) << 12;

// A small file in one read, into a buffer no larger than it needs, so that
// no fresh page of memory is touched for it.
std::size_t ChunkBytesFor(const RegistrySource& source) {
  const std::uint64_t size = source.SizeWhenOpened() + 1;  // sees the end
  return std::size_t(std::clamp<std::uint64_t>(size, kSmallestChunkBytes,
                                               kChunkBytes));
}

std::size_t PutUtf8(std::uint32_t c, char* out) {
  if (c < 0x80) {
    *out = char(c);
    return 1;
  }
  static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  const std::size_t tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out[0] = char(kLead[tail] | (c >> (6 * tail)));
  for (std::size_t i = 1; i <= tail; ++i)
    out[i] = char(0x80 | ((c >> (6 * (tail - i))) & 0x3F));
  return tail + 1;
}

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldCase(c);
  return folded;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::size_t Utf16LeToUtf8::PutUnit(std::uint32_t unit, char* out) {
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

std::size_t Utf16LeToUtf8::Put(std::string_view bytes, char* out) {
  const auto byte = [&bytes](std::size_t i) {
    return std::uint32_t(static_cast<unsigned char>(bytes[i]));
  };
  if (bytes.empty()) {
    const bool pending = high_ != 0;
    *this = Utf16LeToUtf8();
    return pending ? PutUtf8(0xFFFD, out) : 0;
  }
  char* const start = out;
  std::size_t i = 0;
  if (low_byte_ >= 0) {
    out += PutUnit(std::uint32_t(low_byte_) | byte(0) << 8, out);
    low_byte_ = -1;
    i = 1;
  }
  for (; i + 1 < bytes.size(); i += 2) {
    const std::uint32_t unit = byte(i) | byte(i + 1) << 8;
    if (unit < 0x80 && high_ == 0) {
      *out++ = char(unit);  // most of a file
    } else {
      out += PutUnit(unit, out);
    }
  }
  if (i < bytes.size()) low_byte_ = int(byte(i));
  return std::size_t(out - start);
}

int TextReader::Refill() {
  while (!ended_) {
    if (raw_ == nullptr) {
      chunk_bytes_ = ChunkBytesFor(source_);
      raw_.reset(new char[chunk_bytes_]);
    }
    const std::size_t got = source_.ReadAt(offset_, raw_.get(), chunk_bytes_);
    std::string_view raw(raw_.get(), got);
    if (offset_ == 0) raw.remove_prefix(PassByteOrderMark(raw));
    offset_ += got;
    ended_ = got == 0;
    const std::string_view text = utf16_ ? DecodeUtf16(raw) : raw;
    at_ = text.data();
    end_ = at_ + text.size();
    if (at_ < end_) return static_cast<unsigned char>(*at_);
  }
  return kEnd;
}

// The encoding is told by the first bytes of the file alone.
std::size_t TextReader::PassByteOrderMark(std::string_view raw) {
  if (raw.substr(0, 2) == "\xFF\xFE") {
    utf16_ = true;
    return 2;
  }
  return raw.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// A unit's two bytes or a surrogate pair may be split between chunks:
// utf16_text_ carries them over.
std::string_view TextReader::DecodeUtf16(std::string_view raw) {
  if (decoded_ == nullptr) {
    // 3 bytes of UTF-8 a unit and what a pending one adds; not zeroed, so
    // that pages never written stay out.
    decoded_.reset(
        new char[chunk_bytes_ / 2 * 3 + 2 * Utf16LeToUtf8::kMaxBytes]);
  }
  return {decoded_.get(), utf16_text_.Put(raw, decoded_.get())};
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

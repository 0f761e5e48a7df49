#include "platform/posix/internal.h"

namespace platform {
namespace {

constexpr int kCtrlZ = 0x1A;

}  // namespace

int TextModeReader::GetChar() {
  if (ended_) return EOF;
  int c = std::getc(file_);
  if (c == kCtrlZ) {
    ended_ = true;
    return EOF;
  }
  if (c != '\r') return c;
  // Only a LF right behind it makes a CR part of a line end; whatever
  // else follows is read again on its own.
  int next = std::getc(file_);
  if (next == '\n') return '\n';
  if (next != EOF) std::ungetc(next, file_);
  return '\r';
}

char* TextModeReader::Gets(char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return nullptr;
  int stored = 0;
  while (stored < size - 1) {
    int c = GetChar();
    if (c == EOF) {
      if (stored == 0) return nullptr;
      break;
    }
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[stored] = '\0';
  return buffer;
}

}  // namespace platform

#include "tarvo/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tarvo {
namespace {

bool FormatList(char* buffer, std::size_t capacity, const char* format,
                std::va_list args) {
  int length = std::vsnprintf(buffer, capacity, format, args);
  return length >= 0 && static_cast<std::size_t>(length) < capacity;
}

}  // namespace

bool FormatText(char* buffer, std::size_t capacity, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  bool ok = FormatList(buffer, capacity, format, args);
  va_end(args);
  return ok;
}

bool FormatPath(char separator, char* buffer, std::size_t capacity,
                const char* format, ...) {
  char local[128];
  std::size_t length = std::strlen(format);
  if (length >= sizeof(local)) return false;
  for (std::size_t i = 0; i <= length; ++i)
    local[i] = format[i] == '\\' ? separator : format[i];

  std::va_list args;
  va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  bool ok = FormatList(buffer, capacity, local, args);
#pragma GCC diagnostic pop
  va_end(args);
  return ok;
}

bool AppendText(char* buffer, std::size_t capacity, const char* text) {
  std::size_t used = std::strlen(buffer);
  std::size_t added = std::strlen(text);
  if (used + added >= capacity) return false;
  std::memcpy(buffer + used, text, added + 1);
  return true;
}

}  // namespace tarvo

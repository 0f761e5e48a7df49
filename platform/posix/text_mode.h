// Reading a file opened in binary as the Windows C runtime's text mode reads
// it: CR LF comes out as one LF, a CR before anything else stays, and a
// Ctrl-Z ends the file for good.
#pragma once

#include <cstdio>

namespace platform {

class TextModeReader {
 public:
  explicit TextModeReader(std::FILE* file) : file_(file) {}

  // fgets over the translated characters: at most size - 1 of them, up to
  // and including a LF, then a terminator; null when the end comes before
  // any character (or size is not positive).
  char* Gets(char* buffer, int size);

 private:
  // The next translated character, or EOF.
  int GetChar();

  std::FILE* file_;
  bool ended_ = false;  // a Ctrl-Z was read: nothing after it is
};

}  // namespace platform

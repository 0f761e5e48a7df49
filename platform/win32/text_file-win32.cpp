// Text files through the C runtime's text mode, which itself reads CR LF as
// LF.
#include <cstdio>

#include "platform/text_file.h"

namespace platform {
namespace {

class Win32TextFiles : public TextFiles {
 public:
  TextStream* Fopen(const char* path) override {
    return reinterpret_cast<TextStream*>(std::fopen(path, "r"));
  }
  char* Fgets(char* buffer, int size, TextStream* stream) override {
    return std::fgets(buffer, size, reinterpret_cast<std::FILE*>(stream));
  }
  int Fclose(TextStream* stream) override {
    return std::fclose(reinterpret_cast<std::FILE*>(stream));
  }
};

}  // namespace

TextFiles& SystemTextFiles() {
  static Win32TextFiles files;
  return files;
}

}  // namespace platform

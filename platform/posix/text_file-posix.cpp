// Text files through the Windows text-mode reading, so that an ini file
// written on Windows reads the same here.
#include "platform/text_file.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/posix/text_mode.h"

namespace platform {

struct TextStream {
  explicit TextStream(std::FILE* opened) : file(opened), reader(opened) {}
  std::FILE* file;
  TextModeReader reader;
};

namespace {

// Windows will not open a directory as a file; here fopen would.
bool IsDirectory(std::FILE* file) {
  struct stat info;
  return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

class TextModeFiles : public TextFiles {
 public:
  TextStream* Fopen(const char* path) override {
    // Binary, so that the CR of a CR LF reaches the translation.
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    if (IsDirectory(file)) {
      std::fclose(file);
      return nullptr;
    }
    return new TextStream(file);
  }

  char* Fgets(char* buffer, int size, TextStream* stream) override {
    if (stream == nullptr) return nullptr;
    return stream->reader.Gets(buffer, size);
  }

  int Fclose(TextStream* stream) override {
    if (stream == nullptr) return EOF;
    int result = std::fclose(stream->file);
    delete stream;
    return result;
  }
};

}  // namespace

TextFiles& SystemTextFiles() {
  static TextModeFiles files;
  return files;
}

}  // namespace platform

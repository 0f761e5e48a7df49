// Text files through the Windows text-mode reading, so that an ini file
// written on Windows reads the same here.
#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/posix/internal.h"

namespace platform {

struct TextStream {
  explicit TextStream(std::FILE* opened) : file(opened), reader(opened) {}
  std::FILE* file;
  TextModeReader reader;
};

namespace {

// Only a regular file (or a link to one) opens. Windows opens no directory
// as a file; fopen here would, would wait for a FIFO's writer, forever if
// none comes, and would read /dev/zero as a file of NUL bytes.
std::FILE* OpenRegularFile(const char* path) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  // Should another kind of file take its place meanwhile, O_NONBLOCK keeps
  // the open from waiting and the second look refuses it.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Binary, so that the CR of a CR LF reaches the translation.
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

class TextModeFiles : public TextFiles {
 public:
  TextStream* Fopen(const char* path) override {
    std::FILE* file = OpenRegularFile(path);
    if (file == nullptr) return nullptr;
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

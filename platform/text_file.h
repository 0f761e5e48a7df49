// Text-mode file streams as the Windows C runtime has them: a CR LF at a
// line end reads as one line feed.
#pragma once

namespace platform {

struct TextStream;

class TextFiles {
 public:
  virtual ~TextFiles() = default;
  // fopen(path, "r"): a stream, or null when the file cannot be opened.
  virtual TextStream* Fopen(const char* path) = 0;
  // fgets: at most size - 1 characters, up to and including a line feed,
  // then a terminator; null when the end comes before any character.
  virtual char* Fgets(char* buffer, int size, TextStream* stream) = 0;
  // fclose.
  virtual int Fclose(TextStream* stream) = 0;
};

TextFiles& SystemTextFiles();

}  // namespace platform

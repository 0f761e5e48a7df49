// Files by path, their contents already as text mode delivers them.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/testing/fakes.h"
#include "platform/text_file.h"

namespace platform_test {

class FakeTextFiles : public platform::TextFiles {
 public:
  platform::TextStream* Fopen(const char* path) override {
    opened.push_back(path);
    auto file = files.find(path);
    if (file == files.end()) return nullptr;
    streams_.push_back(Stream{file->second, 0});
    ++open_streams;
    return reinterpret_cast<platform::TextStream*>(streams_.size());
  }
  // As fgets: up to size - 1 characters and a line feed, then a terminator.
  char* Fgets(char* buffer, int size, platform::TextStream* handle) override {
    Stream& s = streams_.at(reinterpret_cast<std::size_t>(handle) - 1);
    ++lines_read;
    int n = 0;
    while (n < size - 1 && s.position < s.text.size()) {
      char c = s.text[s.position++];
      buffer[n++] = c;
      if (c == '\n') break;
    }
    if (n == 0) return nullptr;
    buffer[n] = '\0';
    return buffer;
  }
  int Fclose(platform::TextStream*) override {
    --open_streams;
    return 0;
  }

  std::map<std::string, std::string> files;
  Log opened;
  int open_streams = 0;
  int lines_read = 0;

 private:
  struct Stream {
    std::string text;
    std::size_t position;
  };
  std::vector<Stream> streams_;
};

}  // namespace platform_test

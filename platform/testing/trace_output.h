// A trace log whose lines a test reads back, from a temporary file.
#pragma once

#include <cstdio>
#include <string>

#include "platform/trace.h"

namespace platform_test {

class TraceOutput {
 public:
  TraceOutput() : file_(std::tmpfile()), log_("prog", file_) {}
  ~TraceOutput() { std::fclose(file_); }
  platform::TraceLog& log() { return log_; }
  std::string Text() {
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(char(c));
    return text;
  }

 private:
  std::FILE* file_;
  platform::TraceLog log_;
};

}  // namespace platform_test

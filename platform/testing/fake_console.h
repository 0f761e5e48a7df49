// Standard output kept as text, and as "write <text>" lines in a log shared
// with other fakes when one is given.
#pragma once

#include <string>

#include "platform/console.h"
#include "platform/testing/fakes.h"

namespace platform_test {

class FakeConsole : public platform::Console {
 public:
  explicit FakeConsole(Log* log = nullptr) : log_(log) {}
  void Write(const char* text) override {
    output += text;
    if (log_) log_->push_back(std::string("write ") + text);
  }
  std::string output;

 private:
  Log* log_;
};

}  // namespace platform_test

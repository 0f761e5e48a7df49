// Standard output through the C library: the same on every system.
#include "platform/console.h"

#include <cstdio>

namespace platform {
namespace {

class StdoutConsole : public Console {
 public:
  void Write(const char* text) override {
    std::fputs(text, stdout);
    std::fflush(stdout);
  }
};

}  // namespace

Console& StandardOutput() {
  static StdoutConsole console;
  return console;
}

}  // namespace platform

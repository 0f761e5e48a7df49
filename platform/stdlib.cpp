// The standard library's side of the platform: the same on every system.
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "platform/heap.h"

namespace platform {
namespace {

class CHeap : public Heap {
 public:
  void* Allocate(std::size_t size) override { return std::malloc(size); }
  void* Reallocate(void* block, std::size_t size) override {
    return std::realloc(block, size);
  }
  void Release(void* block) override { std::free(block); }
};

class StdoutConsole : public Console {
 public:
  void Write(const char* text) override {
    std::fputs(text, stdout);
    std::fflush(stdout);
  }
};

}  // namespace

Heap& StandardHeap() {
  static CHeap heap;
  return heap;
}

Console& StandardOutput() {
  static StdoutConsole console;
  return console;
}

}  // namespace platform

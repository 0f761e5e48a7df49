// The C library's heap: the same on every system.
#include "platform/heap.h"

#include <cstdlib>

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

}  // namespace

Heap& StandardHeap() {
  static CHeap heap;
  return heap;
}

}  // namespace platform

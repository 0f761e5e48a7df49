// The general heap, behind a seam so that tests can make it fail.
#pragma once

#include <cstddef>

namespace platform {

class Heap {
 public:
  virtual ~Heap() = default;
  // malloc, realloc, free: null when no memory is left.
  virtual void* Allocate(std::size_t size) = 0;
  virtual void* Reallocate(void* block, std::size_t size) = 0;
  virtual void Release(void* block) = 0;
};

Heap& StandardHeap();

}  // namespace platform

// malloc underneath; can refuse the n-th request (Allocate and Reallocate
// counted together, from 1) and knows which blocks are still held.
#pragma once

#include <cstdlib>
#include <set>
#include <string>

#include "platform/heap.h"
#include "platform/testing/fakes.h"

namespace platform_test {

class FakeHeap : public platform::Heap {
 public:
  void* Allocate(std::size_t size) override {
    return Hand(nullptr, size, "allocate ");
  }
  void* Reallocate(void* block, std::size_t size) override {
    return Hand(block, size, "reallocate ");
  }
  void Release(void* block) override {
    bad_releases += held.erase(block) == 0;
    std::free(block);
  }
  ~FakeHeap() override {
    for (void* block : held) std::free(block);
  }

  int fail_request = 0;
  Log requests;
  std::set<void*> held;
  int bad_releases = 0;

 private:
  // A refused reallocation leaves the block held, as realloc does.
  void* Hand(void* block, std::size_t size, const char* what) {
    requests.push_back(what + std::to_string(size));
    if (static_cast<int>(requests.size()) == fail_request) return nullptr;
    void* given = std::realloc(block, size);
    held.erase(block);
    held.insert(given);
    return given;
  }
};

}  // namespace platform_test

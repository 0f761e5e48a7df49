// The global allocation functions of a launcher that carries its C++
// runtime, as the runtime's own, linked beside the launcher's code instead
// of on pages a run would otherwise not touch (bench/RESULTS.md). The tests
// keep the runtime's, which a sanitizer replaces.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* memory = std::malloc(size)) return memory;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

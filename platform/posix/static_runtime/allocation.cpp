// The global allocation functions of a launcher linked with the C++ runtime
// inside it. They do what the runtime's own do, but the runtime's archive
// would put its copies far from the code that calls them, each in a part of
// the program that a run would otherwise never touch: linked from here they
// sit beside the launcher's code, and a run reads one page of code fewer.
// Only the launchers link this file; the tests keep the runtime's, which a
// sanitizer replaces.
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

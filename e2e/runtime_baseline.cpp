// A program that does nothing, linked like the launchers and using the same
// runtime machinery they do (a function-local static, the heap): what its
// import table holds is the static C and C++ runtime's own.
#include <memory>

namespace {

volatile int g_seed = 0;

struct Counter {
  Counter() : value(g_seed) {}
  int value;
};

Counter& SharedCounter() {
  static Counter counter;  // guarded, as the launchers' platform objects are
  return counter;
}

}  // namespace

int main() {
  std::unique_ptr<int> value(new int(SharedCounter().value));
  return *value;
}

#include "gorvanel/entry.h"

#include <memory>

#include "gorvanel/execution.h"
#include "gorvanel/membership.h"
#include "gorvanel/path_cache.h"

namespace gorvanel {
namespace {

// The longest form of the usage text: -a, a key and four parameters.
constexpr int kMaxArgumentCount = 7;  // the program's name included

}  // namespace

void PrintUsage(platform::Console& console) {
  console.Write("Usage: gorvanel <opt> [parameters....]\n");
  console.Write(
      "  add information     : gorvanel -a <key> <parm1> [parm2] [parm3] "
      "[parm4]\n");
  console.Write("  show one information: gorvanel -l <key>\n");
  console.Write("  show all information: gorvanel -l\n");
  console.Write("  delete information  : gorvanel -d <key>\n");
}

int RunGorvanel(const Platform& system, int argc, const char* const* argv) {
  // Before anything else, so that a refused user learns nothing more.
  if (AuthorityGate(system.security, system.heap) != 0) {
    system.console.Write("pemra1001 user authority error\n");
    return 1;
  }
  if (argc <= 1) {
    PrintUsage(system.console);
    return 1;
  }
  if (argc > kMaxArgumentCount) {
    system.console.Write("pemra1004 parameter error\n");
    return 1;
  }
  std::unique_ptr<PathCache> cache(
      new PathCache(system.registry, system.paths, system.code_page));
  SetCurrentPathCache(cache.get());
  int result =
      ExecuteJavaCommand(system.processes, system.console, system.paths,
                         system.code_page, argc, argv);
  SetCurrentPathCache(nullptr);
  return result;
}

}  // namespace gorvanel

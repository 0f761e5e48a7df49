// gorvanel: starts the information command class in a Java VM for members
// of the local Administrators group and ends with 0 or 1.
#include "gorvanel/entry.h"
#include "gorvanel/path_cache.h"
#include "gorvanel/trace.h"

namespace {

// With a trace log, every call is explained on it.
int Run(platform::TraceLog* log, platform::Registry& registry, int argc,
        const char* const* argv) {
  if (log == nullptr) {
    const gorvanel::Platform system = {
        registry, platform::SystemProcesses(), platform::SystemSecurity(),
        platform::StandardHeap(), platform::StandardOutput(),
        platform::SystemPathStyle(), platform::SystemCodePage()};
    return gorvanel::RunGorvanel(system, argc, argv);
  }
  gorvanel::TracingProcesses processes(platform::SystemProcesses(), *log);
  gorvanel::TracingSecurity security(platform::SystemSecurity(), *log);
  const gorvanel::Platform traced = {
      registry, processes, security, platform::StandardHeap(),
      platform::StandardOutput(), platform::SystemPathStyle(),
      platform::SystemCodePage()};
  return gorvanel::RunGorvanel(traced, argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  platform::DeclareRegistryKeys(gorvanel::kRegistryKeysRead);
  return platform::RunMaybeTraced("gorvanel", Run, argc, argv);
}

// gorvanel: starts the information command class in a Java VM for members
// of the local Administrators group and ends with 0 or 1.
#include <cstdio>

#include "gorvanel/entry.h"
#include "gorvanel/path_cache.h"
#include "platform/trace.h"

namespace {

// With TALVANE_TRACE=1 every step is explained on standard error.
int RunTraced(int argc, const char* const* argv) {
  platform::TraceLog log("gorvanel", stderr);
  platform::TracingSafeguards safeguards(log);
  platform::TracingRegistry registry(platform::SystemRegistry(), log);
  platform::TracingProcesses processes(platform::SystemProcesses(), log);
  platform::TracingSecurity security(platform::SystemSecurity(), log);
  const gorvanel::Platform traced = {
      registry, processes, security, platform::StandardHeap(),
      platform::StandardOutput(), platform::SystemPathStyle()};
  int status = gorvanel::RunGorvanel(traced, argc, argv);
  log.Line("exit status %d", status);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  platform::DeclareRegistryKeys(gorvanel::kRegistryKeysRead);
  if (platform::TraceRequested()) return RunTraced(argc, argv);
  const gorvanel::Platform system = {
      platform::SystemRegistry(), platform::SystemProcesses(),
      platform::SystemSecurity(), platform::StandardHeap(),
      platform::StandardOutput(), platform::SystemPathStyle()};
  return gorvanel::RunGorvanel(system, argc, argv);
}

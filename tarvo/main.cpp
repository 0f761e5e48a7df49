// tarvo: starts the SAN manager's command-line class in a Java VM through
// the command interpreter and ends with that command's status.
#include <cstdlib>

#include "tarvo/launcher.h"
#include "tarvo/settings.h"
#include "tarvo/trace.h"

namespace {

// With a trace log, every call is explained on it.
int Run(platform::TraceLog* log, platform::Registry& registry, int argc,
        const char* const* argv) {
  if (log == nullptr) {
    const tarvo::Platform system = {
        registry, platform::SystemSockets(), platform::SystemEnvironment(),
        platform::SystemTextFiles(), platform::SystemCommandInterpreter(),
        platform::SystemPathStyle(), platform::SystemCodePage()};
    return tarvo::RunLauncher(system, argc, argv);
  }
  tarvo::TracingSockets sockets(platform::SystemSockets(), *log);
  tarvo::TracingEnvironment environment(platform::SystemEnvironment(), *log);
  tarvo::TracingTextFiles files(platform::SystemTextFiles(), *log);
  tarvo::TracingInterpreter interpreter(platform::SystemCommandInterpreter(),
                                        *log);
  const tarvo::Platform traced = {
      registry, sockets, environment, files, interpreter,
      platform::SystemPathStyle(), platform::SystemCodePage()};
  return tarvo::RunLauncher(traced, argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  platform::DeclareRegistryKeys(tarvo::kRegistryKeysRead);
  std::exit(platform::RunMaybeTraced("tarvo", Run, argc, argv));
}

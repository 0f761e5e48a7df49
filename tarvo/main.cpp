// tarvo: starts the SAN manager's command-line class in a Java VM through
// the command interpreter and ends with that command's status.
#include <cstdio>
#include <cstdlib>

#include "platform/trace.h"
#include "tarvo/launcher.h"
#include "tarvo/settings.h"

namespace {

// With TALVANE_TRACE=1 every step is explained on standard error.
int RunTraced(int argc, const char* const* argv) {
  platform::TraceLog log("tarvo", stderr);
  platform::TracingSafeguards safeguards(log);
  platform::TracingRegistry registry(platform::SystemRegistry(), log);
  platform::TracingSockets sockets(platform::SystemSockets(), log);
  platform::TracingEnvironment environment(platform::SystemEnvironment(), log);
  platform::TracingTextFiles files(platform::SystemTextFiles(), log);
  platform::TracingInterpreter interpreter(
      platform::SystemCommandInterpreter(), log);
  const tarvo::Platform traced = {registry, sockets,     environment,
                                  files,    interpreter, platform::SystemPathStyle()};
  int status = tarvo::RunLauncher(traced, argc, argv);
  log.Line("exit status %d", status);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  platform::DeclareRegistryKeys(tarvo::kRegistryKeysRead);
  if (platform::TraceRequested()) std::exit(RunTraced(argc, argv));
  const tarvo::Platform system = {
      platform::SystemRegistry(),      platform::SystemSockets(),
      platform::SystemEnvironment(),   platform::SystemTextFiles(),
      platform::SystemCommandInterpreter(), platform::SystemPathStyle()};
  std::exit(tarvo::RunLauncher(system, argc, argv));
}

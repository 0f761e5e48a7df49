// tarvo: starts the SAN manager's command-line class in a Java VM through
// the command interpreter and ends with that command's status.
#include <cstdlib>

#include "tarvo/launcher.h"

int main(int argc, char** argv) {
  const tarvo::Platform system = {
      platform::SystemRegistry(),      platform::SystemSockets(),
      platform::SystemEnvironment(),   platform::SystemTextFiles(),
      platform::SystemCommandInterpreter(), platform::SystemPathStyle()};
  std::exit(tarvo::RunLauncher(system, argc, argv));
}

// gorvanel: starts the information command class in a Java VM for members
// of the local Administrators group and ends with 0 or 1.
#include "gorvanel/entry.h"

int main(int argc, char** argv) {
  const gorvanel::Platform system = {
      platform::SystemRegistry(), platform::SystemProcesses(),
      platform::SystemSecurity(), platform::StandardHeap(),
      platform::StandardOutput(), platform::SystemPathStyle()};
  return gorvanel::RunGorvanel(system, argc, argv);
}

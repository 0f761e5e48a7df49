// Safeguards that keep the Java VM from outliving its launcher: signals
// passed on while the launcher waits, a death signal, a job object, a
// console control handler. The platform layer sets them up as it starts a
// child; one that cannot be set up is left out and the run goes on without
// it, silently unless someone listens here.
#pragma once

namespace platform {

class SafeguardListener {
 public:
  virtual ~SafeguardListener() = default;
  // `safeguard` could not be set up; `error` is errno or GetLastError().
  virtual void NotSetUp(const char* safeguard, unsigned long error) = 0;
};

// Who hears of a safeguard left out: null, as at the start, for nobody.
void ListenToSafeguards(SafeguardListener* listener);

// For the platform layer: tells the listener, if any.
void SafeguardNotSetUp(const char* safeguard, unsigned long error);

}  // namespace platform

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
  // `safeguard` was set up but may not hold, for the reason `why`; a
  // listener that does not override it hears nothing of that.
  virtual void MayNotHold(const char* /*safeguard*/, const char* /*why*/) {}
};

// Who hears of a safeguard left out: null, as at the start, for nobody.
void ListenToSafeguards(SafeguardListener* listener);

// For the platform layer: tells the listener, if any.
void SafeguardNotSetUp(const char* safeguard, unsigned long error);
void SafeguardMayNotHold(const char* safeguard, const char* why);

// Whether anyone listens: a check made only to tell the listener is left
// out without one, so that a run without the trace does no more work.
bool SafeguardsListened();

}  // namespace platform

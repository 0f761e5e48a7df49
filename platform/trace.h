// An opt-in trace: decorators that pass every call on unchanged and explain
// it on a stream (standard error), for the operator whose launcher ended
// with status 1 and said nothing. Each program decorates the calls of its
// own beside it; the registry's, which both read, are here.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "platform/registry.h"
#include "platform/safeguards.h"

namespace platform {

// Whether the environment asks for a trace (TALVANE_TRACE=1).
bool TraceRequested();

// Lines of one program's trace: "<program>: <text>\n".
class TraceLog {
 public:
  TraceLog(const char* program, std::FILE* out)
      : program_(program), out_(out) {}
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  const char* program_;
  std::FILE* out_;
};

// Hears of the safeguards left out while it is listening (from its
// construction to its end).
class TracingSafeguards : public SafeguardListener {
 public:
  explicit TracingSafeguards(TraceLog& log) : log_(log) {
    ListenToSafeguards(this);
  }
  ~TracingSafeguards() override { ListenToSafeguards(nullptr); }
  TracingSafeguards(const TracingSafeguards&) = delete;
  TracingSafeguards& operator=(const TracingSafeguards&) = delete;
  void NotSetUp(const char* safeguard, unsigned long error) override;
  void MayNotHold(const char* safeguard, const char* why) override;

 private:
  TraceLog& log_;
};

// What every decorator holds: the object each call is passed on to and the
// log that explains it; and Windows' type names for the calls' signatures.
template <typename Interface>
class Tracing : public Interface {
 public:
  using BOOL = platform::BOOL;
  using BYTE = platform::BYTE;
  using DWORD = platform::DWORD;
  using HANDLE = platform::HANDLE;
  using PSID = platform::PSID;
  using UINT = platform::UINT;
  using WORD = platform::WORD;
  Tracing(Interface& inner, TraceLog& log) : inner_(inner), log_(log) {}

 protected:
  Interface& inner_;
  TraceLog& log_;
};

class TracingRegistry : public Tracing<Registry> {
 public:
  using Tracing::Tracing;
  LONG RegOpenKeyExA(HKEY root, const char* sub_key, DWORD options,
                     DWORD access, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* reserved,
                        DWORD* type, BYTE* data, DWORD* size) override;
  LONG RegCloseKey(HKEY key) override;
  const char* LastFailureReason() const override {
    return inner_.LastFailureReason();
  }

 private:
  // ": <reason>" when the registry gives one for the last failure, else "".
  std::string Reason() const;

  std::map<HKEY, std::string> key_names_;
};

// A program's run; `log` is null unless the run is traced.
using ProgramRun = int (*)(TraceLog* log, Registry& registry, int argc,
                           const char* const* argv);

// Runs `run` over the system registry. With a trace asked for, the registry
// is traced, the trace hears of the safeguards left out, and its last line
// gives the exit status.
int RunMaybeTraced(const char* program, ProgramRun run, int argc,
                   const char* const* argv);

}  // namespace platform

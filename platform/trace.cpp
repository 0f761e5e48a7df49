#include "platform/trace.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// A registry value as the operator would read it: text up to its first
// zero byte, or its size when it holds none.
std::string DescribeData(const BYTE* data, DWORD size) {
  const char* text = reinterpret_cast<const char*>(data);
  if (size == 0) return "empty";
  if (std::memchr(text, '\0', size) == nullptr)
    return std::to_string(size) + " bytes without a terminator";
  return "\"" + std::string(text) + "\"";
}

}  // namespace

bool TraceRequested() {
  const char* value = std::getenv("TALVANE_TRACE");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

void TraceLog::Line(const char* format, ...) {
  std::fprintf(out_, "%s: ", program_);
  std::va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void TracingSafeguards::NotSetUp(const char* safeguard, unsigned long error) {
  log_.Line("%s cannot be set up (error %lu): going on without it", safeguard,
            error);
}

void TracingSafeguards::MayNotHold(const char* safeguard, const char* why) {
  log_.Line("%s may be lost: %s", safeguard, why);
}

LONG TracingRegistry::RegOpenKeyExA(HKEY root, const char* sub_key,
                                    DWORD options, DWORD access,
                                    HKEY* result) {
  LONG status = inner_.RegOpenKeyExA(root, sub_key, options, access, result);
  if (status == 0) {
    key_names_[*result] = sub_key;
  } else {
    log_.Line("registry key HKEY_LOCAL_MACHINE\\%s cannot be opened (error "
              "%ld)%s",
              sub_key, static_cast<long>(status), Reason().c_str());
  }
  return status;
}

LONG TracingRegistry::RegQueryValueExA(HKEY key, const char* value_name,
                                       DWORD* reserved, DWORD* type, BYTE* data,
                                       DWORD* size) {
  DWORD offered = size != nullptr ? *size : 0;
  LONG status =
      inner_.RegQueryValueExA(key, value_name, reserved, type, data, size);
  const std::string& key_name = key_names_[key];
  if (status == 0 && data != nullptr && size != nullptr) {
    log_.Line("registry value %s of HKEY_LOCAL_MACHINE\\%s: %s",
              value_name, key_name.c_str(),
              DescribeData(data, *size).c_str());
  } else if (status == static_cast<LONG>(kErrorMoreData) && size != nullptr) {
    log_.Line("registry value %s of HKEY_LOCAL_MACHINE\\%s: too large (%lu "
              "bytes, %lu offered)",
              value_name, key_name.c_str(), static_cast<unsigned long>(*size),
              static_cast<unsigned long>(offered));
  } else if (status != 0) {
    log_.Line("registry value %s of HKEY_LOCAL_MACHINE\\%s: not found "
              "(error %ld)%s",
              value_name, key_name.c_str(), static_cast<long>(status),
              Reason().c_str());
  }
  return status;
}

std::string TracingRegistry::Reason() const {
  const char* why = inner_.LastFailureReason();
  return why != nullptr && *why != '\0' ? std::string(": ") + why : "";
}

LONG TracingRegistry::RegCloseKey(HKEY key) {
  key_names_.erase(key);
  return inner_.RegCloseKey(key);
}

int RunMaybeTraced(const char* program, ProgramRun run, int argc,
                   const char* const* argv) {
  if (!TraceRequested()) return run(nullptr, SystemRegistry(), argc, argv);
  TraceLog log(program, stderr);
  TracingSafeguards safeguards(log);
  TracingRegistry registry(SystemRegistry(), log);
  int status = run(&log, registry, argc, argv);
  log.Line("exit status %d", status);
  return status;
}

}  // namespace platform

// The data of one value line of the registry file ("..." , dword:...,
// hex:... or hex(N):... over continuation lines), decoded as it is read:
// its size counted whole, only its first bytes kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/posix/registry_text.h"
#include "platform/types.h"

namespace platform {

// A value as RegQueryValueExA hands it out: strings narrow (UTF-8) and with
// their terminator.
struct RegistryValue {
  DWORD type = kRegSz;
  std::string data;        // the first bytes, as many as were to be kept
  std::uint64_t size = 0;  // of the whole value
  // Why the data cannot be read whole, or null. Such a value is not found.
  const char* fault = nullptr;

  bool Whole() const { return data.size() == size; }
};

// How hex(1), hex(2) and hex(7) data hold their strings: a version 5 file
// writes them as UTF-16LE, a REGEDIT4 file narrow. Either way they are
// handed out narrow.
enum class HexStrings { kNarrow, kUtf16Le };

// Reads the data that starts at the reader's next character, through the
// continuation lines it takes, and keeps at most `keep` bytes of it. The
// reader is left at the start of the line after the value: a line that is
// not hex data is never taken.
RegistryValue ReadValueData(TextReader& text, HexStrings hex_strings,
                            std::size_t keep);

}  // namespace platform

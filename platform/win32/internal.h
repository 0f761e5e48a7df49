// The Windows forwarding layer's own: the proof that our spellings of
// Windows' types, codes and records agree with Windows' own, and the guard
// around a child the launcher waits for.
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>

#include "platform/types.h"

// Distinct types of one width and signedness, so that out-parameters can be
// handed over as they are.
static_assert(sizeof(platform::DWORD) == sizeof(::DWORD), "DWORD width");
static_assert(std::is_unsigned<::DWORD>::value, "DWORD signedness");
static_assert(sizeof(platform::LONG) == sizeof(::LONG), "LONG width");

// The codes callers compare against must be the ones Windows returns.
static_assert(platform::kErrorSuccess == ERROR_SUCCESS, "ERROR_SUCCESS");
static_assert(platform::kErrorFileNotFound == ERROR_FILE_NOT_FOUND,
              "ERROR_FILE_NOT_FOUND");
static_assert(platform::kErrorMoreData == ERROR_MORE_DATA, "ERROR_MORE_DATA");
static_assert(platform::kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER,
              "ERROR_INSUFFICIENT_BUFFER");
static_assert(platform::kErrorNoneMapped == ERROR_NONE_MAPPED,
              "ERROR_NONE_MAPPED");
static_assert(platform::kKeyRead == KEY_READ, "KEY_READ");
static_assert(platform::kInfinite == INFINITE, "INFINITE");
static_assert(platform::kStillActive == STILL_ACTIVE, "STILL_ACTIVE");
static_assert(platform::kRegSz == REG_SZ &&
                  platform::kRegExpandSz == REG_EXPAND_SZ &&
                  platform::kRegBinary == REG_BINARY &&
                  platform::kRegDword == REG_DWORD &&
                  platform::kRegMultiSz == REG_MULTI_SZ &&
                  platform::kRegQword == REG_QWORD,
              "registry value types");

// Our record is as large and as aligned as Windows' own.
#define SAME_RECORD(ours, theirs)                       \
  static_assert(sizeof(ours) == sizeof(theirs) &&       \
                    alignof(ours) == alignof(theirs),   \
                #theirs)

// A field of our record sits where Windows looks for it, and is as wide.
#define SAME_FIELD(ours, theirs, field)                              \
  static_assert(offsetof(ours, field) == offsetof(theirs, field) &&  \
                    sizeof(ours::field) == sizeof(theirs::field),    \
                #theirs "::" #field)

namespace platform {

// Before a child starts: the launcher joins a job object that ends the
// child with it, and keeps waiting through Ctrl-C and Ctrl-Break, which
// reach the child through the console they share. A part that cannot be
// set up is left out.
void GuardChildren();

// Once the child has ended: what it left running on purpose outlives the
// launcher, and Ctrl-C is the launcher's own again.
void ReleaseChildren();

}  // namespace platform

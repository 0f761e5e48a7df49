// Windows' basic types and codes, spelled out so that logic compiles and is
// tested on every platform without <windows.h>.
#pragma once

#include <cstdint>

namespace platform {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using HANDLE = void*;
using PSID = void*;

struct RegistryKey;
using HKEY = RegistryKey*;

// Error codes, with the values Windows gives them.
constexpr DWORD kErrorSuccess = 0;
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorMoreData = 234;
constexpr DWORD kErrorNoneMapped = 1332;

constexpr DWORD kKeyRead = 0x20019;         // KEY_READ
constexpr DWORD kInfinite = 0xFFFFFFFFu;    // INFINITE
constexpr DWORD kStillActive = 259;         // STILL_ACTIVE

// Registry value types.
constexpr DWORD kRegSz = 1;
constexpr DWORD kRegExpandSz = 2;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr DWORD kRegMultiSz = 7;
constexpr DWORD kRegQword = 11;

// HKEY_LOCAL_MACHINE, the only root these programs open.
inline HKEY LocalMachineKey() {
  return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));
}

}  // namespace platform

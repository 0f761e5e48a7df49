// Key paths of the registry file: the five roots, and full paths folded to
// one spelling so that any letter case and either root name compare equal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Names held in place rather than pointed to: a table of pointers would be
// relocated, on a page of its own, in every run's start.
struct RegistryRoot {
  char name[20];  // folded
  char short_name[5];
  std::uintptr_t handle;  // the predefined HKEY
};
extern const RegistryRoot kRegistryRoots[5];

// The folded full path of a key, its root spelled out; false for an
// unknown root or an empty name between backslashes.
bool NormalizeKeyPath(std::string_view path, std::string* normalized);
bool IsRootPath(std::string_view normalized);
// `lower` names a key below `upper` (both folded full paths).
bool IsBelow(std::string_view lower, std::string_view upper);

}  // namespace platform

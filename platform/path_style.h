// How the platform spells paths: the separator and a program file's ending.
#pragma once

namespace platform {

struct PathStyle {
  char separator;            // '\\' on Windows, '/' elsewhere
  const char* program_suffix;  // ".exe" on Windows, "" elsewhere
};

constexpr PathStyle kWindowsPaths = {'\\', ".exe"};
constexpr PathStyle kPosixPaths = {'/', ""};

// The style of the platform this program was built for.
const PathStyle& SystemPathStyle();

}  // namespace platform

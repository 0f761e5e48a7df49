// How the platform spells paths: the separator and a program file's ending.
#pragma once

namespace platform {

struct PathStyle {
  char separator;            // '\\' on Windows, '/' elsewhere
  const char* program_suffix;  // ".exe" on Windows, "" elsewhere
  // Whether a started program receives a list of arguments split from its
  // command line here, so that a quoted item arrives unchanged only when its
  // quotes and final backslashes are escaped (the Linux stand-in). On
  // Windows the program itself splits the line, by its own rules.
  bool escapes_quoted_items;
};

constexpr PathStyle kWindowsPaths = {'\\', ".exe", false};
constexpr PathStyle kPosixPaths = {'/', "", true};

// The style of the platform this program was built for.
const PathStyle& SystemPathStyle();

}  // namespace platform

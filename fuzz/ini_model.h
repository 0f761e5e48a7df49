// Plain reference models of how tarvo gets its Java runtime directory out
// of tarvo.ini: the C runtime's text mode and the value rule of the first
// line.
#pragma once

#include <cstddef>
#include <string>

#include "fuzz/fuzz_check.h"

namespace fuzz {

// The characters text mode delivers: CR LF as LF, any other CR kept, and
// nothing from a Ctrl-Z on.
inline std::string TextModeCharacters(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1a'; ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
      continue;  // the LF that follows stands for both
    text.push_back(bytes[i]);
  }
  return text;
}

// The first line as a 1040-byte buffer receives it: up to 1039 characters,
// the line feed included, read as a C string.
inline std::string FirstIniLine(const std::string& text) {
  std::string line = text.substr(0, 1039);
  const std::size_t feed = line.find('\n');
  if (feed != std::string::npos) line.resize(feed + 1);
  return CString(line);
}

// The directory a first line names: after the first equals sign less the
// spaces and tabs that follow it, or the whole line; less one final line
// feed.
inline std::string IniValue(const std::string& line) {
  std::size_t start = 0;
  const std::size_t equals = line.find('=');
  if (equals != std::string::npos) {
    start = line.find_first_not_of(" \t", equals + 1);
    if (start == std::string::npos) start = line.size();
  }
  std::string value = line.substr(start);
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

}  // namespace fuzz

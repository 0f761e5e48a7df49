// Standard output, behind a seam so that tests can read what was written.
#pragma once

namespace platform {

class Console {
 public:
  virtual ~Console() = default;
  // Writes the text and flushes it, so it stands before a child's output.
  virtual void Write(const char* text) = 0;
};

Console& StandardOutput();

}  // namespace platform

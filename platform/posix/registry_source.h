// Where the registry file's bytes come from: a regular file read afresh by
// each pass, or the bytes of a pipe (or of a test's text) kept in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class RegistrySource {
 public:
  virtual ~RegistrySource() = default;
  // Up to `size` bytes from `offset` into `buffer`; 0 at the end. A file
  // that shrank or cannot be read any more ends where reading stopped.
  virtual std::size_t ReadAt(std::uint64_t offset, char* buffer,
                             std::size_t size) const = 0;
  // Its size when it was opened: only a guide to how much to read at once,
  // as a file may change after.
  virtual std::uint64_t SizeWhenOpened() const = 0;
};

// How much of a pipe or FIFO is read: it cannot be read twice, so it is
// kept, and what lies beyond this is left unread.
constexpr std::size_t kPipeReadLimit = std::size_t(1) << 20;

// `bytes` as a source.
std::unique_ptr<RegistrySource> MemorySource(std::string bytes);

// The file at `path`, opened without ever blocking: a regular file, or a
// pipe or FIFO (one that nobody writes reads as empty). Null for anything
// else or a file that cannot be opened, with the reason in `why`.
std::unique_ptr<RegistrySource> OpenRegistrySource(const std::string& path,
                                                   std::string* why);

}  // namespace platform

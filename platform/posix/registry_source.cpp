#include "platform/posix/registry_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {
namespace {

class MemoryBytes : public RegistrySource {
 public:
  explicit MemoryBytes(std::string bytes) : bytes_(std::move(bytes)) {}

  std::size_t ReadAt(std::uint64_t offset, char* buffer,
                     std::size_t size) const override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t count =
        std::min(size, bytes_.size() - std::size_t(offset));
    std::memcpy(buffer, bytes_.data() + offset, count);
    return count;
  }

  std::uint64_t SizeWhenOpened() const override { return bytes_.size(); }

 private:
  std::string bytes_;
};

// Read, never mapped: a file cut short or rewritten in place under a
// mapping would stop the process at the first page that is gone. Read,
// it only ends sooner or reads torn, and no byte of it stays in memory
// beyond the pass that read it.
class FileBytes : public RegistrySource {
 public:
  FileBytes(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() override { close(fd_); }

  std::size_t ReadAt(std::uint64_t offset, char* buffer,
                     std::size_t size) const override {
    for (;;) {
      const ssize_t got = pread(fd_, buffer, size, off_t(offset));
      if (got >= 0) return std::size_t(got);
      if (errno != EINTR) return 0;  // what could be read is what it holds
    }
  }

  std::uint64_t SizeWhenOpened() const override { return size_; }

 private:
  int fd_;
  std::uint64_t size_;
};

// A pipe's bytes up to the limit; a read error ends them.
std::string ReadPipe(int fd) {
  std::string bytes;
  char chunk[1 << 16];
  while (bytes.size() < kPipeReadLimit) {
    const std::size_t room =
        std::min(sizeof chunk, kPipeReadLimit - bytes.size());
    const ssize_t got = read(fd, chunk, room);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.append(chunk, std::size_t(got));
  }
  return bytes;
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

}  // namespace

std::unique_ptr<RegistrySource> MemorySource(std::string bytes) {
  return std::make_unique<MemoryBytes>(std::move(bytes));
}

std::unique_ptr<RegistrySource> OpenRegistrySource(const std::string& path,
                                                   std::string* why) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
  // writer, forever if none comes.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *why = path + " cannot be opened: " + std::strerror(errno);
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *why = path + " cannot be examined: " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  if (S_ISREG(info.st_mode)) {
    return std::make_unique<FileBytes>(fd, std::uint64_t(info.st_size));
  }
  if (S_ISFIFO(info.st_mode)) {
    // A writer that is there gets waited for; with none, a read gives the
    // end at once.
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::string bytes = ReadPipe(fd);
    close(fd);
    return MemorySource(std::move(bytes));
  }
  // A device may never end (/dev/zero) or never answer.
  *why = path + " is " + KindOf(info.st_mode) +
         ", neither a file nor a pipe: no registry";
  close(fd);
  return nullptr;
}

}  // namespace platform

#include "platform/posix/descriptors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>

namespace platform {
namespace {

// A descriptor's number from its name in /proc/self/fd, else -1.
int DescriptorNumber(const char* name) {
  if (*name == '\0') return -1;
  int number = 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9' || number > (INT_MAX - 9) / 10) return -1;
    number = number * 10 + (*name - '0');
  }
  return number;
}

// Every number from 3 below the descriptor limit: only where /proc cannot
// tell which are open, as a limit may be a million.
void MarkBelowLimit() {
  struct rlimit limit;
  rlim_t end = 1024;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) end = limit.rlim_cur;
  if (end > static_cast<rlim_t>(INT_MAX)) end = INT_MAX;
  for (int fd = STDERR_FILENO + 1; static_cast<rlim_t>(fd) < end; ++fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

// The descriptors open, walked in /proc/self/fd with getdents64 into a
// buffer on the stack; below the limit where /proc cannot be read. A frame
// of its own: the buffer is not laid out where close_range works.
[[gnu::noinline]] void MarkOpenDescriptors() {
  int directory = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) {
    MarkBelowLimit();
    return;
  }
  alignas(struct dirent64) char buffer[1024];
  ssize_t got;
  while ((got = getdents64(directory, buffer, sizeof buffer)) > 0) {
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      int fd = DescriptorNumber(entry->d_name);
      if (fd > STDERR_FILENO && fd != directory) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  close(directory);
  if (got < 0) MarkBelowLimit();
}

}  // namespace

// Close-on-exec rather than closed, so that the child's report pipe stays
// open until the program runs. close_range does it in one call from Linux
// 5.11; where it fails (ENOSYS before 5.9, EINVAL for the flag on 5.9 and
// 5.10, EPERM under a seccomp profile older than the call) the descriptors
// open are walked, never a loop up to the descriptor limit while /proc can
// tell.
void KeepDescriptorsFromProgram() {
  if (close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  MarkOpenDescriptors();
}

}  // namespace platform

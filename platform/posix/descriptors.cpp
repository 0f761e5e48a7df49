#include "platform/posix/internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace platform {
namespace {

// The kernel's default ceiling on descriptor numbers (fs.nr_open). A
// descriptor may lie above both limits: they can be lowered after it was
// opened.
constexpr rlim_t kDefaultCeiling = rlim_t{1} << 20;
// The furthest a walk goes for a hard limit raised past the default: the
// "unlimited" of container runtimes, 2^30 - 8, would take seconds, and a
// descriptor beyond 2^24 needs a table of 128 MiB in the kernel.
constexpr rlim_t kWalkCeiling = rlim_t{1} << 24;
// Numbers asked about in one poll call: 8 KiB of stack.
constexpr int kBatch = 1024;
// CLOSE_RANGE_CLOEXEC of <linux/close_range.h> from Linux 5.11 on; the
// build root's kernel headers (5.10) have the call but not the flag.
constexpr unsigned kCloseRangeCloexec = 1u << 2;

// close_range and getdents64 through syscall() with the kernel headers'
// numbers: the C library the programs are built against (glibc 2.31, and
// older ones they run on) has no wrapper of either.
long CloseRange(unsigned first, unsigned last, unsigned flags) {
  return syscall(__NR_close_range, first, last, flags);
}

long Getdents64(int directory, char* buffer, unsigned long size) {
  return syscall(__NR_getdents64, directory, buffer, size);
}

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

struct Walk {
  int end;    // past the highest number that can be open
  int batch;  // numbers per poll call, which refuses more than the soft limit
};

// The walk for the descriptor limits in force; the default where they
// cannot be read.
Walk WalkBounds() {
  Walk walk = {static_cast<int>(kDefaultCeiling), kBatch};
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return walk;
  if (limit.rlim_max > kDefaultCeiling) {
    walk.end = static_cast<int>(std::min(limit.rlim_max, kWalkCeiling));
  }
  if (limit.rlim_cur < static_cast<rlim_t>(kBatch)) {
    walk.batch = std::max(1, static_cast<int>(limit.rlim_cur));
  }
  return walk;
}

// Marks the open ones of count numbers from first: poll tells the closed
// ones apart by POLLNVAL, a batch in one call, above the soft limit too.
// Where poll fails, every number of the batch is marked. poll reports an
// O_PATH descriptor as closed: such a one is missed.
void MarkBatch(struct pollfd* entries, int first, int count) {
  for (int i = 0; i < count; ++i) entries[i] = pollfd{first + i, 0, 0};
  const bool polled = poll(entries, static_cast<nfds_t>(count), 0) >= 0;
  for (int i = 0; i < count; ++i) {
    if (!polled || (entries[i].revents & POLLNVAL) == 0) {
      fcntl(first + i, F_SETFD, FD_CLOEXEC);
    }
  }
}

// The descriptors open, walked in /proc/self/fd with getdents64; every
// number that can be open where /proc cannot be read.
void MarkOpenDescriptors() {
  int directory = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) {
    MarkEveryPossibleDescriptor();
    return;
  }
  alignas(struct dirent64) char buffer[1024];
  ssize_t got;
  while ((got = Getdents64(directory, buffer, sizeof buffer)) > 0) {
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      int fd = DescriptorNumber(entry->d_name);
      if (fd > STDERR_FILENO && fd != directory) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  close(directory);
  if (got < 0) MarkEveryPossibleDescriptor();
}

}  // namespace

void MarkEveryPossibleDescriptor() {
  const Walk walk = WalkBounds();
  struct pollfd entries[kBatch];
  for (int first = STDERR_FILENO + 1; first < walk.end; first += walk.batch) {
    MarkBatch(entries, first, std::min(walk.batch, walk.end - first));
  }
}

// Close-on-exec rather than closed, so that the child's report pipe stays
// open until the program runs. close_range does it in one call from Linux
// 5.11; where it fails (ENOSYS before 5.9, EINVAL for the flag on 5.9 and
// 5.10, EPERM under a seccomp profile older than the call) the descriptors
// open are walked, never every possible number while /proc can tell.
void KeepDescriptorsFromProgram() {
  if (CloseRange(STDERR_FILENO + 1, ~0U, kCloseRangeCloexec) == 0) return;
  MarkOpenDescriptors();
}

}  // namespace platform

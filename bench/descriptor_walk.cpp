// What gorvanel's last resort for keeping descriptors from the Java VM
// costs (platform::MarkEveryPossibleDescriptor: close_range failing, /proc
// not mounted). As the end-to-end case, it holds descriptors 700 and 1500
// opened before both limits were lowered to 1024, so that the walk goes to
// its default ceiling, 2^20; after each run it checks that both were
// marked.
//
//   descriptor_walk [RUNS]   each run's wall-clock and CPU time, then the
//                            least, the median and the most (default 9)
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/posix/internal.h"

namespace {

constexpr int kHeld[] = {700, 1500};
constexpr rlim_t kLowered = 1024;

struct Run {
  double wall_ms;
  double cpu_ms;
};

double Milliseconds(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e3 +
         static_cast<double>(now.tv_nsec) / 1e6;
}

bool HoldAboveTheLimits() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 1501);
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  int null = open("/dev/null", O_RDONLY);
  if (null < 0) return false;
  for (int fd : kHeld) {
    if (dup2(null, fd) != fd) return false;
  }
  close(null);
  limit = {kLowered, kLowered};
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// Clears the held descriptors' mark, walks, and says whether both got it.
bool TimedWalk(Run* run) {
  for (int fd : kHeld) fcntl(fd, F_SETFD, 0);
  const double wall = Milliseconds(CLOCK_MONOTONIC);
  const double cpu = Milliseconds(CLOCK_PROCESS_CPUTIME_ID);
  platform::MarkEveryPossibleDescriptor();
  run->wall_ms = Milliseconds(CLOCK_MONOTONIC) - wall;
  run->cpu_ms = Milliseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
  for (int fd : kHeld) {
    if (fcntl(fd, F_GETFD) != FD_CLOEXEC) return false;
  }
  return true;
}

void Summary(const char* what, std::vector<double> figures) {
  std::sort(figures.begin(), figures.end());
  std::printf("%s: least %.1f, median %.1f, most %.1f ms\n", what,
              figures.front(), figures[figures.size() / 2], figures.back());
}

}  // namespace

int main(int argc, char** argv) {
  char* end = nullptr;
  const long runs = argc > 1 ? std::strtol(argv[1], &end, 10) : 9;
  if (runs < 1 || runs > 1000 || (end != nullptr && *end != '\0')) {
    std::fputs("usage: descriptor_walk [RUNS]\n", stderr);
    return 2;
  }
  if (!HoldAboveTheLimits()) {
    std::perror("descriptor_walk: holding 700 and 1500 above the limits");
    return 1;
  }
  std::vector<double> wall, cpu;
  for (long i = 0; i < runs; ++i) {
    Run run;
    if (!TimedWalk(&run)) {
      std::fputs("descriptor_walk: a held descriptor was not marked\n",
                 stderr);
      return 1;
    }
    std::printf("run %ld: wall %.1f ms, CPU %.1f ms\n", i + 1, run.wall_ms,
                run.cpu_ms);
    wall.push_back(run.wall_ms);
    cpu.push_back(run.cpu_ms);
  }
  Summary("wall", wall);
  Summary("CPU", cpu);
  return 0;
}

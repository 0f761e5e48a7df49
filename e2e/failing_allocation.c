/* Preloaded into a launcher (LD_PRELOAD), makes one of its allocations
 * fail: the one numbered by FAILING_ALLOCATION, counting every malloc,
 * calloc, realloc and aligned allocation from the start of the program's
 * main on, those of the loader and of the start-up before main left out.
 * It appends to the file named by FAILING_ALLOCATION_LOG a line "failed"
 * when it fails that allocation and a line "exec" each time the launcher
 * runs a program. As main starts, it takes LD_PRELOAD and its own
 * variables out of the environment, so that the programs the launcher
 * starts run without it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

typedef int (*Main)(int, char**, char**);
typedef int (*StartMain)(Main, int, char**, void (*)(void), void (*)(void),
                         void (*)(void), void*);

static Main g_main;
static int g_counting;         /* from main on */
static unsigned long g_count;  /* allocations counted so far */
static unsigned long g_fail_at;
static char g_log[4096];

/* Async-signal-safe: also written from a vfork child before its exec. */
static void note(const char* line) {
  int fd;
  if (g_log[0] == '\0') return;
  fd = open(g_log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line, strlen(line)) < 0) {
    /* nothing to be done: the test sees the line missing */
  }
  close(fd);
}

/* Counts an allocation; true when it is the one to fail. */
static int fails(void) {
  if (!g_counting || ++g_count != g_fail_at) return 0;
  note("failed\n");
  errno = ENOMEM;
  return 1;
}

void* malloc(size_t size) { return fails() ? NULL : __libc_malloc(size); }

void* calloc(size_t count, size_t size) {
  return fails() ? NULL : __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
  return fails() ? NULL : __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) {
  return fails() ? NULL : __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  return memalign(alignment, size);
}

int posix_memalign(void** block, size_t alignment, size_t size) {
  void* got;
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
    return EINVAL;
  got = memalign(alignment, size);
  if (got == NULL) return ENOMEM;
  *block = got;
  return 0;
}

int execve(const char* path, char* const argv[], char* const envp[]) {
  note("exec\n");
  return (int)syscall(SYS_execve, path, argv, envp);
}

static int counted_main(int argc, char** argv, char** envp) {
  const char* fail_at = getenv("FAILING_ALLOCATION");
  const char* log = getenv("FAILING_ALLOCATION_LOG");
  g_fail_at = fail_at != NULL ? strtoul(fail_at, NULL, 10) : 0;
  if (log != NULL && strlen(log) < sizeof(g_log)) strcpy(g_log, log);
  unsetenv("FAILING_ALLOCATION");
  unsetenv("FAILING_ALLOCATION_LOG");
  unsetenv("LD_PRELOAD");
  g_counting = 1;
  (void)envp;
  return g_main(argc, argv, environ);
}

int __libc_start_main(Main main, int argc, char** argv, void (*init)(void),
                      void (*fini)(void), void (*rtld_fini)(void),
                      void* stack_end) {
  StartMain start = (StartMain)dlsym(RTLD_NEXT, "__libc_start_main");
  g_main = main;
  return start(counted_main, argc, argv, init, fini, rtld_fini, stack_end);
}

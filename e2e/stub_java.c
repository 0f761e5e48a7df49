/* A stand-in for the Java VM in end-to-end tests. It appends what it was
 * started with to the file named by STUB_JAVA_RECORD and ends as
 * STUB_JAVA_EXIT (and, on Linux, STUB_JAVA_SIGNAL) say. With STUB_JAVA_WAIT
 * it first waits, as a long-running Java program would (see wait_mode);
 * on Windows, STUB_JAVA_LEAVE leaves a process running (see leave_mode).
 *
 * Record: a "begin" line, then one "key=hex" line per item, then "end".
 * Keys: argc (decimal), argv (one line per element, in order), CLASSPATH
 * and LIB (only when set), cmdline (Windows only: GetCommandLineA), fds
 * and ignored (Linux only: the descriptors open and the signals ignored
 * when the stub started, each a list of numbers such as "0,1,2"; without
 * /proc, the descriptors below 4096). The
 * values are hex so that blanks, quotes and line breaks survive intact. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

#ifdef __SANITIZE_ADDRESS__
/* Built with the sanitizers, the stub still looks for no leaks: started
 * set-user-ID to another user, as a test of the parent-death signal's limit
 * starts it, it could not (LeakSanitizer cannot trace such a process), and
 * it is the launchers' leaks that matter. */
int __lsan_is_turned_off(void);
int __lsan_is_turned_off(void) { return 1; }
#endif

/* Longest wait, so that a stub its launcher failed to take along still
 * ends by itself. */
#define WAIT_LIMIT_SECONDS 60

static void put_hex(FILE* out, const char* key, const char* value) {
  const unsigned char* p = (const unsigned char*)value;
  fprintf(out, "%s=", key);
  for (; *p != '\0'; ++p) fprintf(out, "%02x", *p);
  fputc('\n', out);
}

static void put_env(FILE* out, const char* name) {
  const char* value = getenv(name);
  if (value != NULL) put_hex(out, name, value);
}

#ifndef _WIN32
/* Appends ",<number>" (the first without its comma) while it fits. */
static void put_number(char* list, size_t size, long number) {
  size_t used = strlen(list);
  snprintf(list + used, size - used, "%s%ld", used > 0 ? "," : "", number);
}

/* Where /proc is not mounted: the descriptors below PROBE_END that fcntl
 * finds open, in order. The tests open none above it. */
#define PROBE_END 4096

static void probed(char* fds, size_t size) {
  int fd;
  for (fd = 0; fd < PROBE_END; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) put_number(fds, size, fd);
  }
}

/* What the launcher handed on, taken before the record file is opened: the
 * descriptors open, in the order /proc lists them (else as probed), and
 * the signals ignored. */
static void inherited(char* fds, char* ignored, size_t size) {
  DIR* dir = opendir("/proc/self/fd");
  struct dirent* entry;
  int sig;
  fds[0] = ignored[0] = '\0';
  if (dir == NULL) probed(fds, size);
  while (dir != NULL && (entry = readdir(dir)) != NULL) {
    if (entry->d_name[0] != '.' && atoi(entry->d_name) != dirfd(dir))
      put_number(fds, size, atol(entry->d_name));
  }
  if (dir != NULL) closedir(dir);
  for (sig = 1; sig < NSIG; ++sig) {
    struct sigaction action;
    if (sigaction(sig, NULL, &action) == 0 &&
        (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN)
      put_number(ignored, size, sig);
  }
}
#endif

static void write_record(const char* path, int argc, char** argv) {
  FILE* out;
  int i;
#ifndef _WIN32
  char fds[512], ignored[512]; /* of one size, for inherited() */
  inherited(fds, ignored, sizeof(fds));
#endif
  /* Binary mode: the record's line ends stay LF on every platform. */
  out = fopen(path, "ab");
  if (out == NULL) {
    fprintf(stderr, "stub java: cannot open %s\n", path);
    exit(70);
  }
  fputs("begin\n", out);
  fprintf(out, "argc=%d\n", argc);
  for (i = 0; i < argc; ++i) put_hex(out, "argv", argv[i]);
  put_env(out, "CLASSPATH");
  put_env(out, "LIB");
#ifdef _WIN32
  put_hex(out, "cmdline", GetCommandLineA());
#else
  put_hex(out, "fds", fds);
  put_hex(out, "ignored", ignored);
#endif
  fputs("end\n", out);
  fclose(out);
}

/* Read wide and cut to 32 bits, so that an exit code above INT_MAX
 * (4294967295 on Windows) arrives as that code: atoi's overflow is
 * undefined, and some runtimes saturate it. */
static int env_number(const char* name, int fallback) {
  const char* value = getenv(name);
  if (value == NULL || *value == '\0') return fallback;
  return (int)(unsigned int)strtoll(value, NULL, 10);
}

/* One line appended to the wait file, flushed at once: the test reads it
 * while the stub runs. */
static void put_line(const char* path, const char* format, long value) {
  FILE* out = fopen(path, "ab");
  if (out == NULL) exit(71);
  fprintf(out, format, value);
  fclose(out);
}

#ifdef _WIN32
/* Writes "ready <process id>" to the file, then sleeps until the limit
 * (STUB_JAVA_WAIT_LIMIT seconds, else WAIT_LIMIT_SECONDS) and writes
 * "limit <seconds>": a stub that reached it was not ended by anyone. */
static int wait_mode(const char* path) {
  int limit = env_number("STUB_JAVA_WAIT_LIMIT", WAIT_LIMIT_SECONDS);
  put_line(path, "ready %ld\n", (long)GetCurrentProcessId());
  Sleep((DWORD)limit * 1000);
  put_line(path, "limit %ld\n", (long)limit);
  return 97;
}

/* STUB_JAVA_LEAVE: as a Java program that starts a process and leaves it
 * running on purpose, starts a copy of itself with the same command line
 * that waits as with STUB_JAVA_WAIT set to the same file, and ends. */
static int leave_mode(const char* path) {
  char self[MAX_PATH];
  char line[32768];
  STARTUPINFOA startup;
  PROCESS_INFORMATION info;
  DWORD length = GetModuleFileNameA(NULL, self, sizeof(self));
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  if (length == 0 || length >= sizeof(self)) return 72;
  snprintf(line, sizeof(line), "%s", GetCommandLineA());
  SetEnvironmentVariableA("STUB_JAVA_LEAVE", NULL);
  SetEnvironmentVariableA("STUB_JAVA_RECORD", NULL);
  SetEnvironmentVariableA("STUB_JAVA_WAIT", path);
  if (!CreateProcessA(self, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                      &info))
    return 73;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
}
#else
/* Writes "ready <pid>" to the file and waits for TERM, HUP, INT or QUIT.
 * Each that comes is written as "signal <number>"; a moment after the
 * first, so that a second delivery shows as a second line, the stub ends
 * with 128 + its number, as the Java VM does on TERM, HUP and INT. */
static int wait_mode(const char* path) {
  static const int watched[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
  struct timespec limit = {WAIT_LIMIT_SECONDS, 0};
  struct timespec linger = {0, 300 * 1000 * 1000};
  sigset_t set;
  int first = 0;
  size_t i;
  sigemptyset(&set);
  for (i = 0; i < sizeof(watched) / sizeof(watched[0]); ++i)
    sigaddset(&set, watched[i]);
  sigprocmask(SIG_BLOCK, &set, NULL);
  put_line(path, "ready %ld\n", (long)getpid());
  for (;;) {
    int sig = sigtimedwait(&set, NULL, first ? &linger : &limit);
    if (sig > 0) {
      put_line(path, "signal %ld\n", (long)sig);
      if (first == 0) first = sig;
      continue;
    }
    if (errno == EINTR) continue;
    return first == 0 ? 97 : 128 + first;
  }
}
#endif

int main(int argc, char** argv) {
  const char* record = getenv("STUB_JAVA_RECORD");
  const char* wait = getenv("STUB_JAVA_WAIT");
  if (record != NULL && *record != '\0') write_record(record, argc, argv);
  if (wait != NULL && *wait != '\0') return wait_mode(wait);
#ifdef _WIN32
  {
    const char* leave = getenv("STUB_JAVA_LEAVE");
    if (leave != NULL && *leave != '\0') return leave_mode(leave);
  }
#endif
#ifndef _WIN32
  {
    int sig = env_number("STUB_JAVA_SIGNAL", 0);
    if (sig > 0) {
      signal(sig, SIG_DFL);
      kill(getpid(), sig);
      /* A signal whose default is to be ignored lands here. */
      return 99;
    }
  }
#endif
  return env_number("STUB_JAVA_EXIT", 0);
}

/* Runs a program as on an older kernel or under a container's seccomp
 * profile: installs a seccomp filter in this process and execs the program
 * in place (same pid, so that signals sent to it reach the program), which
 * keeps the filter, and so do its children.
 *
 *   seccomp_wrapper MODE PROGRAM [ARGUMENT...]
 *   seccomp_wrapper --probe MODE    exit 0 when MODE can be installed here
 *                                   and works, else 2 with the reason
 *
 * MODE:
 *   enosys-after-3.10   every system call that Linux 3.10 lacks fails with
 *                       ENOSYS: those numbered from sched_setattr (Linux
 *                       3.14) on, 314 on x86_64 and 274 on aarch64
 *   close_range=EPERM   close_range alone fails with EPERM, as under a
 *                       seccomp profile older than the call
 *   close_range=EINVAL  close_range alone fails with EINVAL, as on Linux
 *                       5.9 and 5.10 asked for CLOSE_RANGE_CLOEXEC
 *   pass                nothing fails: the same filter's cost alone
 *
 * In every mode a call of another ABI (i386's int 0x80, x32) fails with
 * ENOSYS: its numbers mean other calls. PROGRAM without a slash is looked
 * for along PATH. No libseccomp: a classic BPF program, and
 * PR_SET_NO_NEW_PRIVS so that no privilege is needed. */
#define _GNU_SOURCE
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__x86_64__)
#define NATIVE_ARCH AUDIT_ARCH_X86_64
#define OTHER_ABI_BIT 0x40000000u /* __X32_SYSCALL_BIT */
#elif defined(__aarch64__)
#define NATIVE_ARCH AUDIT_ARCH_AARCH64
#define OTHER_ABI_BIT 0u
#endif

/* The first call after Linux 3.10, from the kernel's headers: on x86_64
 * and on aarch64 (the generic table) each call came at the end of the
 * table, every call numbered below sched_setattr (Linux 3.14) was there by
 * Linux 3.8 (finit_module), and nothing came in between (syscalls(2)). */
#define FIRST_AFTER_3_10 __NR_sched_setattr

static void usage(void) {
  fputs("usage: seccomp_wrapper MODE PROGRAM [ARGUMENT...]\n"
        "       seccomp_wrapper --probe MODE\n"
        "MODE: enosys-after-3.10, close_range=EPERM, close_range=EINVAL, "
        "pass\n",
        stderr);
}

/* The action of MODE for the calls it singles out, and whether those are
 * all calls from FIRST_AFTER_3_10 on (else close_range alone). 0 when MODE
 * is unknown. */
static int parse_mode(const char* mode, unsigned* action, int* after) {
  *after = 0;
  if (strcmp(mode, "enosys-after-3.10") == 0) {
    *after = 1;
    *action = SECCOMP_RET_ERRNO | ENOSYS;
  } else if (strcmp(mode, "close_range=EPERM") == 0) {
    *action = SECCOMP_RET_ERRNO | EPERM;
  } else if (strcmp(mode, "close_range=EINVAL") == 0) {
    *action = SECCOMP_RET_ERRNO | EINVAL;
  } else if (strcmp(mode, "pass") == 0) {
    *action = SECCOMP_RET_ALLOW;
  } else {
    return 0;
  }
  return 1;
}

#ifdef NATIVE_ARCH
/* 0, or the error number of the failure, with *step naming it. */
static int install(unsigned action, int after, const char** step) {
  struct sock_filter filter[] = {
      /* 0 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                       offsetof(struct seccomp_data, arch)),
      /* 1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_ARCH, 0, 5),
      /* 2 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                       offsetof(struct seccomp_data, nr)),
      /* 3 */ BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, OTHER_ABI_BIT, 3, 0),
      /* 4: the calls MODE singles out; filled in below */
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_close_range, 0, 1),
      /* 5 */ BPF_STMT(BPF_RET | BPF_K, action),
      /* 6 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      /* 7: another ABI */
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
  };
  struct sock_fprog program = {sizeof(filter) / sizeof(filter[0]), filter};
  if (after) {
    filter[4].code = BPF_JMP | BPF_JGE | BPF_K;
    filter[4].k = FIRST_AFTER_3_10;
  }
  *step = "prctl(PR_SET_NO_NEW_PRIVS)";
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return errno;
  *step = "prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER)";
  if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0)
    return errno;
  return 0;
}
#else
static int install(unsigned action, int after, const char** step) {
  (void)action;
  (void)after;
  *step = "this architecture (the wrapper knows x86_64 and aarch64)";
  return ENOTSUP;
}
#endif

/* In a child, so that this process stays as it was: installs MODE and
 * checks that close_range then fails as MODE says. */
static int probe(const char* mode) {
  unsigned action;
  int after, status;
  pid_t child;
  if (!parse_mode(mode, &action, &after)) {
    usage();
    return 2;
  }
  child = fork();
  if (child < 0) {
    perror("seccomp_wrapper: fork");
    return 2;
  }
  if (child == 0) {
    const char* step;
    int error = install(action, after, &step);
    long result;
    int wanted = action == SECCOMP_RET_ALLOW ? 0 : (int)(action & 0xffff);
    if (error != 0) {
      fprintf(stderr, "seccomp cannot be installed here: %s: %s\n", step,
              strerror(error));
      _exit(2);
    }
    /* A range of no open descriptor: 0 where the call works. */
    result = syscall(__NR_close_range, 1u << 20, 1u << 20, 0u);
    if (wanted == 0 ? result != 0 && errno != ENOSYS
                    : result != -1 || errno != wanted) {
      fprintf(stderr,
              "seccomp filter installed but close_range gave %ld (%s), "
              "not the error %d\n",
              result, result == 0 ? "no error" : strerror(errno), wanted);
      _exit(2);
    }
    _exit(0);
  }
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      perror("seccomp_wrapper: waitpid");
      return 2;
    }
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 2;
}

int main(int argc, char** argv) {
  unsigned action;
  int after, error;
  const char* step;
  if (argc == 3 && strcmp(argv[1], "--probe") == 0) return probe(argv[2]);
  if (argc < 3 || !parse_mode(argv[1], &action, &after)) {
    usage();
    return 2;
  }
  error = install(action, after, &step);
  if (error != 0) {
    fprintf(stderr, "seccomp_wrapper: %s: %s\n", step, strerror(error));
    return 126;
  }
  execvp(argv[2], argv + 2);
  fprintf(stderr, "seccomp_wrapper: %s: %s\n", argv[2], strerror(errno));
  return errno == ENOENT ? 127 : 126;
}

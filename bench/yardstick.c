/* The yardstick for each launcher's start-up: the least its job needs.
 *
 *   yardstick tarvo PROGRAM [ARGUMENT...]
 *   yardstick gorvanel PROGRAM [ARGUMENT...]
 *
 * First what the launcher cannot do without: one reading of the registry
 * file (TALVANE_REGISTRY, else /etc/opt/talvane/registry.reg) to its end,
 * then tarvo's two services (nfport and tovrexm over tcp) or gorvanel's
 * groups (the name of gid 0, the process's groups, the name of each until
 * one matches). Then it starts
 * PROGRAM with PROGRAM [ARGUMENT...] as its argument vector in a child that
 * gets SIGTERM should this process die first, waits for it and ends with
 * its status (128 + the signal when one ended it). As the launchers do, it
 * waits with SIGCHLD at its default where its caller ignores it, and the
 * child gets the caller's disposition back. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <grp.h>
#include <netdb.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

/* The registry file's bytes, read once and dropped: the launchers cannot
 * find their directories without reading it. */
static void read_registry(void) {
  const char* path = getenv("TALVANE_REGISTRY");
  char chunk[4096];
  int fd = open(path != NULL && *path != '\0' ? path
                                              : "/etc/opt/talvane/registry.reg",
                O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  while (read(fd, chunk, sizeof(chunk)) > 0) {
  }
  close(fd);
}

static int services(void) {
  struct servent* nfport = getservbyname("nfport", "tcp");
  struct servent* tovrexm = getservbyname("tovrexm", "tcp");
  return (nfport != NULL) + (tovrexm != NULL);
}

static int group_name(gid_t gid, char* name, size_t size) {
  char scratch[1024];
  struct group entry;
  struct group* found = NULL;
  if (getgrgid_r(gid, &entry, scratch, sizeof(scratch), &found) != 0 ||
      found == NULL)
    return 0;
  snprintf(name, size, "%s", found->gr_name);
  return 1;
}

/* 1 when the process is in the group with gid 0, by name as gorvanel
 * compares them. */
static int groups(void) {
  char wanted[256], name[256];
  gid_t list[256];
  int count, i;
  if (!group_name(0, wanted, sizeof(wanted))) return 0;
  count = getgroups(255, list);
  if (count < 0) return 0;
  list[count++] = getegid();
  for (i = 0; i < count; ++i) {
    if (group_name(list[i], name, sizeof(name)) && strcmp(name, wanted) == 0)
      return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  pid_t parent = getpid();
  pid_t pid;
  int status;
  struct sigaction caller, default_action;
  int ignored;
  if (argc < 3 || (strcmp(argv[1], "tarvo") != 0 &&
                   strcmp(argv[1], "gorvanel") != 0)) {
    fputs("usage: yardstick tarvo|gorvanel PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  read_registry();
  if (strcmp(argv[1], "tarvo") == 0) {
    services();
  } else if (!groups()) {
    return 1;
  }
  /* An ignored SIGCHLD would have the kernel reap the child itself. */
  ignored = sigaction(SIGCHLD, NULL, &caller) == 0 &&
            (caller.sa_flags & SA_SIGINFO) == 0 && caller.sa_handler == SIG_IGN;
  if (ignored) {
    memset(&default_action, 0, sizeof(default_action));
    default_action.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &default_action, NULL);
  }
  pid = vfork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(128 + SIGTERM);
    if (ignored) sigaction(SIGCHLD, &caller, NULL);
    execve(argv[2], argv + 2, environ);
    _exit(127);
  }
  if (pid < 0) return 127;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

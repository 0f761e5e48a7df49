/* The yardstick for the launchers' own cost: the least a launcher can do.
 * It starts argv[1] with argv[1..] as the child's argument vector, waits
 * for it and ends with its status (128 + the signal when one ended it). */
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
  pid_t pid;
  int status;
  int error;
  if (argc < 2) {
    fputs("usage: minimal_launcher PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  error = posix_spawn(&pid, argv[1], NULL, NULL, argv + 1, environ);
  if (error != 0) {
    fprintf(stderr, "minimal_launcher: %s: %s\n", argv[1], strerror(error));
    return 127;
  }
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

#include "platform/posix/child.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// posix_spawn wants a null-terminated array of writable pointers.
std::vector<char*> PointerArray(const std::vector<std::string>& items) {
  std::vector<char*> pointers;
  pointers.reserve(items.size() + 1);
  for (const std::string& item : items) {
    pointers.push_back(const_cast<char*>(item.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
}

// The child starts with no signal blocked and every handler at its
// default, as a program started afresh on Windows would, whatever this
// process has done to its own.
class SpawnAttributes {
 public:
  SpawnAttributes() { error_ = posix_spawnattr_init(&attr_); }
  ~SpawnAttributes() {
    if (error_ == 0) posix_spawnattr_destroy(&attr_);
  }
  int Prepare() {
    if (error_ != 0) return error_;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    int error = posix_spawnattr_setsigmask(&attr_, &none);
    if (error == 0) error = posix_spawnattr_setsigdefault(&attr_, &all);
    if (error == 0) {
      error = posix_spawnattr_setflags(
          &attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    return error;
  }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  int error_;
};

class SpawnActions {
 public:
  SpawnActions() { error_ = posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() {
    if (error_ == 0) posix_spawn_file_actions_destroy(&actions_);
  }
  int Prepare(const ChildOptions& options) {
    if (error_ != 0) return error_;
    int error = 0;
    if (options.directory != nullptr) {
      error = posix_spawn_file_actions_addchdir_np(&actions_,
                                                   options.directory);
    }
    if (error == 0 && !options.inherit_descriptors) {
      error = posix_spawn_file_actions_addclosefrom_np(&actions_,
                                                       STDERR_FILENO + 1);
    }
    return error;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  int error_;
};

}  // namespace

int SpawnChild(const char* path, const std::vector<std::string>& args,
               const ChildOptions& options, pid_t* pid) {
  SpawnAttributes attributes;
  int error = attributes.Prepare();
  if (error != 0) return error;
  SpawnActions actions;
  error = actions.Prepare(options);
  if (error != 0) return error;

  std::vector<char*> argv = PointerArray(args);
  std::vector<char*> envp;
  char** environment = environ;
  if (options.environment != nullptr) {
    envp = PointerArray(*options.environment);
    environment = envp.data();
  }
  // posix_spawn, not posix_spawnp: the path is used as given.
  return posix_spawn(pid, path, actions.get(), attributes.get(), argv.data(),
                     environment);
}

bool IsCreationFailure(int error) {
  // What a failed clone reports; every other error comes from the program
  // file (not there, not runnable, a bad directory to start in).
  return error == EAGAIN || error == ENOMEM || error == ENOSYS;
}

bool WaitForChild(pid_t pid, int* wait_status) {
  for (;;) {
    pid_t result = waitpid(pid, wait_status, 0);
    if (result == pid) return true;
    if (result < 0 && errno != EINTR) return false;
  }
}

int PollChild(pid_t pid, int* wait_status) {
  for (;;) {
    pid_t result = waitpid(pid, wait_status, WNOHANG);
    if (result == pid) return 1;
    if (result == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

int ExitCodeOf(int wait_status) {
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return WEXITSTATUS(wait_status);
}

}  // namespace platform

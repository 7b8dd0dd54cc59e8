// Outside programs of the receiver, run by argument vector with their
// output kept away from the response.
#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

extern char **environ;

namespace {

// Starts argv with standard input and error on /dev/null and standard
// output on `out_fd` (or /dev/null when it is -1). Returns the child's pid,
// or -1 when it could not be started.
pid_t spawn(const char *const argv[], int out_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

  // The request ignores SIGPIPE and may hold SIGALRM back; neither belongs
  // to the programs it starts (a "ps" whose reader is gone must just end).
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGALRM);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attr, const_cast<char *const *>(argv),
                        environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

int run_program(const char *const argv[]) {
  pid_t pid = spawn(argv, -1);
  return pid < 0 ? -1 : wait_for(pid);
}

std::string program_output(const char *const argv[]) {
  std::string out;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return out;
  pid_t pid = spawn(argv, fds[1]);
  close(fds[1]);
  if (pid >= 0) {
    char buf[4096];
    for (;;) {
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n > 0) {
        out.append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  }
  close(fds[0]);
  if (pid >= 0) wait_for(pid);
  return out;
}

std::vector<std::string_view> line_pieces(std::string_view text, size_t buf_size) {
  std::vector<std::string_view> pieces;
  const size_t most = buf_size - 1;
  while (!text.empty()) {
    size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    if (end > most) end = most;
    pieces.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return pieces;
}

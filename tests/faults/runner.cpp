#include "runner.h"

#include "../exec_wrapper.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdlib>

bool wrapped() { return !exec_wrapper().empty(); }

Outcome launch(const Launch &l) {
  std::map<std::string, std::string> env = l.env;
  if (!env.count("PATH")) env["PATH"] = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  for (const char *v : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (getenv(v) && !env.count(v)) env[v] = getenv(v);
  std::vector<std::string> envs;
  for (auto &[k, v] : env) envs.push_back(k + "=" + v);
  std::vector<char *> envp, argv;
  for (auto &e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = l.args;
  std::string bin = l.bin;
  // An emulator or checker from TEST_EXEC_WRAPPER goes first. valgrind
  // cannot write its log as the unprivileged user: those runs go without.
  std::vector<std::string> wrapper = exec_wrapper();
  if (l.unprivileged && getuid() == 0 && !wrapper.empty() &&
      wrapper[0].find("valgrind") != std::string::npos)
    wrapper.clear();
  for (auto &w : wrapper) argv.push_back(w.data());
  argv.push_back(bin.data());
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) abort();
  if (l.out == Stdout::hang_up) close(out_pipe[0]), out_pipe[0] = -1;
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (l.stdin_closed) {
      close(0);
    } else {
      int n = open("/dev/null", O_RDONLY);
      dup2(n, 0);
      if (n != 0) close(n);
    }
    dup2(err_pipe[1], 2);
    if (l.out == Stdout::closed)
      close(1);
    else
      dup2(out_pipe[1], 1);
    if (!l.cwd.empty() && chdir(l.cwd.c_str()) != 0) _exit(120);
    if (l.unprivileged && getuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0) _exit(121);
    }
    // execvpe: a wrapper may be named by its name alone, found on our PATH.
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::thread killer;
  if (l.kill_after_ms >= 0)
    killer = std::thread([pid, ms = l.kill_after_ms] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      kill(pid, SIGKILL);  // not yet reaped: the pid is still the child's
    });
  Outcome r;
  // Standard output and error are read side by side, so that neither pipe
  // can fill up and stall the program.
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  char buf[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      size_t want = sizeof buf;
      if (i == 0 && l.out == Stdout::read_some) want = std::min(want, l.keep - r.out.size());
      ssize_t n = read(fds[i].fd, buf, want);
      if (n > 0) (i == 0 ? r.out : r.err).append(buf, size_t(n));
      bool done = n <= 0 || (i == 0 && l.out == Stdout::read_some && r.out.size() >= l.keep);
      if (done) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  if (killer.joinable()) killer.join();
  int st = 0;
  waitpid(pid, &st, 0);
  r.signaled = WIFSIGNALED(st);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

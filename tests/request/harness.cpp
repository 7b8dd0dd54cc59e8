// Test harness for the request binary.
#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "../exec_wrapper.h"

const std::string HEAD =
    "Content-Type: text/xml\r\n"
    "Cache-control: no-cache\r\n"
    "Cache-control: no-store\r\n"
    "Pragma: no-cache\r\n"
    "Expires: 0\r\n"
    "\r\n"
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<tree>";

namespace {

// Reads both pipes to their end.
void drain(int out_fd, int err_fd, std::string &out, std::string &err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        open_fds--;
      }
    }
  }
}

}  // namespace

RunResult run_request(const std::vector<std::string> &args, const Env &env) {
  Env full = env;
  if (!full.count("PATH")) full["PATH"] = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  // Sanitizer builds: keep their options, never let leaks pass unnoticed.
  for (const char *v : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (getenv(v) && !full.count(v)) full[v] = getenv(v);
  std::vector<std::string> envs;
  for (auto &[k, v] : full) envs.push_back(k + "=" + v);
  std::vector<char *> envp, argv;
  for (auto &e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> wrapper = exec_wrapper();
  for (auto &w : wrapper) argv.push_back(w.data());
  std::string bin = REQUEST_BIN;
  argv.push_back(bin.data());
  std::vector<std::string> copy = args;
  for (auto &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) abort();
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    // execvpe: a wrapper may be named by its name alone, found on our PATH.
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  RunResult r;
  drain(out_pipe[0], err_pipe[0], r.out, r.err);
  int st = 0;
  waitpid(pid, &st, 0);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

RunResult run_query(const std::string &query, Env env) {
  env["QUERY_STRING"] = query;
  return run_request({}, env);
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/request-test-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void exec_sql(const std::string &path, const std::string &sql) {
  sqlite3 *h = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &h), SQLITE_OK);
  char *err = nullptr;
  int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &err);
  std::string msg = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(h);
  ASSERT_EQ(rc, SQLITE_OK) << msg;
}

std::optional<std::string> query_one(const std::string &path, const std::string &sql) {
  sqlite3 *h = nullptr;
  std::optional<std::string> result;
  if (sqlite3_open(path.c_str(), &h) == SQLITE_OK) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char *t = sqlite3_column_text(st, 0);
      result = t ? reinterpret_cast<const char *>(t) : "";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(h);
  return result;
}

bool well_formed_xml(const std::string &xml) {
  char tmpl[] = "/tmp/request-xml-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return false;
  bool ok = write(fd, xml.data(), xml.size()) == static_cast<ssize_t>(xml.size());
  close(fd);
  std::string cmd = std::string("xmllint --noout ") + tmpl + " >/dev/null 2>&1";
  ok = ok && system(cmd.c_str()) == 0;
  unlink(tmpl);
  return ok;
}

std::string body_of(const std::string &response) {
  size_t at = response.find("\r\n\r\n");
  return at == std::string::npos ? response : response.substr(at + 4);
}

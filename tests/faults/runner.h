// Runs a program the way the fault tests need it: standard output captured,
// a pipe whose reader goes away, or closed; standard input from /dev/null or
// closed; optionally as an unprivileged user. The child starts with SIGPIPE
// at its default, as a shell pipeline would start it, and through
// TEST_EXEC_WRAPPER when that is set.
#pragma once

#include <map>
#include <string>
#include <vector>

enum class Stdout {
  capture,    // read to the end
  hang_up,    // a pipe whose reader has gone before the program starts
  read_some,  // a pipe whose reader takes `keep` bytes, then goes
  closed,     // no descriptor 1 at all
};

struct Launch {
  std::string bin;
  std::vector<std::string> args;
  std::map<std::string, std::string> env;  // PATH and sanitizer options added
  std::string cwd;                         // empty: the test's own
  Stdout out = Stdout::capture;
  size_t keep = 0;
  bool stdin_closed = false;
  bool unprivileged = false;  // run as uid/gid 65534 (when the test is root)
  int kill_after_ms = -1;     // >= 0: SIGKILL after so long, as a web server may
};

struct Outcome {
  int status = -1;   // exit status, or 128 + signal
  bool signaled = false;
  std::string out;   // what was read of standard output
  std::string err;
};

Outcome launch(const Launch &l);

// True when programs run through TEST_EXEC_WRAPPER (an emulator or
// valgrind): many times slower, and the wrapper opens files of its own, so
// that a descriptor the test closes may be the wrapper's log instead.
bool wrapped();

// The user id the unprivileged runs take; permissions must let it in.
inline constexpr unsigned NOBODY = 65534;

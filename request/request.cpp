// Process-wide state of `request`: the connection and the error exit.
#include "request.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "output.h"

sqlite3 *db = nullptr;

void block_alarm() {
  sigset_t alrm = alarm_set();
  sigprocmask(SIG_BLOCK, &alrm, nullptr);
}

void fail_request(const char *msg) {
  block_alarm();
  out_write("ERROR: ", 7);
  if (msg) out_write(msg, strlen(msg));
  out_write("\n\n", 2);
  out_flush();
  sqlite3_close(db);
  exit(1);
}

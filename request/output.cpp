// Response buffer of `request`: one growing buffer, flushed with write(2).
#include "output.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Flush once this much is pending, so that a large result never has to sit
// in memory whole.
constexpr size_t FLUSH_AT = 64 * 1024;

// The handler reads these three; the main flow changes each with one store,
// after the bytes they describe are in place.
char *volatile buf = nullptr;
volatile size_t buf_len = 0;  // committed bytes in buf
size_t buf_cap = 0;
volatile sig_atomic_t closed = 0;
bool out_dead = false;  // standard output failed: drop everything

// Writes len bytes; returns false when the descriptor fails for good.
bool write_all(const char *p, size_t len) {
  while (len > 0) {
    ssize_t n = write(STDOUT_FILENO, p, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void reserve(size_t need) {
  if (need <= buf_cap) return;
  size_t cap = buf_cap ? buf_cap : 4096;
  while (cap < need) cap *= 2;
  // New block filled first and published with one store, so the handler
  // always sees a valid buffer; the old one is freed only afterwards.
  char *fresh = static_cast<char *>(malloc(cap));
  if (!fresh) {
    static const char msg[] = "ERROR: out of memory\n\n";
    write_all(msg, sizeof msg - 1);
    _exit(1);
  }
  char *old = buf;
  if (buf_len) memcpy(fresh, old, buf_len);
  buf = fresh;
  buf_cap = cap;
  free(old);
}

}  // namespace

void out_write(const char *data, size_t len) {
  if (out_dead || len == 0) return;
  reserve(buf_len + len);
  memcpy(buf + buf_len, data, len);
  buf_len = buf_len + len;  // the commit
  if (buf_len >= FLUSH_AT) out_flush();
}

void out_printf(const char *fmt, ...) {
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out_write(small, static_cast<size_t>(n));
    return;
  }
  char *big = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
  if (!big) return;
  va_start(ap, fmt);
  vsnprintf(big, static_cast<size_t>(n) + 1, fmt, ap);
  va_end(ap);
  out_write(big, static_cast<size_t>(n));
  free(big);
}

void out_puts(const char *s) {
  out_write(s, strlen(s));
  out_write("\n", 1);
}

void out_flush() {
  if (buf_len == 0) return;
  sigset_t alrm = alarm_set(), old;
  sigprocmask(SIG_BLOCK, &alrm, &old);
  if (!out_dead && !write_all(buf, buf_len)) out_dead = true;
  buf_len = 0;
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void out_mark_closed() { closed = 1; }

void out_close_from_signal() {
  if (!out_dead && buf_len) write_all(buf, buf_len);
  buf_len = 0;
  if (!closed) {
    closed = 1;
    write_all("</tree>", 7);
  }
}

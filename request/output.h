// The one output path of `request`.
//
// Everything the program prints (header, document, error texts) is appended
// to one buffer of its own and written to standard output with write(2).
// Appends are committed by a single store of the fill count, so a signal
// handler that interrupts an append still sees a consistent prefix: that is
// what lets the watchdog finish the document with async-signal-safe calls
// only (out_close_from_signal).
#pragma once

#include <csignal>
#include <cstddef>
#include <string_view>

// The set holding only the watchdog's signal, for the places that hold it
// back while they must not be interrupted by it.
inline sigset_t alarm_set() {
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, SIGALRM);
  return s;
}

// Appends bytes to the response. Never fails: when standard output is gone
// (the client hung up), further output is dropped silently.
void out_write(const char *data, size_t len);
inline void out_write(std::string_view s) { out_write(s.data(), s.size()); }

// printf-style append. Output of any length is kept whole.
void out_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Like puts(3): the text and a line feed.
void out_puts(const char *s);

// Writes all committed bytes to standard output. SIGALRM is held back while
// write(2) runs, so the watchdog never writes a byte twice.
void out_flush();

// Marks the document as closed: from now on out_close_from_signal adds no
// second "</tree>".
void out_mark_closed();

// Async-signal-safe: writes what is committed and not yet written, then
// "</tree>" unless the document is already closed. Only write(2) is used.
void out_close_from_signal();

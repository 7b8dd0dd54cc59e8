// Entry point of `request`, the CGI program of the receiver's web interface.
//
// A web server starts it once per HTTP request. It opens the channel
// database, attaches the EPG database when the command text names it,
// prints the HTTP header and the `tree` document, runs the commands and
// ends. Every failure goes through fail_request.
#include <csignal>
#include <cstdlib>
#include <string>

#include "dispatch.h"
#include "output.h"
#include "request.h"
#include "sql.h"

int main(int argc, char **argv) {
  // A client that hangs up must not kill the request halfway through a
  // command; output to a closed pipe is dropped instead.
  signal(SIGPIPE, SIG_IGN);

  // One thread, one connection: no engine mutexes. A full scan of a large
  // table would otherwise fill the page cache to its 2 MiB default; a small
  // soft heap limit keeps the cache (and so the request) small, at the price
  // of the engine's memory counters that the limit needs.
  sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
  sqlite3_soft_heap_limit64(256 * 1024);

  const char *path = getenv("PATH_DB_DAT");
  if (!path) fail_request("PATH_DB_DAT not set");
  // The file must exist: a wrong path must not leave an empty database behind.
  if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    fail_request(sqlite3_mprintf("Could not open %s: %s", path, sqlite3_errmsg(db)));

  std::string text;
  if (argc >= 2) {
    text = argv[1];
  } else {
    const char *query = getenv("QUERY_STRING");
    if (!query) exit(1);
    text = percent_decode(query);
    // A decoded NUL would silently cut whatever argument holds it.
    if (text.find('\0') != std::string::npos)
      fail_request("command text holds a NUL byte (%00)");
  }

  if (text.find("epginfo") != std::string::npos) attach_epg_database();

  out_puts("Content-Type: text/xml\r");
  out_puts("Cache-control: no-cache\r");
  out_puts("Cache-control: no-store\r");
  out_puts("Pragma: no-cache\r");
  out_puts("Expires: 0\r");
  out_puts("\r");
  out_puts("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r");
  out_write("<tree>", 6);

  run_commands(text);

  block_alarm();
  out_puts("</tree>");
  out_mark_closed();
  out_flush();
  sqlite3_close(db);
  return 0;
}

// Process-wide state of `request` and its one way out on failure.
#pragma once

#include <sqlite3.h>

// The one database connection of the process: null until the start of the
// request opens it, then used by every command.
extern sqlite3 *db;

// Prints "ERROR: <msg>\n\n", closes `db` and exits with status 1.
// The message is printed unchanged (not escaped).
[[noreturn]] void fail_request(const char *msg);

// Holds the watchdog's alarm back for the rest of the process: the end of a
// request (normal or failed) must not be interleaved with its "</tree>".
void block_alarm();

// Running SQL text on `db` and the SQL command.
#pragma once

// Executes every statement of `sql` on `db`, printing result rows through
// sql_row_to_xml with the quiet flag (1: print nothing, 0: print rows).
// A busy database is tried again after 1 s, at most 6 tries in all; returns
// only on success, else ends the request with
// "could not execute query: (%d) %s".
void run_sql(const char *sql, int quiet);

// Attaches the EPG database named by PATH_DBEPG_DAT as `epg` through
// run_sql (quiet); ends the request when the variable is unset or the
// attach fails (the name `epg` already in use included).
void attach_epg_database();

// The SQL command: the argument as one SQL text, rows printed.
void sql_command(const char *arg);

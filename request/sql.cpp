// Statement execution with busy retry, and the SQL command.
//
// The text is executed statement by statement, as sqlite3_exec would, and a
// busy statement is tried again on its own. A statement that has already
// printed rows is not tried again: its rows would come out twice.
#include "sql.h"

#include <unistd.h>

#include <cstdlib>

#include <vector>

#include "request.h"
#include "xml.h"

namespace {

constexpr int MAX_TRIES = 6;

struct Stmt {
  sqlite3_stmt *p = nullptr;
  ~Stmt() { sqlite3_finalize(p); }
};

}  // namespace

void run_sql(const char *sql, int quiet) {
  int tries = 0;
  int rc = SQLITE_OK;
  const char *next = sql;
  std::vector<char *> values, names;
  // The sleep follows every busy result, the last one included; true while
  // tries are left.
  auto busy_again = [&tries] {
    sleep(1);
    return ++tries < MAX_TRIES;
  };

  while (next && *next) {
    Stmt st;
    const char *tail = nullptr;
    rc = sqlite3_prepare_v2(db, next, -1, &st.p, &tail);
    if (rc == SQLITE_BUSY && busy_again()) continue;
    if (rc != SQLITE_OK) break;
    if (!st.p) {  // white space or a comment only
      next = tail;
      continue;
    }
    bool printed = false;
    for (;;) {
      rc = sqlite3_step(st.p);
      if (rc == SQLITE_ROW) {
        int ncol = sqlite3_column_count(st.p);
        values.resize(static_cast<size_t>(ncol));
        names.resize(static_cast<size_t>(ncol));
        for (int k = 0; k < ncol; k++) {
          values[k] = const_cast<char *>(
              reinterpret_cast<const char *>(sqlite3_column_text(st.p, k)));
          names[k] = const_cast<char *>(sqlite3_column_name(st.p, k));
        }
        sql_row_to_xml(&quiet, ncol, values.data(), names.data());
        printed = true;
        continue;
      }
      if (rc == SQLITE_BUSY && !printed && busy_again()) {
        sqlite3_reset(st.p);
        continue;
      }
      break;
    }
    if (rc != SQLITE_DONE) break;
    rc = SQLITE_OK;
    next = tail;
  }
  if (rc == SQLITE_OK) return;
  fail_request(sqlite3_mprintf("could not execute query: (%d) %s", rc,
                               sqlite3_errmsg(db)));
}

void sql_command(const char *arg) { run_sql(arg, 0); }


void attach_epg_database() {
  const char *path = getenv("PATH_DBEPG_DAT");
  if (!path)
    fail_request(
        "PATH_DBEPG_DAT not set, but according to query the epg-database should be used");
  // The path is data: quoted, so a quote in it cannot end the literal.
  char *sql = sqlite3_mprintf("ATTACH DATABASE %Q AS epg", path);
  run_sql(sql, 1);
  sqlite3_free(sql);
}

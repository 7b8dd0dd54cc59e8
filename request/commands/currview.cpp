// The current programme view (CURRVIEW) and the watchdog it arms.
//
// Only the receiver's main application knows the channel on screen. The
// command writes the question "web_get_cur_ch" to the application's command
// device, reads the first line of its answer device, looks the reported name
// up in channelinfo and prints the channel's running and next EPG events
// (or just the name when there are none). The application may never answer,
// so the command first arms a 6-second alarm that closes the document and
// ends the request, wherever the process is then.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>

#include "../output.h"
#include "../request.h"
#include "../sql.h"
#include "../xml.h"
#include "answer_line.h"
#include "commands.h"

namespace {

// From the start of the command to the end of the request.
constexpr unsigned WATCHDOG_SECONDS = 6;

constexpr char QUESTION[] = "web_get_cur_ch\n";

// The child that writes the question, while it may still be running
// (blocked on a command device nobody reads); 0 otherwise. Set and cleared
// only with SIGALRM held back, so the watchdog never sees a stale pid.
volatile sig_atomic_t question_writer = 0;

// Frees an sqlite3_mprintf string.
struct SqlText {
  char *p;
  ~SqlText() { sqlite3_free(p); }
};

// A result of sqlite3_get_table: a heading row, then `nrow` rows of `ncol`.
struct Table {
  char **cells = nullptr;
  int nrow = 0;
  int ncol = 0;
  ~Table() { sqlite3_free_table(cells); }
  // Row `row` (0-based, heading not counted), column `col`; "" for NULL.
  const char *at(int row, int col) const {
    const char *v = cells[(row + 1) * ncol + col];
    return v ? v : "";
  }
};

// Ends the request when the alarm fires: kills the question writer if it
// still waits, writes everything committed plus "</tree>" and exits 0.
// Async-signal-safe calls only: it may land inside SQLite, inside an append
// to the response or inside a blocking open/read of a device. `db` is not
// closed here for that reason; the process exit releases the file, and the
// engine's journal keeps it consistent.
void watchdog_expired(int) {
  pid_t writer = question_writer;
  if (writer > 0) {
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
  }
  out_close_from_signal();
  _exit(0);
}

void arm_watchdog() {
  struct sigaction sa = {};
  sa.sa_handler = watchdog_expired;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, nullptr);
  sigset_t alrm = alarm_set();
  sigprocmask(SIG_UNBLOCK, &alrm, nullptr);
  alarm(WATCHDOG_SECONDS);
}

const char *device_path(const char *var, const char *fallback) {
  const char *p = getenv(var);
  return p ? p : fallback;
}

// Writes the question to the command device from a child of our own and
// waits for it to end. Opening a FIFO that nobody reads blocks; the child
// then waits there until the watchdog kills it. Its outcome is not examined:
// the answer device decides.
void ask_question(const char *commander) {
  sigset_t alrm = alarm_set(), old;
  sigprocmask(SIG_BLOCK, &alrm, &old);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    // Dies with the request, also when the request is killed from outside.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    // Standard output is the response: a writer left waiting must never
    // hold it open.
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    // No O_CREAT: a missing device must not turn into a file in its place.
    int fd = open(commander, O_WRONLY | O_TRUNC | O_NOCTTY);
    if (fd < 0) _exit(1);
    const char *p = QUESTION;
    size_t left = sizeof QUESTION - 1;
    while (left > 0) {
      ssize_t n = write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) _exit(1);
      p += n;
      left -= static_cast<size_t>(n);
    }
    _exit(0);
  }
  if (pid > 0) question_writer = pid;
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) return;

  // Wait without reaping, so the pid stays ours until it is cleared.
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  sigprocmask(SIG_BLOCK, &alrm, nullptr);
  question_writer = 0;
  waitpid(pid, nullptr, 0);
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Reads from the answer device until its first line is complete or its
// data ends; lines of any length are kept whole. Opening a FIFO without a
// writer blocks until the main application answers or the watchdog fires.
std::string read_answer(const char *weboutput) {
  int fd = open(weboutput, O_RDONLY | O_NOCTTY);
  if (fd < 0) fail_request("could not open weboutput device");
  std::string data;
  char chunk[512];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a read error ends the line like the end of data
    data.append(chunk, static_cast<size_t>(n));
    if (answer_line_complete(data)) break;
  }
  close(fd);
  return data;
}

void print_name_form(const char *name) {
  out_write("<row><ch_name>");
  print_xml_text(name);
  out_write("</ch_name></row>");
}

}  // namespace

void currview_command(const char *) {
  arm_watchdog();
  ask_question(device_path("PATH_COMMANDER", "/dev/commander"));
  Answer answer = parse_answer_line(read_answer(device_path("PATH_WEBOUTPUT", "/dev/weboutput")));
  if (answer.status == AnswerStatus::no_data) fail_request("could not read data from weboutput");
  if (answer.status != AnswerStatus::ok)
    fail_request("could not get current channel name from mivano");
  const char *name = answer.name.c_str();

  // The reported name is a prefix pattern: LIKE's '%' and '_' stay
  // wildcards, but a quote is plain data.
  SqlText lookup{sqlite3_mprintf(
      "SELECT ch_id, name FROM channelinfo WHERE name LIKE '%q%%' LIMIT 1", name)};
  Table channel;
  if (sqlite3_get_table(db, lookup.p, &channel.cells, &channel.nrow, &channel.ncol, nullptr) !=
      SQLITE_OK)
    fail_request(sqlite3_mprintf("could not execute query to fetch channelname: %s (%s)",
                                 sqlite3_errmsg(db), lookup.p));
  if (channel.nrow == 0) {
    print_name_form(name);
    return;
  }
  // The channel's own ch_id, NULL kept as NULL (it then has no events).
  const char *ch_id = channel.cells[channel.ncol + 0];
  const char *ch_name = channel.at(0, 1);

  attach_epg_database();
  long long now = static_cast<long long>(time(nullptr));
  SqlText events_sql{sqlite3_mprintf(
      "SELECT start_time, end_time, event_name, story, ext_story1, ext_story2 FROM epginfo "
      "WHERE ch_id= %Q AND end_time > %lld ORDER BY start_time LIMIT 2",
      ch_id, now)};
  Table events;
  if (sqlite3_get_table(db, events_sql.p, &events.cells, &events.nrow, &events.ncol, nullptr) !=
      SQLITE_OK)
    fail_request(sqlite3_mprintf("could not retrieve next programs: %s", sqlite3_errmsg(db)));
  if (events.nrow == 0) {
    print_name_form(name);
    return;
  }
  for (int r = 0; r < events.nrow; r++) {
    out_printf("<sqlrow><start_time>%s</start_time><end_time>%s</end_time><event_name>",
               events.at(r, 0), events.at(r, 1));
    print_xml_text(events.at(r, 2));
    out_write("</event_name><story>");
    print_xml_text(events.at(r, 3));
    out_write("</story><ext_story1>");
    print_xml_text(events.at(r, 4));
    out_write("</ext_story1><ext_story2>");
    print_xml_text(events.at(r, 5));
    out_write("</ext_story2><ch_name>");
    print_xml_text(ch_name);
    out_write("</ch_name></sqlrow>");
  }
}

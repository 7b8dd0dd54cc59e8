// The current programme view: the answer-line parser, the command against
// test databases with the devices as plain files or as FIFOs served by the
// main-application stand-in, and the watchdog.
#include <dirent.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "commands/answer_line.h"
#include "harness.h"

namespace {

// ---------------------------------------------------------------------------
// The answer line, parsed alone.

TEST(AnswerLine, Table) {
  using S = AnswerStatus;
  const std::string long_name(300, 'n');
  struct {
    std::string data;
    S status;
    std::string name;
  } cases[] = {
      {"CUR_CH Erstes Programm\n", S::ok, "Erstes Programm"},
      {"CUR_CH\tX\n", S::ok, "X"},                       // the separator is never examined
      {"CUR_CH Erstes Programm", S::ok, "Erstes Programm"},          // end of data instead of a line feed
      {"CUR_CH A\nCUR_CH B\n", S::ok, "A"},              // only the first line counts
      {"CUR_CH A\njunk", S::ok, "A"},
      {"CUR_CH \n", S::ok, ""},
      {"CUR_CH\n", S::ok, ""},                           // the line feed as separator
      {"CUR_CH", S::ok, ""},
      {"CUR_CH ", S::ok, ""},
      {"CUR_CH  two blanks\n", S::ok, " two blanks"},
      {"CUR_CH O'Brien\r\n", S::ok, "O'Brien\r"},        // only the line feed is cut
      {"CUR_CH " + long_name + "\n", S::ok, long_name},  // longer than 47 characters
      {std::string("CUR_CH ab\0cd\n", 13), S::ok, "ab"},
      {"", S::no_data, ""},
      {"cur_ch x\n", S::not_cur_ch, ""},
      {"CUR_C", S::not_cur_ch, ""},
      {"\nCUR_CH x\n", S::not_cur_ch, ""},
      {" CUR_CH x\n", S::not_cur_ch, ""},
  };
  for (const auto &c : cases) {
    Answer a = parse_answer_line(c.data);
    EXPECT_EQ(a.status, c.status) << c.data;
    EXPECT_EQ(a.name, c.name) << c.data;
  }
}

// ---------------------------------------------------------------------------
// Test receiver: channel and EPG database, devices, stand-in.

const std::string STANDIN = SOURCE_DIR "/scripts/mivano-standin";
const std::string LONG_NAME = "Long " + std::string(300, 'L');

// One sqlrow element as the command prints it.
std::string sqlrow(long long start, long long end, const std::string &event,
                   const std::string &story, const std::string &ext1, const std::string &ext2,
                   const std::string &ch_name) {
  return "<sqlrow><start_time>" + std::to_string(start) + "</start_time><end_time>" +
         std::to_string(end) + "</end_time><event_name>" + event + "</event_name><story>" +
         story + "</story><ext_story1>" + ext1 + "</ext_story1><ext_story2>" + ext2 +
         "</ext_story2><ch_name>" + ch_name + "</ch_name></sqlrow>";
}

std::string name_form(const std::string &name) {
  return "<row><ch_name>" + name + "</ch_name></row>";
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary) << data;
}

// The channels, inserted in this order (the prefix lookup takes the first
// the engine yields): ABCD before ABC, so ABC finds ABCD.
//   1 ABCD          one event to come
//   2 ABC           one event to come (never reached through "ABC")
//   3 Erstes Programm     ended, ended exactly now, running, next, later (unsorted)
//   4 Quiet         only ended events
//   5 O'Brien TV    one event with NULL texts and markup in its title
//   6 LONG_NAME     one event
struct Receiver {
  TempDir dir;
  std::string db = dir.file("db.dat"), epg = dir.file("epg.dat");
  std::string commander = dir.file("commander"), weboutput = dir.file("weboutput");
  long long now = static_cast<long long>(time(nullptr));

  Receiver() {
    exec_sql(db,
             "CREATE TABLE channelinfo(ch_id INTEGER, name TEXT, ch_order INTEGER);"
             "INSERT INTO channelinfo VALUES(1,'ABCD',1),(2,'ABC',2),(3,'Erstes Programm',3),"
             "(4,'Quiet',4),(5,'O''Brien TV',5),(6,'" + LONG_NAME + "',6);");
    std::string n = std::to_string(now);
    exec_sql(epg,
             "CREATE TABLE epginfo(ch_id INTEGER, start_time INTEGER, end_time INTEGER,"
             " event_name TEXT, story TEXT, ext_story1 TEXT, ext_story2 TEXT);"
             "INSERT INTO epginfo VALUES"
             "(3," + n + "+100," + n + "+200,'Next','s2','a2','b2'),"
             "(3," + n + "-500," + n + "-300,'Ended','','',''),"
             "(3," + n + "+200," + n + "+300,'Later','','',''),"
             "(3," + n + "-100," + n + "+100,'Running & more','s1','a1','b1'),"
             "(3," + n + "-200," + n + ",'Ends now','','',''),"
             "(1," + n + "+10," + n + "+20,'ABCD show','x','y','z'),"
             "(2," + n + "+10," + n + "+20,'ABC show','','',''),"
             "(4," + n + "-200," + n + "-100,'Over','','',''),"
             "(5," + n + "+10," + n + "+20,'<b>Bold</b>',NULL,NULL,'e'),"
             "(6," + n + "+10," + n + "+20,'Long show','','','');");
    write_file(commander, "");
  }

  long long t(long long offset) const { return now + offset; }

  Env env() const {
    return {{"PATH_DB_DAT", db}, {"PATH_DBEPG_DAT", epg}, {"PATH_COMMANDER", commander},
            {"PATH_WEBOUTPUT", weboutput}};
  }

  // The devices as FIFOs, for the stand-in.
  void use_fifos() {
    unlink(commander.c_str());
    ASSERT_EQ(mkfifo(commander.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(weboutput.c_str(), 0600), 0);
  }

  std::string first_channel() const {
    return sqlrow(t(-100), t(100), "Running &amp; more", "s1", "a1", "b1", "Erstes Programm") +
           sqlrow(t(100), t(200), "Next", "s2", "a2", "b2", "Erstes Programm");
  }
};

// The stand-in for the main application, in a process group of its own so
// that its sleeping children end with it.
struct Standin {
  pid_t pid = -1;
  explicit Standin(const std::vector<std::string> &args) {
    std::vector<std::string> all = {"/bin/sh", STANDIN};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      execv(argv[0], argv.data());
      _exit(127);
    }
    setpgid(pid, pid);
  }
  // True when the stand-in ended by itself within `seconds`.
  bool ended_within(double seconds) {
    for (int i = 0; i < seconds * 100; i++) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        return true;
      }
      usleep(10000);
    }
    return false;
  }
  ~Standin() {
    if (pid <= 0) return;
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

// Every process still running whose environment holds `tag`: what a request
// started inherits its environment, so this finds whatever it left behind.
std::vector<pid_t> processes_tagged(const std::string &tag) {
  std::vector<pid_t> found;
  DIR *d = opendir("/proc");
  if (!d) return found;
  while (dirent *e = readdir(d)) {
    pid_t pid = atoi(e->d_name);
    if (pid <= 0) continue;
    std::string env = read_file("/proc/" + std::to_string(pid) + "/environ");
    if (env.find(tag + '\0') != std::string::npos) found.push_back(pid);
  }
  closedir(d);
  return found;
}

std::string unique_tag(const std::string &name) {
  static std::atomic<int> n{0};
  return "CURRVIEW_TEST_TAG=" + name + "-" + std::to_string(getpid()) + "-" +
         std::to_string(n++);
}

// ---------------------------------------------------------------------------
// The command, devices as plain files: the answer line is the file.

TEST(Currview, Fragments) {
  Receiver rx;
  struct {
    std::string answer;
    std::string fragment;
  } cases[] = {
      // Running and next, earlier start first; neither the ended event nor
      // the one ending this very second.
      {"CUR_CH Erstes Programm\n", rx.first_channel()},
      {"CUR_CH erstes\n", rx.first_channel()},  // LIKE: prefix, any case
      {"CUR_CH\tErstes Programm", rx.first_channel()},
      {"CUR_CH Erstes Programm\nCUR_CH Quiet\n", rx.first_channel()},
      // The first match the engine yields, even beside an exact one.
      {"CUR_CH ABC\n", sqlrow(rx.t(10), rx.t(20), "ABCD show", "x", "y", "z", "ABCD")},
      // The empty name matches every channel.
      {"CUR_CH\n", sqlrow(rx.t(10), rx.t(20), "ABCD show", "x", "y", "z", "ABCD")},
      {"CUR_CH", sqlrow(rx.t(10), rx.t(20), "ABCD show", "x", "y", "z", "ABCD")},
      // NULL texts print empty; markup is escaped or cut; a quote is data.
      {"CUR_CH O'Brien\n", sqlrow(rx.t(10), rx.t(20), "&lt;b", "", "", "e", "O'Brien TV")},
      {"CUR_CH " + LONG_NAME + "\n", sqlrow(rx.t(10), rx.t(20), "Long show", "", "", "", LONG_NAME)},
      // Name form: as reported, not as the database spells it.
      {"CUR_CH qui\n", name_form("qui")},
      {"CUR_CH Unknown\n", name_form("Unknown")},
      {"CUR_CH Tom & Jerry > x\n", name_form("Tom &amp; Jerry ")},
      {"CUR_CH ' OR name LIKE 'ABCD\n", name_form("' OR name LIKE 'ABCD")},
      {"CUR_CH x' UNION SELECT 1,2 --\n", name_form("x' UNION SELECT 1,2 --")},
  };
  for (const auto &c : cases) {
    write_file(rx.weboutput, c.answer);
    RunResult r = run_query("CURRVIEW:", rx.env());
    EXPECT_EQ(r.out, HEAD + c.fragment + "</tree>\n") << c.answer;
    EXPECT_EQ(r.status, 0) << c.answer;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(read_file(rx.commander), "web_get_cur_ch\n");
}

TEST(Currview, ArgumentIgnored) {
  Receiver rx;
  write_file(rx.weboutput, "CUR_CH Erstes Programm\n");
  for (const char *text : {"CURRVIEW", "CURRVIEW:", "currview:anything at all", "CURRVIEWX:1"}) {
    RunResult r = run_query(text, rx.env());
    EXPECT_EQ(r.out, HEAD + rx.first_channel() + "</tree>\n") << text;
  }
}

TEST(Currview, UnknownChannelNeedsNoEpg) {
  Receiver rx;
  write_file(rx.weboutput, "CUR_CH Nowhere\n");
  Env env = rx.env();
  env.erase("PATH_DBEPG_DAT");
  RunResult r = run_query("CURRVIEW:", env);
  EXPECT_EQ(r.out, HEAD + name_form("Nowhere") + "</tree>\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Currview, Failures) {
  Receiver rx;
  const std::string lookup =
      "SELECT ch_id, name FROM channelinfo WHERE name LIKE 'Erstes Programm%' LIMIT 1";
  struct {
    const char *what;
    std::string query;
    std::string answer;  // "-": no answer device at all
    Env changes;         // "" as a value removes the variable
    std::string before;  // printed by earlier commands
    std::string message;
  } cases[] = {
      {"no answer device", "CURRVIEW:", "-", {}, "", "could not open weboutput device"},
      {"no command device either", "CURRVIEW:", "-", {{"PATH_COMMANDER", "/nonexistent/cmd"}}, "",
       "could not open weboutput device"},
      {"empty answer", "CURRVIEW:", "", {}, "", "could not read data from weboutput"},
      {"lower case", "CURRVIEW:", "cur_ch Erstes Programm\n", {}, "",
       "could not get current channel name from mivano"},
      {"short", "CURRVIEW:", "CUR_C", {}, "", "could not get current channel name from mivano"},
      {"empty first line", "CURRVIEW:", "\nCUR_CH Erstes Programm\n", {}, "",
       "could not get current channel name from mivano"},
      {"found, no epg path", "CURRVIEW:", "CUR_CH Erstes Programm\n", {{"PATH_DBEPG_DAT", ""}}, "",
       "PATH_DBEPG_DAT not set, but according to query the epg-database should be used"},
      {"no channel table", "CURRVIEW:", "CUR_CH Erstes Programm\n", {{"PATH_DB_DAT", "EMPTY"}}, "",
       "could not execute query to fetch channelname: no such table: channelinfo (" + lookup +
           ")"},
      {"no event table", "CURRVIEW:", "CUR_CH Erstes Programm\n", {{"PATH_DBEPG_DAT", "EMPTY"}}, "",
       "could not retrieve next programs: no such table: epginfo"},
      {"second CURRVIEW", "CURRVIEW:;CURRVIEW:", "CUR_CH Erstes Programm\n", {}, rx.first_channel(),
       "could not execute query: (1) database epg is already in use"},
      {"epginfo in the text", "SQL:SELECT 1 AS epginfo;CURRVIEW:", "CUR_CH Erstes Programm\n", {},
       "<row><epginfo>1</epginfo></row>",
       "could not execute query: (1) database epg is already in use"},
  };
  const std::string empty_db = rx.dir.file("empty.dat");
  exec_sql(empty_db, "CREATE TABLE unrelated(x);");
  for (const auto &c : cases) {
    unlink(rx.weboutput.c_str());
    if (c.answer != "-") write_file(rx.weboutput, c.answer);
    Env env = rx.env();
    for (const auto &[k, v] : c.changes) {
      if (v.empty())
        env.erase(k);
      else
        env[k] = v == "EMPTY" ? empty_db : v;
    }
    RunResult r = run_query(c.query, env);
    EXPECT_EQ(r.out, HEAD + c.before + "ERROR: " + c.message + "\n\n") << c.what;
    EXPECT_EQ(r.status, 1) << c.what;
  }
  // A missing command device is not created in its place.
  struct stat st;
  EXPECT_NE(stat("/nonexistent/cmd", &st), 0);
  unlink(rx.commander.c_str());
  write_file(rx.weboutput, "CUR_CH Erstes Programm\n");
  EXPECT_EQ(run_query("CURRVIEW:", rx.env()).status, 0);
  EXPECT_NE(stat(rx.commander.c_str(), &st), 0);
}

// ---------------------------------------------------------------------------
// The devices as FIFOs, served by the stand-in.

TEST(Currview, WithStandin) {
  struct {
    std::vector<std::string> args;
    std::string tail;  // after HEAD
    int status;
  } cases[] = {
      {{"-a", "Erstes Programm"}, "", 0},
      {{"-d", "1", "-a", "Erstes Programm"}, "", 0},  // late, but within the watchdog's time
      {{"-s", "STATE"}, "", 0},
      {{"-e"}, "ERROR: could not read data from weboutput\n\n", 1},
      {{"-l", "cur_ch Erstes Programm\n"}, "ERROR: could not get current channel name from mivano\n\n", 1},
      {{"-l", "CUR_CH Erstes Programm"}, "", 0},
  };
  for (auto &c : cases) {
    Receiver rx;
    rx.use_fifos();
    std::string state = rx.dir.file("state");
    write_file(state, "Erstes Programm\nignored\n");
    std::vector<std::string> args = {"-c", rx.commander, "-w", rx.weboutput};
    for (auto &a : c.args) args.push_back(a == "STATE" ? state : a);
    Standin standin(args);
    std::string tag = unique_tag("standin");
    Env env = rx.env();
    env[tag.substr(0, tag.find('='))] = tag.substr(tag.find('=') + 1);
    RunResult r = run_query("CURRVIEW:", env);
    std::string tail = c.tail.empty() ? rx.first_channel() + "</tree>\n" : c.tail;
    EXPECT_EQ(r.out, HEAD + tail) << c.args.back();
    EXPECT_EQ(r.status, c.status) << c.args.back();
    EXPECT_TRUE(standin.ended_within(5)) << c.args.back();
    EXPECT_EQ(processes_tagged(tag), std::vector<pid_t>{}) << c.args.back();
  }
}

// The daemon answers each question with the channel the state file names
// at that moment.
TEST(Currview, StandinDaemonFollowsState) {
  Receiver rx;
  rx.use_fifos();
  std::string state = rx.dir.file("state");
  write_file(state, "Erstes Programm\n");
  Standin daemon({"-c", rx.commander, "-w", rx.weboutput, "-D", "-s", state});
  EXPECT_EQ(run_query("CURRVIEW:", rx.env()).out, HEAD + rx.first_channel() + "</tree>\n");
  write_file(state, "Quiet\n");
  EXPECT_EQ(run_query("CURRVIEW:", rx.env()).out, HEAD + name_form("Quiet") + "</tree>\n");
  EXPECT_FALSE(daemon.ended_within(0.1));
}

// ---------------------------------------------------------------------------
// The watchdog. Each case waits for it, so they run side by side.

TEST(Currview, WatchdogEndsTheRequest) {
  struct Case {
    const char *what;
    std::string query;
    std::string fragment;  // printed before the watchdog fired
    std::unique_ptr<Receiver> rx = std::make_unique<Receiver>();
    RunResult r{};
    std::vector<pid_t> left{};
  };
  std::vector<Case> cases;
  auto add = [&cases](const char *what, std::string query) {
    cases.push_back(Case{what, std::move(query), ""});
  };
  add("nobody reads the question", "CURRVIEW:");
  add("the question is read, no answer", "CURRVIEW:");
  add("attach waits on a locked EPG database", "CURRVIEW:");
  add("a later command still running",
      "CURRVIEW:;SQL:WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) "
      "SELECT max(x) FROM c");
  cases[0].rx->use_fifos();
  cases[1].rx->use_fifos();
  Standin silent({"-c", cases[1].rx->commander, "-w", cases[1].rx->weboutput, "-q"});
  write_file(cases[2].rx->weboutput, "CUR_CH Erstes Programm\n");
  write_file(cases[3].rx->weboutput, "CUR_CH Erstes Programm\n");
  cases[3].fragment = cases[3].rx->first_channel();

  // Holds an exclusive lock on case 2's EPG database for the whole run.
  sqlite3 *locker = nullptr;
  ASSERT_EQ(sqlite3_open(cases[2].rx->epg.c_str(), &locker), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(locker, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  std::vector<std::thread> threads;
  for (auto &c : cases) {
    threads.emplace_back([&c] {
      std::string tag = unique_tag("watchdog");
      Env env = c.rx->env();
      env[tag.substr(0, tag.find('='))] = tag.substr(tag.find('=') + 1);
      c.r = run_query(c.query, env);
      c.left = processes_tagged(tag);
    });
  }
  for (auto &t : threads) t.join();
  sqlite3_close(locker);

  for (auto &c : cases) {
    EXPECT_EQ(c.r.out, HEAD + c.fragment + "</tree>") << c.what;
    EXPECT_EQ(c.r.status, 0) << c.what;
    EXPECT_EQ(c.r.err, "") << c.what;
    // Six seconds after the command began, with generous slack.
    EXPECT_GE(c.r.seconds, 5.5) << c.what;
    EXPECT_LT(c.r.seconds, 15.0) << c.what;
    EXPECT_EQ(c.left, std::vector<pid_t>{}) << c.what;
  }
}

}  // namespace

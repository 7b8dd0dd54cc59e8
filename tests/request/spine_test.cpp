// Black-box tests of the request spine: invocation, framing, the command
// loop, the SQL command and the error exits.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "harness.h"

namespace {

struct Spine : ::testing::Test {
  TempDir dir;
  std::string db = dir.file("chan.db");
  Env env{{"PATH_DB_DAT", db}};
  void SetUp() override {
    exec_sql(db, "CREATE TABLE t(a, b);"
                 "INSERT INTO t VALUES(1, 'one');"
                 "INSERT INTO t VALUES(2, NULL);");
  }
};

TEST_F(Spine, ExactBytesOfASqlAnswer) {
  RunResult r = run_query("SQL:SELECT 1 AS One", env);
  EXPECT_EQ(r.out, HEAD + "<row><one>1</one></row></tree>\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// Each case: command text (QUERY_STRING) -> body between "<tree>" and "</tree>\n".
TEST_F(Spine, CommandTextsAndTheirFragments) {
  struct {
    const char *query, *fragment;
  } cases[] = {
      {"", ""},
      {"    ", ""},
      {"SQL:SELECT a, b FROM t ORDER BY a",
       "<row><a>1</a><b>one</b></row><row><a>2</a><b></b></row>"},
      {"sql:SELECT 'x' AS Name", "<row><name>x</name></row>"},
      {"SqLX:SELECT 'x' AS NAME;", "<row><name>x</name></row>"},
      {"SQL:SELECT 'a<b&c' AS v;  ", "<row><v>a&lt;b&amp;c</v></row>"},
      {"SQL:SELECT 'a>b' AS v", "<row><v>a</v></row>"},
      {"SQL:SELECT char(9)||'x' AS v", "<row><v></v></row>"},
      {"SQL:SELECT '' AS v", "<row><v></v></row>"},
      {"SQL:", ""},
      {"SQL:SELECT 1 AS a;SQL:SELECT 2 AS b", "<row><a>1</a></row><row><b>2</b></row>"},
      {"SQL:INSERT INTO t VALUES(3,'three');SQL:SELECT count(*) AS n FROM t",
       "<row><n>3</n></row>"},
      {"SQL:CREATE TABLE u(x)", ""},
      // "%20" arrives as a blank; a '%' without two hex digits stays.
      {"SQL:SELECT%20'100%'%20AS%20p", "<row><p>100%</p></row>"},
      {"SQL:SELECT 'a+b' AS p", "<row><p>a+b</p></row>"},
      // A command with no ':' anywhere behind it ends the list.
      {"SQL;SQL:SELECT 1 AS one", "<row><one>1</one></row>"},
      // Several statements in one argument, rows of each in order.
      {"SQL:SELECT 1 AS a UNION ALL SELECT 2", "<row><a>1</a></row><row><a>2</a></row>"},
  };
  for (const auto &c : cases) {
    RunResult r = run_query(c.query, env);
    EXPECT_EQ(r.out, HEAD + c.fragment + "</tree>\n") << c.query;
    EXPECT_EQ(r.status, 0) << c.query;
    EXPECT_TRUE(well_formed_xml(body_of(r.out))) << c.query;
  }
}

TEST_F(Spine, ArgumentCommandTextIsUsedVerbatim) {
  RunResult r = run_request({"SQL:SELECT '%41' AS v", "ignored"}, env);
  EXPECT_EQ(r.out, HEAD + "<row><v>%41</v></row></tree>\n");
  // The first argument wins over QUERY_STRING.
  Env e = env;
  e["QUERY_STRING"] = "SQL:SELECT 2 AS v";
  r = run_request({"SQL:SELECT 1 AS v"}, e);
  EXPECT_EQ(r.out, HEAD + "<row><v>1</v></row></tree>\n");
}

TEST_F(Spine, LongArgumentIsNotCut) {
  // A statement far beyond 2047 bytes must run whole, not as a prefix.
  std::string sql = "SQL:SELECT '" + std::string(5000, 'x') + "' AS v";
  RunResult r = run_query(sql, env);
  EXPECT_EQ(r.out, HEAD + "<row><v>" + std::string(5000, 'x') + "</v></row></tree>\n");
}

TEST_F(Spine, LargeResultComesOutWhole) {
  RunResult r = run_query(
      "SQL:WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<20000) "
      "SELECT i FROM n",
      env);
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.ends_with("<row><i>19999</i></row><row><i>20000</i></row></tree>\n"));
  EXPECT_TRUE(well_formed_xml(body_of(r.out)));
}

// Failures: the whole output and the exit status.
TEST_F(Spine, ErrorExits) {
  struct {
    const char *name;
    Env env;
    const char *query;  // null: no QUERY_STRING at all
    std::string out;
    int status;
  } cases[] = {
      {"no database variable", {}, "SQL:SELECT 1", "ERROR: PATH_DB_DAT not set\n\n", 1},
      {"database cannot be opened",
       {{"PATH_DB_DAT", "/nonexistent/dir/chan.db"}},
       "SQL:SELECT 1",
       "ERROR: Could not open /nonexistent/dir/chan.db: unable to open database file\n\n",
       1},
      {"unopenable database reported before a missing command text",
       {{"PATH_DB_DAT", "/nonexistent/dir/chan.db"}},
       nullptr,
       "ERROR: Could not open /nonexistent/dir/chan.db: unable to open database file\n\n",
       1},
      {"no command text", env, nullptr, "", 1},
      {"syntax error", env, "SQL:SELEC 1",
       HEAD + "ERROR: could not execute query: (1) near \"SELEC\": syntax error\n\n", 1},
      {"rows before the error stay", env, "SQL:SELECT 7 AS a;SQL:SELECT * FROM nope",
       HEAD + "<row><a>7</a></row>ERROR: could not execute query: (1) no such table: nope\n\n",
       1},
      {"unsupported command with the rest of the text", env,
       "SQL:SELECT 1 AS a;BOGUS:x;SQL:SELECT 2",
       HEAD + "<row><a>1</a></row>ERROR: Unsupported command 'BOGUS:x;SQL:SELECT 2'\n\n", 1},
      {"epginfo named but no EPG path", env, "SQL:SELECT 'epginfo'",
       "ERROR: PATH_DBEPG_DAT not set, but according to query the epg-database should be "
       "used\n\n",
       1},
      {"decoded NUL refused", env, "SQL:SELECT 1%00; DROP TABLE t",
       "ERROR: command text holds a NUL byte (%00)\n\n", 1},
  };
  for (const auto &c : cases) {
    RunResult r = c.query ? run_query(c.query, c.env) : run_request({}, c.env);
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
  }
  EXPECT_EQ(query_one(db, "SELECT count(*) FROM t"), "2");
}

TEST_F(Spine, MissingDatabaseFileIsNotCreated) {
  std::string missing = dir.file("missing.db");
  RunResult r = run_query("SQL:SELECT 1", {{"PATH_DB_DAT", missing}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

TEST_F(Spine, EpgAttachedWhenTheTextNamesIt) {
  std::string epg = dir.file("it's epg.db");  // a quote in the path must work
  exec_sql(epg, "CREATE TABLE epginfo(ch_id, event_name);"
                "INSERT INTO epginfo VALUES('7', 'News');");
  Env e = env;
  e["PATH_DBEPG_DAT"] = epg;
  RunResult r = run_query("SQL:SELECT event_name FROM epginfo", e);
  EXPECT_EQ(r.out, HEAD + "<row><event_name>News</event_name></row></tree>\n");
  // Without "epginfo" in the text nothing is attached.
  r = run_query("SQL:SELECT count(*) AS n FROM epg.sqlite_master", e);
  EXPECT_EQ(r.out, HEAD + "ERROR: could not execute query: (1) no such table: "
                          "epg.sqlite_master\n\n");
  // An EPG file that cannot be attached fails before the header.
  e["PATH_DBEPG_DAT"] = dir.file("no/such/epg.db");
  r = run_query("SQL:SELECT 1 FROM epginfo", e);
  EXPECT_EQ(r.out, "ERROR: could not execute query: (14) unable to open database: " +
                       dir.file("no/such/epg.db") + "\n\n");
  EXPECT_EQ(r.status, 1);
}

// Holds a lock on `path` from another connection for `hold` seconds, or
// until it goes out of scope, whichever comes first: a test can hold the
// lock well past the request's retries without waiting that long itself,
// however slowly the request runs (an emulator, valgrind).
struct LockHolder {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread th;
  LockHolder(const std::string &path, const char *begin, double hold) {
    sqlite3 *h = nullptr;
    sqlite3_open(path.c_str(), &h);
    sqlite3_exec(h, begin, nullptr, nullptr, nullptr);
    th = std::thread([this, h, hold] {
      std::unique_lock<std::mutex> lock(m);
      cv.wait_for(lock, std::chrono::duration<double>(hold), [this] { return done; });
      sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(h);
    });
  }
  ~LockHolder() {
    {
      std::lock_guard<std::mutex> lock(m);
      done = true;
    }
    cv.notify_one();
    th.join();
  }
};

TEST_F(Spine, BusyDatabaseIsTriedAgain) {
  LockHolder lock(db, "BEGIN EXCLUSIVE", 2.5);
  RunResult r = run_query("SQL:INSERT INTO t VALUES(9,'nine');SQL:SELECT count(*) AS n FROM t",
                          env);
  EXPECT_EQ(r.out, HEAD + "<row><n>3</n></row></tree>\n");
  EXPECT_GE(r.seconds, 2.0);
}

TEST_F(Spine, DatabaseBusyBeyondTheRetries) {
  LockHolder lock(db, "BEGIN EXCLUSIVE", 120);
  RunResult r = run_query("SQL:SELECT count(*) FROM t", env);
  EXPECT_EQ(r.out, HEAD + "ERROR: could not execute query: (5) database is locked\n\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_GE(r.seconds, 5.5);  // six tries, each followed by a sleep of one second
}

}  // namespace

// Both programs when the world fails them: outputs that fail or go away,
// inputs that cannot be read, database files that are unreadable, read-only
// or not databases at all, and recording directories that are unreadable or
// change while they are listed. No case may end in a signal; each ends with
// its error reported and the files it was given left as they were.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "harness.h"
#include "runner.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary) << data;
}

// A container of `blocks` blocks of 49,152 bytes, each video area holding
// one PES packet of 30,000 bytes: about 15 packs of output per block.
std::string container(int blocks) {
  std::string c;
  for (int k = 0; k < blocks; k++) {
    std::string b(49152, '\0');
    const uint32_t n = 30000;
    b[8] = char(n >> 24), b[9] = char(n >> 16), b[10] = char(n >> 8), b[11] = char(n);
    std::string pes = {0, 0, 1, char(0xE0), char((n - 6) >> 8), char((n - 6) & 0xFF),
                       char(0x80), 0, 0};
    for (uint32_t i = pes.size(); i < n; i++) pes += char(0x20 + (i + k) % 90);
    b.replace(512, n, pes);
    c += b;
  }
  return c;
}

Launch vux(std::vector<std::string> args, const std::string &cwd) {
  Launch l;
  l.bin = VUX2MPEG_BIN;
  l.args = std::move(args);
  l.cwd = cwd;
  return l;
}

// A test directory that an unprivileged run may enter.
struct OpenDir : TempDir {
  OpenDir() { chmod(path.c_str(), 0755); }
};

TEST(ConverterFaults, OutputThatGoesAwayIsReported) {
  OpenDir d;
  write_file(d.file("rec.vux"), container(20));
  Outcome whole = launch(vux({"rec.vux", "-"}, d.path));
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_GT(whole.out.size(), 200000u);  // more than a pipe holds
  // (/dev/full as the output is a test of the program's own.)
  const struct {
    const char *name;
    Stdout out;
    size_t keep;
    const char *error;
  } cases[] = {
      {"reader gone before the start", Stdout::hang_up, 0, ": Broken pipe\n"},
      {"reader gone after 5000 bytes", Stdout::read_some, 5000, ": Broken pipe\n"},
      {"reader gone after 100000 bytes", Stdout::read_some, 100000, ": Broken pipe\n"},
      {"no standard output", Stdout::closed, 0, ": Bad file descriptor\n"},
  };
  for (const auto &c : cases) {
    if (c.out == Stdout::closed && wrapped()) continue;
    Launch l = vux({"rec.vux", "-"}, d.path);
    l.out = c.out;
    l.keep = c.keep;
    Outcome r = launch(l);
    EXPECT_FALSE(r.signaled) << c.name << ": killed by signal " << r.status - 128;
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_TRUE(r.err.ends_with(c.error)) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find("write"), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, whole.out.substr(0, r.out.size())) << c.name;
  }
}

TEST(ConverterFaults, InputThatCannotBeReadIsReported) {
  OpenDir d;
  fs::create_directory(d.file("dir.vux"));
  const struct {
    const char *name;
    std::vector<std::string> args;
    bool stdin_closed;
    const char *error;
  } cases[] = {
      // open(2) takes a directory; the first read fails.
      {"directory", {"dir.vux", "out.mpg"}, false, "read error.(Is a directory)\n"},
      {"closed standard input", {"-", "-"}, true, "read error.(Bad file descriptor)\n"},
      // The output then becomes descriptor 0, opened for writing only.
      {"closed standard input, file output", {"-", "out.mpg"}, true,
       "read error.(Bad file descriptor)\n"},
  };
  for (const auto &c : cases) {
    if (c.stdin_closed && wrapped()) continue;
    fs::remove(d.file("out.mpg"));
    Launch l = vux(c.args, d.path);
    l.stdin_closed = c.stdin_closed;
    Outcome r = launch(l);
    EXPECT_FALSE(r.signaled) << c.name;
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.error) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    if (c.args[1] == "out.mpg") {
      EXPECT_EQ(read_file(d.file("out.mpg")), "") << c.name;
    }
  }
}

Launch request(const std::string &db, const std::string &text) {
  Launch l;
  l.bin = REQUEST_BIN;
  l.args = {text};
  l.env = {{"PATH_DB_DAT", db}};
  return l;
}

// Rows 1..n of one column.
std::string rows(int n) {
  return "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x<" +
         std::to_string(n) + ") ";
}

// A client that hangs up does not stop the request halfway: the writes of
// the command text are all made, each statement whole.
TEST(RequestFaults, OutputThatGoesAwayLeavesNoHalfWrite) {
  const std::string text =
      "SQL:" + rows(30000) + "SELECT x, 'some text to fill the pipe' AS t FROM c;"
      "SQL:" + rows(20000) + "INSERT INTO big SELECT x FROM c RETURNING x;"
      "SQL:UPDATE big SET x = -x;"
      "SQL:INSERT INTO done VALUES(1);"
      "CHANTREE:";
  const struct {
    const char *name;
    Stdout out;
    size_t keep;
  } cases[] = {
      {"reader gone before the start", Stdout::hang_up, 0},
      {"reader gone inside the header", Stdout::read_some, 40},
      {"reader gone inside the first rows", Stdout::read_some, 70000},
      {"reader gone inside the returned rows", Stdout::read_some, 1500000},
      {"no standard output", Stdout::closed, 0},
  };
  for (const auto &c : cases) {
    if (c.out == Stdout::closed && wrapped()) continue;
    TempDir d;
    const std::string db = d.file("chan.db");
    exec_sql(db, "CREATE TABLE big(x); CREATE TABLE done(x);");
    Launch l = request(db, text);
    l.out = c.out;
    l.keep = c.keep;
    Outcome r = launch(l);
    EXPECT_FALSE(r.signaled) << c.name << ": killed by signal " << r.status - 128;
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(query_one(db, "SELECT count(*) || ' ' || sum(x) FROM big"), "20000 -200010000")
        << c.name;
    EXPECT_EQ(query_one(db, "SELECT count(*) FROM done"), "1") << c.name;
    EXPECT_EQ(query_one(db, "PRAGMA integrity_check"), "ok") << c.name;
  }
}

// A request killed in the middle of a large write (a web server may kill a
// CGI program whose client went away) leaves all of it or none of it.
TEST(RequestFaults, KilledWriteIsAllOrNothing) {
  constexpr int N = 200000;
  int whole = 0, none = 0;
  for (int ms : {0, 20, 60, 150, 400}) {
    TempDir d;
    const std::string db = d.file("chan.db");
    exec_sql(db, "CREATE TABLE big(x, pad);");
    Launch l = request(db, "SQL:" + rows(N) + "INSERT INTO big SELECT x, zeroblob(100) FROM c");
    l.kill_after_ms = ms;
    Outcome r = launch(l);
    std::optional<std::string> count = query_one(db, "SELECT count(*) FROM big");
    EXPECT_TRUE(count == "0" || count == std::to_string(N)) << ms << " ms: " << *count;
    EXPECT_EQ(query_one(db, "PRAGMA integrity_check"), "ok") << ms << " ms";
    (count == "0" ? none : whole)++;
  }
  printf("killed writes: %d made whole, %d not at all\n", whole, none);
}

// Database files that cannot serve: the error text, and the file unchanged.
// (A missing file and one locked past the retries have tests of their own.)
TEST(RequestFaults, DatabaseFilesThatCannotServe) {
  OpenDir d;
  const std::string good = d.file("good.db");
  exec_sql(good, "CREATE TABLE t(x); INSERT INTO t VALUES(1);"
                 "CREATE TABLE media_info(file_name, play_time, lock);");
  std::string noise(9000, '\0');
  std::mt19937 rng(5);
  for (char &b : noise) b = char(rng());
  const std::string big = d.file("big.db");
  exec_sql(big, "CREATE TABLE t(x); " + rows(5000) +
                    "INSERT INTO t SELECT printf('%0200d', x) FROM c;");
  const std::string whole_big = read_file(big);
  fs::create_directory(d.file("videos"));

  const bool root = getuid() == 0;
  const struct {
    const char *name;
    std::string content;  // the database file's bytes ("" keeps `good`)
    mode_t mode;
    std::string text, out;
  } cases[] = {
      {"random bytes, SQL", noise, 0644, "SQL:SELECT count(*) FROM t",
       HEAD + "ERROR: could not execute query: (26) file is not a database\n\n"},
      {"random bytes, write", noise, 0644, "SQL:INSERT INTO t VALUES(2)",
       HEAD + "ERROR: could not execute query: (26) file is not a database\n\n"},
      {"random bytes, channel tree", noise, 0644, "CHANTREE:PROVIDERS",
       HEAD + "ERROR: failed executing query: file is not a database\n\n"},
      {"random bytes, recording list", noise, 0644, "LISTREC:",
       HEAD + "ERROR: failed preparing of sql statement: file is not a database\n\n"},
      {"cut in half", whole_big.substr(0, whole_big.size() / 2), 0644,
       "SQL:SELECT count(*) FROM t",
       HEAD + "ERROR: could not execute query: (11) database disk image is malformed\n\n"},
      {"unreadable", "", 0000, "SQL:SELECT x FROM t",
       "ERROR: Could not open " + d.file("case.db") + ": unable to open database file\n\n"},
      {"read-only, read", "", 0444, "SQL:SELECT x FROM t", HEAD + "<row><x>1</x></row></tree>\n"},
      {"read-only, write", "", 0444, "SQL:INSERT INTO t VALUES(2)",
       HEAD + "ERROR: could not execute query: (8) attempt to write a readonly database\n\n"},
  };
  for (const auto &c : cases) {
    const std::string db = d.file("case.db");
    fs::remove(db);
    if (c.content.empty())
      fs::copy_file(good, db);
    else
      write_file(db, c.content);
    chmod(db.c_str(), c.mode);
    const std::string before = read_file(db);
    Launch l = request(db, c.text);
    l.env["PATH_VIDEO"] = d.file("videos");
    // Root passes every permission check: the permission cases run as an
    // unprivileged user instead.
    l.unprivileged = root && c.mode != 0644;
    Outcome r = launch(l);
    EXPECT_FALSE(r.signaled) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.status, c.out.ends_with("</tree>\n") ? 0 : 1) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(read_file(db), before) << c.name << ": the file was changed";
    EXPECT_FALSE(fs::exists(db + "-journal")) << c.name;
  }
}

// Recording directories the request may not read: reported, nothing listed.
TEST(ListrecFaults, UnreadableDirectories) {
  OpenDir d;
  const std::string db = d.file("chan.db");
  exec_sql(db, "CREATE TABLE media_info(file_name, play_time, lock);");
  const std::string dir = d.file("video");
  fs::create_directory(dir);
  write_file(dir + "/film.ts", "x");
  const struct {
    const char *name;
    mode_t mode;
    std::string error;
  } cases[] = {
      {"no permission at all", 0000,
       "opening of directory (" + dir + ") failed: Permission denied"},
      // The names can be read, but no entry can be looked at.
      {"names only", 0444, "stat failed on file '" + dir + "/film.ts': Permission denied"},
  };
  for (const auto &c : cases) {
    chmod(dir.c_str(), c.mode);
    Launch l = request(db, "LISTREC:");
    l.env["PATH_VIDEO"] = dir;
    l.unprivileged = getuid() == 0;
    Outcome r = launch(l);
    EXPECT_FALSE(r.signaled) << c.name;
    EXPECT_EQ(r.out, HEAD + "ERROR: " + c.error + "\n\n") << c.name;
    EXPECT_EQ(r.status, 1) << c.name;
  }
  chmod(dir.c_str(), 0755);
}

// Recordings appear and vanish, and the directory itself is removed and
// made again, while listings run: every answer is a complete list of
// well-formed rows or a clean error, and nothing ends in a signal.
TEST(ListrecFaults, DirectoryChangingUnderTheListing) {
  TempDir d;
  const std::string db = d.file("chan.db");
  exec_sql(db, "CREATE TABLE media_info(file_name, play_time, lock);");
  const std::string dir = d.file("video");
  fs::create_directory(dir);
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    std::error_code ec;
    for (int round = 0; !stop; round++) {
      for (int i = 0; i < 60 && !stop; i++) write_file(dir + "/rec" + std::to_string(i) + ".ts", "x");
      for (int i = 0; i < 60 && !stop; i++) fs::remove(dir + "/rec" + std::to_string(i) + ".ts", ec);
      if (round % 4 == 3) {
        fs::remove_all(dir, ec);
        fs::create_directory(dir, ec);
      }
    }
  });
  const std::regex row("<reclistrow><filename>" + dir +
                       "/rec[0-9]+\\.ts</filename><size>[01]</size><lastmod>[0-9]+</lastmod>"
                       "<lastaccess>[0-9]+</lastaccess></reclistrow>\n");
  const std::regex error("ERROR: (stat failed on file '" + dir +
                         "/rec[0-9]+\\.ts': No such file or directory|opening of directory \\(" +
                         dir + "\\) failed: No such file or directory)\n\n");
  int complete = 0, failed = 0;
  const int listings = wrapped() ? 8 : 60;
  for (int k = 0; k < listings; k++) {
    Launch l = request(db, "LISTREC:");
    l.env["PATH_VIDEO"] = dir;
    Outcome r = launch(l);
    ASSERT_FALSE(r.signaled) << r.status;
    ASSERT_EQ(r.err, "");
    ASSERT_TRUE(r.out.starts_with(HEAD)) << r.out;
    std::string body = r.out.substr(HEAD.size());
    // Rows first, then either the end of the document or an error text.
    std::smatch m;
    while (std::regex_search(body, m, row, std::regex_constants::match_continuous))
      body = m.suffix();
    if (r.status == 0) {
      EXPECT_EQ(body, "</tree>\n");
      complete++;
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(std::regex_match(body, error)) << body;
      failed++;
    }
  }
  stop = true;
  churn.join();
  RecordProperty("complete", complete);
  RecordProperty("failed", failed);
  printf("listings: %d complete, %d ended by a vanished entry or directory\n", complete, failed);
}

}  // namespace

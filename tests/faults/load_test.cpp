// `request` under load: rounds of 50 requests started together (reads,
// SQL writes, channel trees, recording lists) against one database while
// another connection keeps writing to it. Every answer is a complete
// document or ends with a clean error text, every write reported as made is
// in the database (and no other), the database passes its integrity check,
// and no process is left behind.
#include <dirent.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "harness.h"
#include "runner.h"

namespace {

enum Kind { read_sql, write_sql, chantree, listrec, mixed, kinds };
const char *const KIND_NAMES[kinds] = {"SQL read", "SQL write", "CHANTREE", "LISTREC",
                                       "write+CHANTREE+LISTREC"};

std::string text_for(Kind kind, int id) {
  const std::string n = std::to_string(id);
  switch (kind) {
    case read_sql:
      return "SQL:SELECT count(*) AS n FROM channelinfo;SQL:SELECT count(*) AS n FROM bg";
    case write_sql:
      return "SQL:INSERT INTO load VALUES(" + n + ");SQL:SELECT " + n + " AS done";
    case chantree:
      return id % 2 ? "CHANTREE:PROVIDERS" : "CHANTREE:SALLTV;CHANTREE:LISTSATTV 1";
    case listrec:
      return "LISTREC:";
    default:
      return "SQL:INSERT INTO load VALUES(" + n + ");SQL:SELECT " + n +
             " AS done;CHANTREE:FAVGROUPS;LISTREC:";
  }
}

// Children of this process still around (zombies included).
int children_left() {
  int count = 0;
  const std::string me = std::to_string(getpid());
  DIR *proc = opendir("/proc");
  while (dirent *e = proc ? readdir(proc) : nullptr) {
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...: comm may hold blanks, so read from its ')'.
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid == me) count++;
  }
  if (proc) closedir(proc);
  return count;
}

TEST(Load, ConcurrentRequestsWithAWriterBeside) {
  TempDir dir;
  const std::string db = dir.file("chan.db");
  std::string cmd = std::string(PYTHON3) + " " SOURCE_DIR "/scripts/mkdb.py --demo --seed 3 --db " +
                    db + " >/dev/null";
  ASSERT_EQ(system(cmd.c_str()), 0);
  exec_sql(db, "CREATE TABLE load(id INTEGER); CREATE TABLE bg(n INTEGER, pad TEXT);");
  const std::string video = dir.file("video");
  std::filesystem::create_directory(video);
  for (int i = 0; i < 20; i++) std::ofstream(video + "/rec" + std::to_string(i) + ".vux") << i;

  // The other writer: short transactions of 20 rows each, as fast as the
  // requests let it; it counts the rows of every commit that succeeded.
  std::atomic<bool> stop{false};
  std::atomic<int> bg_rows{0}, bg_failed{0};
  std::thread writer([&] {
    sqlite3 *h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_busy_timeout(h, 3000);
    for (int n = 0; !stop; n++) {
      std::string sql = "BEGIN IMMEDIATE;";
      for (int i = 0; i < 20; i++)
        sql += "INSERT INTO bg VALUES(" + std::to_string(n * 20 + i) + ", zeroblob(200));";
      sql += "COMMIT;";
      if (sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        bg_rows += 20;
      } else {
        sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
        bg_failed++;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sqlite3_close(h);
  });

  // Under an emulator or checker every program is many times slower: one
  // round then.
  const int ROUNDS = wrapped() ? 1 : 3;
  constexpr int PER_ROUND = 50;
  int complete[kinds] = {}, errors[kinds] = {};
  std::set<int> reported, refused;
  std::map<std::string, int> messages;
  auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < ROUNDS; round++) {
    std::vector<Outcome> out(PER_ROUND);
    std::vector<std::thread> runs;
    for (int k = 0; k < PER_ROUND; k++) {
      runs.emplace_back([&, k] {
        Launch l;
        l.bin = REQUEST_BIN;
        l.args = {text_for(Kind(k % kinds), round * PER_ROUND + k)};
        l.env = {{"PATH_DB_DAT", db}, {"PATH_VIDEO", video}};
        out[size_t(k)] = launch(l);
      });
    }
    for (auto &t : runs) t.join();
    for (int k = 0; k < PER_ROUND; k++) {
      const Outcome &r = out[size_t(k)];
      const Kind kind = Kind(k % kinds);
      const int id = round * PER_ROUND + k;
      const std::string what = std::string(KIND_NAMES[kind]) + " #" + std::to_string(id);
      ASSERT_FALSE(r.signaled) << what << ": signal " << r.status - 128;
      EXPECT_EQ(r.err, "") << what;
      ASSERT_TRUE(r.out.starts_with(HEAD)) << what << ": " << r.out;
      if (r.status == 0) {
        EXPECT_TRUE(r.out.ends_with("</tree>\n")) << what << ": " << r.out;
        EXPECT_TRUE(well_formed_xml(body_of(r.out))) << what;
        complete[kind]++;
      } else {
        EXPECT_EQ(r.status, 1) << what;
        // A clean error: the text, one line, then an empty line, at the end.
        size_t at = r.out.rfind("ERROR: ");
        ASSERT_NE(at, std::string::npos) << what << ": " << r.out;
        std::string message = r.out.substr(at + 7);
        ASSERT_TRUE(message.ends_with("\n\n")) << what << ": " << r.out;
        message.resize(message.size() - 2);
        EXPECT_EQ(message.find('\n'), std::string::npos) << what << ": " << r.out;
        EXPECT_EQ(r.out.find("</tree>"), std::string::npos) << what;
        messages[message]++;
        errors[kind]++;
      }
      if (kind == write_sql || kind == mixed) {
        bool done = r.out.find("<row><done>" + std::to_string(id) + "</done></row>") !=
                    std::string::npos;
        (done ? reported : refused).insert(id);
      }
    }
  }
  stop = true;
  writer.join();
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // Every write reported as made is there; a refused one is not.
  std::set<int> present;
  sqlite3 *h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  sqlite3_stmt *st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(h, "SELECT id FROM load", -1, &st, nullptr), SQLITE_OK);
  while (sqlite3_step(st) == SQLITE_ROW) present.insert(sqlite3_column_int(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(h);
  for (int id : reported) EXPECT_TRUE(present.count(id)) << "write #" << id << " lost";
  for (int id : refused) EXPECT_FALSE(present.count(id)) << "refused write #" << id << " made";
  EXPECT_EQ(query_one(db, "SELECT count(*) FROM bg"), std::to_string(bg_rows.load()));
  EXPECT_EQ(query_one(db, "SELECT count(DISTINCT n) FROM bg"), std::to_string(bg_rows.load()));
  EXPECT_EQ(query_one(db, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(children_left(), 0);
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  printf("%d requests in %.1f s, %d at a time, beside %d committed rows (%d failed commits)\n",
         ROUNDS * PER_ROUND, seconds, PER_ROUND, bg_rows.load(), bg_failed.load());
  for (int k = 0; k < kinds; k++)
    printf("  %-24s %3d complete, %3d clean errors\n", KIND_NAMES[k], complete[k], errors[k]);
  printf("  writes reported made %zu, refused %zu\n", reported.size(), refused.size());
  for (auto &[m, n] : messages) printf("  %3d x ERROR: %s\n", n, m.c_str());
}

}  // namespace

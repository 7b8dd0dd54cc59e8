// The recording list's media lookup: the tail index on its own, and the
// listing's output on generated directories and tables compared, row by
// row, with what the plain LIKE statement gives for each entry.
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands/suffix_index.h"
#include "harness.h"

namespace {

SuffixIndex index_of(const std::vector<std::string> &texts) {
  SuffixIndex x;
  for (const std::string &t : texts) suffix_index_add(x, t);
  suffix_index_finish(x);
  return x;
}

TEST(SuffixIndex, FirstTextEndingWithTail) {
  const SuffixIndex x = index_of({
      "/hdd/b.ts",       // 0
      "/hdd/ab.ts",      // 1
      "/HDD/Film.TS",    // 2
      "",                // 3: a row checked elsewhere
      "/x/film.ts",      // 4
      "b.ts",            // 5
      "caf\xc3\xa9.ts",  // 6: UTF-8 é
      "CAF\xc3\x89.TS",  // 7: UTF-8 É, not folded by LIKE
      "[a]",             // 8: '[' and ']' sort around the letters once folded
      "z",               // 9
  });
  struct {
    const char *tail;
    long first;
  } cases[] = {
      {"b.ts", 0},          {"ab.ts", 1},         {"AB.TS", 1},  {"film.ts", 2},
      {"/x/FILM.ts", 4},    {"c.ts", -1},         {"ts", 0},     {"/hdd/b.ts", 0},
      {"x/hdd/b.ts", -1},   {"", -1},             {"caf\xc3\xa9.ts", 6},
      {"\xc3\x89.ts", 7},   {"\xc3\xa9.TS", 6},   {"A]", 8},     {"]", 8},
      {"Z", 9},             {"zz", -1},           {"film.ts.bak", -1},
  };
  for (const auto &c : cases) EXPECT_EQ(suffix_index_first(x, c.tail), c.first) << c.tail;
}

TEST(SuffixIndex, EmptyAndOnlyEmptyTexts) {
  EXPECT_EQ(suffix_index_first(index_of({}), "a"), -1);
  EXPECT_EQ(suffix_index_first(index_of({"", ""}), "a"), -1);
}

// Many texts sharing tails: the answer is the least number in a run of the
// sorted order, which the tree must find wherever the run lies.
TEST(SuffixIndex, AgreesWithALinearSearch) {
  std::mt19937 rnd(7);
  const char *parts[] = {"a", "B", "ab", "/", ".ts", "x"};
  std::vector<std::string> texts, tails;
  for (int i = 0; i < 600; i++) {
    std::string t;
    for (int k = rnd() % 5; k >= 0; k--) t += parts[rnd() % 6];
    (i % 2 ? texts : tails).push_back(t);
  }
  const SuffixIndex x = index_of(texts);
  auto fold = [](std::string s) {
    for (char &c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  for (const std::string &tail : tails) {
    long want = -1;
    for (size_t i = 0; i < texts.size() && !tail.empty(); i++)
      if (fold(texts[i]).ends_with(fold(tail))) {
        want = static_cast<long>(i);
        break;
      }
    EXPECT_EQ(suffix_index_first(x, tail), want) << tail;
  }
}

TEST(SuffixIndex, WhichTextsLikeReadsByteForByte) {
  struct {
    const char *text;
    bool exact;
  } cases[] = {
      {"plain.ts", true},
      {"", true},
      {"caf\xc3\xa9", true},          // 2-byte form
      {"\xe2\x82\xac", true},         // 3-byte form
      {"\xf0\x9f\x8e\xac", true},     // 4-byte form
      {"\xef\xbf\xbd", true},         // U+FFFD itself is an ordinary character
      {"\xa9", false},                // continuation byte without a lead
      {"caf\xe9", false},             // Latin-1
      {"\xc3", false},                // cut short
      {"\xc3\xa9\xa9", false},        // one continuation too many
      {"\xc0\xae", false},            // overlong
      {"\xe0\x80\xae", false},        // overlong
      {"\xed\xa0\x80", false},        // surrogate
      {"\xef\xbf\xbe", false},        // U+FFFE reads as U+FFFD
      {"\xef\xbf\xbf", false},        // U+FFFF reads as U+FFFD
      {"\xf4\x90\x80\x80", false},    // above U+10FFFF
      {"\xf8\x88\x80\x80\x80", false},
  };
  for (const auto &c : cases) EXPECT_EQ(like_reads_bytes_exactly(c.text), c.exact) << c.text;
}

// --- the listing against the statement

// What the statement the listing stood on gives for one entry name.
std::string statement_media(sqlite3 *con, const std::string &name) {
  sqlite3_stmt *st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(con, "SELECT play_time, lock FROM media_info WHERE file_name LIKE ?",
                               -1, &st, nullptr),
            SQLITE_OK);
  const std::string pattern = "%" + name;
  sqlite3_bind_text(st, 1, pattern.c_str(), -1, SQLITE_TRANSIENT);
  std::string media;
  if (sqlite3_step(st) == SQLITE_ROW)
    media = "<playtime>" + std::to_string(sqlite3_column_int(st, 0)) + "</playtime><lock>" +
            std::to_string(sqlite3_column_int(st, 1)) + "</lock>";
  sqlite3_finalize(st);
  return media;
}

// Pieces of names and file names, chosen to collide: tails of each other,
// ASCII and non-ASCII case pairs (only ASCII folds), the two wildcards,
// bytes that are not UTF-8 and U+FFFD, the character LIKE reads them as.
// No byte that the XML output would change.
const char *const PIECES[] = {"a",  "A",      "b",        "B",        ".ts", "/",
                              "_",  "%",      "\xc3\xa9", "\xc3\x89", "\xff", "\xa9",
                              "x.", "film",   "FILM",     "1",        "\xc3", " ",
                              "\xef\xbf\xbd"};

std::string random_text(std::mt19937 &rnd, int max_pieces) {
  std::string s;
  for (int k = 1 + static_cast<int>(rnd() % max_pieces); k > 0; k--)
    s += PIECES[rnd() % std::size(PIECES)];
  return s;
}

// Table layouts whose scan order differs: rowid order, a covering index
// the engine scans instead of the table, a primary key without rowid.
struct Layout {
  const char *name;
  const char *create;
  bool nulls;  // file_name may be NULL
};
const Layout LAYOUTS[] = {
    {"plain", "CREATE TABLE media_info(file_name TEXT, play_time INTEGER, lock INTEGER);", true},
    {"covering index",
     "CREATE TABLE media_info(file_name TEXT, play_time INTEGER, lock INTEGER, pad TEXT);"
     "CREATE INDEX media_names ON media_info(file_name, play_time, lock);",
     true},
    {"without rowid",
     "CREATE TABLE media_info(file_name TEXT NOT NULL, play_time INTEGER, lock INTEGER, "
     "PRIMARY KEY(file_name, play_time)) WITHOUT ROWID;",
     false},
};

TEST(MediaLookup, ListingEqualsTheStatementOnGeneratedData) {
  for (const Layout &layout : LAYOUTS) {
    for (unsigned seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::string(layout.name) + " seed " + std::to_string(seed));
      std::mt19937 rnd(seed);
      TempDir tmp;
      const std::string video = tmp.file("video"), db = tmp.file("channels.dat");
      std::filesystem::create_directory(video);
      std::set<std::string> made;
      std::vector<std::string> names;
      for (int i = 0; i < 150; i++) {
        // Hidden names are not listed, and '/' cannot be in a name.
        std::string name = random_text(rnd, 4);
        if (name[0] == '.' || name.find('/') != std::string::npos || !made.insert(name).second)
          continue;
        std::ofstream(video + "/" + name) << name;
        names.push_back(name);
      }
      sqlite3 *con = nullptr;
      ASSERT_EQ(sqlite3_open(db.c_str(), &con), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(con, layout.create, nullptr, nullptr, nullptr), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(con, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_stmt *ins = nullptr;
      ASSERT_EQ(sqlite3_prepare_v2(con, "INSERT INTO media_info(file_name, play_time, lock) "
                                        "VALUES(?, ?, ?)",
                                   -1, &ins, nullptr),
                SQLITE_OK);
      for (int i = 0; i < 400; i++) {
        // Most rows end with an entry's name (any case, any prefix);
        // others are random, some NULL, numbers or blobs.
        std::string file = random_text(rnd, 3);
        if (rnd() % 3 && !names.empty()) {
          std::string tail = names[rnd() % names.size()];
          if (rnd() % 2)
            for (char &c : tail)
              if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
          file = (rnd() % 2 ? "/hdd/video/" : "") + tail;
        }
        const unsigned kind = rnd() % 20;
        if (kind == 0 && layout.nulls) {
          sqlite3_bind_null(ins, 1);
        } else if (kind == 1) {
          sqlite3_bind_int(ins, 1, static_cast<int>(rnd() % 200));
        } else if (kind == 2) {
          sqlite3_bind_blob(ins, 1, file.data(), static_cast<int>(file.size()), SQLITE_TRANSIENT);
        } else {
          sqlite3_bind_text(ins, 1, file.data(), static_cast<int>(file.size()), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int(ins, 2, i);
        sqlite3_bind_int(ins, 3, static_cast<int>(rnd() % 2));
        sqlite3_step(ins);  // a repeated key of the WITHOUT ROWID table is left out
        sqlite3_reset(ins);
      }
      sqlite3_finalize(ins);
      ASSERT_EQ(sqlite3_exec(con, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);

      RunResult r = run_request({"LISTREC:"}, {{"PATH_DB_DAT", db}, {"PATH_VIDEO", video}});
      ASSERT_EQ(r.status, 0) << r.out;
      ASSERT_TRUE(r.out.starts_with(HEAD)) << r.out;
      // Each row as the listing printed it, and as the statement says it
      // must be: the same up to the media part, which the statement gives.
      std::istringstream in(r.out.substr(HEAD.size()));
      size_t rows = 0, known = 0;
      const std::string open = "<reclistrow><filename>" + video + "/", close = "</filename>";
      for (std::string line; std::getline(in, line) && line != "</tree>";) {
        rows++;
        ASSERT_TRUE(line.starts_with(open)) << line;
        const size_t end = line.find(close);
        const std::string name = line.substr(open.size(), end - open.size());
        const size_t media_at = line.find("</lastaccess>") + 13;
        const std::string media = statement_media(con, name);
        known += !media.empty();
        EXPECT_EQ(line.substr(media_at), media + "</reclistrow>") << name;
      }
      EXPECT_EQ(rows, names.size());
      // The data exercises the lookup: many entries are known.
      EXPECT_GT(known, names.size() / 3);
      sqlite3_close(con);
    }
  }
}

}  // namespace

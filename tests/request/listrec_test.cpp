// The recording list, run through the built binary on directories and
// databases made by each test.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

struct Media {
  int play_time, lock;
};

// A channel database with media_info, a video and an audio directory.
struct Layout {
  TempDir tmp;
  std::string db = tmp.file("channels.dat");
  std::string video = tmp.file("video");
  std::string audio = tmp.file("audio");

  Layout() {
    std::filesystem::create_directory(video);
    std::filesystem::create_directory(audio);
    exec_sql(db, "CREATE TABLE media_info(file_name TEXT, play_time INTEGER, lock INTEGER);");
  }
  Env env() const { return {{"PATH_DB_DAT", db}, {"PATH_VIDEO", video}, {"PATH_AUDIO", audio}}; }
  void media(const std::string &file_name, int play_time, int lock) const {
    exec_sql(db, "INSERT INTO media_info VALUES('" + file_name + "'," + std::to_string(play_time) +
                     "," + std::to_string(lock) + ");");
  }
};

void touch(const std::string &path) { std::ofstream(path) << "x"; }

// The row the listing must print for `path` (as stat sees it now), with
// the escaped form of the path given separately.
std::string row_for(const std::string &path, const std::string &shown,
                    std::optional<Media> media = std::nullopt) {
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  std::string row = "<reclistrow><filename>" + shown + "</filename><size>" +
                    std::to_string(st.st_size) + "</size><lastmod>" +
                    std::to_string(st.st_mtime) + "</lastmod><lastaccess>" +
                    std::to_string(st.st_atime) + "</lastaccess>";
  if (media)
    row += "<playtime>" + std::to_string(media->play_time) + "</playtime><lock>" +
           std::to_string(media->lock) + "</lock>";
  return row + "</reclistrow>";
}
std::string row_for(const std::string &path, std::optional<Media> media = std::nullopt) {
  return row_for(path, path, media);
}

// The rows of a successful response, sorted (the directory's order is the
// file system's own).
std::vector<std::string> rows_of(const RunResult &r) {
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.err, "");
  std::string body = r.out.substr(0, HEAD.size()) == HEAD ? r.out.substr(HEAD.size()) : "";
  const std::string end = "</tree>\n";
  EXPECT_TRUE(body.size() >= end.size() && body.ends_with(end)) << r.out;
  if (body.ends_with(end)) body.resize(body.size() - end.size());
  std::vector<std::string> rows;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(Listrec, ArgumentChoosesTheDirectory) {
  Layout l;
  touch(l.video + "/v.ts");
  touch(l.audio + "/a.mp3");
  struct {
    const char *arg;
    bool audio;
  } cases[] = {
      {"", false},     {"video", false},  {"audi o", false},       {"AUDIO", true},
      {"audio", true}, {"noaudio", true}, {"my_Audio_list", true},
  };
  for (const auto &c : cases) {
    const std::string file = c.audio ? l.audio + "/a.mp3" : l.video + "/v.ts";
    EXPECT_EQ(rows_of(run_request({std::string("LISTREC:") + c.arg}, l.env())),
              std::vector<std::string>{row_for(file)})
        << c.arg;
  }
}

TEST(Listrec, EmptyDirectoryPrintsNothing) {
  Layout l;
  RunResult r = run_request({"LISTREC:"}, l.env());
  EXPECT_EQ(r.out, HEAD + "</tree>\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Listrec, SkipRulesAreCaseSensitive) {
  Layout l;
  for (const char *name : {"film.ts.index", "a.index.old", ".hidden", "dead.film.ts",
                           "Dead.film.ts", "film.INDEX", "film.ts"})
    touch(l.video + "/" + name);
  std::filesystem::create_directory(l.video + "/sub");
  touch(l.video + "/sub/inner.ts");
  EXPECT_EQ(rows_of(run_request({"LISTREC:"}, l.env())),
            sorted({row_for(l.video + "/Dead.film.ts"), row_for(l.video + "/film.INDEX"),
                    row_for(l.video + "/film.ts"), row_for(l.video + "/sub")}));
}

TEST(Listrec, DirectoryIsUsedExactlyAsSet) {
  Layout l;
  touch(l.video + "/film.ts");
  Env env = l.env();
  env["PATH_VIDEO"] = l.video + "/";
  EXPECT_EQ(rows_of(run_request({"LISTREC:"}, env)),
            std::vector<std::string>{row_for(l.video + "//film.ts")});
}

// '&' is escaped, and a '>' cuts the shown path; the media lookup still
// uses the whole name.
TEST(Listrec, NamesAreEscapedForXml) {
  Layout l;
  touch(l.video + "/a&b.ts");
  touch(l.video + "/x>y.ts");
  l.media("/var/media/x>y.ts", 42, 1);
  RunResult r = run_request({"LISTREC:"}, l.env());
  EXPECT_EQ(rows_of(r), sorted({row_for(l.video + "/a&b.ts", l.video + "/a&amp;b.ts"),
                                row_for(l.video + "/x>y.ts", l.video + "/x", Media{42, 1})}));
  EXPECT_TRUE(well_formed_xml(body_of(r.out)));
}

// Sizes beyond 4 GiB and times beyond 2038 (and before 1970) are printed
// whole, not wrapped to 32 bits.
TEST(Listrec, LargeSizesAndTimesDoNotWrap) {
  Layout l;
  const std::string big = l.video + "/big.ts";
  int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 5LL << 30), 0);  // sparse: no disk space taken
  close(fd);
  const std::string late = l.video + "/late.ts";
  touch(late);
  const struct timespec times[2] = {{5000000000LL, 0}, {4102444800LL, 0}};  // atime, mtime
  ASSERT_EQ(utimensat(AT_FDCWD, late.c_str(), times, 0), 0);
  const std::string rows = ::testing::PrintToString(rows_of(run_request({"LISTREC:"}, l.env())));
  EXPECT_NE(rows.find("<filename>" + big + "</filename><size>5368709120</size>"),
            std::string::npos)
      << rows;
  EXPECT_NE(rows.find("<filename>" + late +
                      "</filename><size>1</size><lastmod>4102444800</lastmod>"
                      "<lastaccess>5000000000</lastaccess>"),
            std::string::npos)
      << rows;
}

// A row of media_info belongs to an entry when its file_name ends with the
// entry's name (LIKE '%' || name: ASCII case ignored, '_' any one byte);
// the first row the table gives wins.
TEST(Listrec, MediaRowMatchesNameAtTheEndAndFirstWins) {
  Layout l;
  l.media("/var/media/hdd/film.ts", 100, 0);
  l.media("/elsewhere/film.ts", 200, 1);
  l.media("/var/media/hdd/show", 5, 5);
  l.media("/var/media/hdd/film.ts.bak", 6, 6);
  l.media("/var/media/hdd/SERIES.TS", 7, 1);
  l.media("/var/media/hdd/aXb.ts", 8, 0);
  l.media("bare.ts", 9, 1);
  struct {
    const char *name;
    std::optional<Media> media;
  } cases[] = {
      {"film.ts", Media{100, 0}},  {"show.ts", std::nullopt}, {"series.ts", Media{7, 1}},
      {"a_b.ts", Media{8, 0}},     {"bare.ts", Media{9, 1}},  {"plain.ts", std::nullopt},
      {"film", std::nullopt},
  };
  std::vector<std::string> expected;
  for (const auto &c : cases) touch(l.video + "/" + c.name);
  for (const auto &c : cases) expected.push_back(row_for(l.video + "/" + c.name, c.media));
  EXPECT_EQ(rows_of(run_request({"LISTREC:"}, l.env())), sorted(expected));
}

// Each LISTREC makes and releases its own statement and directory stream.
TEST(Listrec, TwoListingsInOneRequest) {
  Layout l;
  touch(l.video + "/v.ts");
  touch(l.audio + "/a.mp3");
  l.media("/x/a.mp3", 3, 0);
  EXPECT_EQ(rows_of(run_request({"LISTREC:;LISTREC:audio;LISTREC:"}, l.env())),
            sorted({row_for(l.video + "/v.ts"), row_for(l.audio + "/a.mp3", Media{3, 0}),
                    row_for(l.video + "/v.ts")}));
}

TEST(Listrec, DanglingLinkEndsTheRequest) {
  Layout l;
  const std::string link = l.video + "/broken.ts";
  ASSERT_EQ(symlink((l.tmp.path + "/gone").c_str(), link.c_str()), 0);
  RunResult r = run_request({"LISTREC:"}, l.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.ends_with("ERROR: stat failed on file '" + link +
                              "': No such file or directory\n\n"))
      << r.out;
  EXPECT_EQ(r.out.find("</tree>"), std::string::npos);
}

TEST(Listrec, FailureMessages) {
  Layout l;
  touch(l.video + "/film.ts");
  TempDir no_table;
  const std::string bare_db = no_table.file("bare.dat");
  exec_sql(bare_db, "CREATE TABLE other(x);");
  struct {
    const char *name, *arg;
    Env env;
    std::string message;
  } cases[] = {
      {"no video", "", {{"PATH_DB_DAT", l.db}, {"PATH_AUDIO", l.audio}},
       "could not get PATH_VIDEO environment variable for media-directory"},
      {"no audio", "Audio", {{"PATH_DB_DAT", l.db}, {"PATH_VIDEO", l.video}},
       "could not get PATH_AUDIO environment variable"},
      {"missing directory", "", {{"PATH_DB_DAT", l.db}, {"PATH_VIDEO", l.tmp.file("none")}},
       "opening of directory (" + l.tmp.file("none") + ") failed: No such file or directory"},
      {"not a directory", "", {{"PATH_DB_DAT", l.db}, {"PATH_VIDEO", l.db}},
       "opening of directory (" + l.db + ") failed: Not a directory"},
      {"no media table", "", {{"PATH_DB_DAT", bare_db}, {"PATH_VIDEO", l.video}},
       "failed preparing of sql statement: no such table: media_info"},
  };
  for (const auto &c : cases) {
    RunResult r = run_request({std::string("LISTREC:") + c.arg}, c.env);
    EXPECT_EQ(r.out, HEAD + "ERROR: " + c.message + "\n\n") << c.name;
    EXPECT_EQ(r.status, 1) << c.name;
  }
}

// A path has at most 4095 characters: one of 4095 is listed, one of 4096
// ends the request.
TEST(Listrec, PathLengthLimit) {
  Layout l;
  // The same directory, named by a long chain of "/." steps.
  std::string dir = l.video;
  while (dir.size() < 4080) dir += "/.";
  for (size_t total : {size_t{4095}, size_t{4096}}) {
    std::filesystem::remove_all(l.video);
    std::filesystem::create_directory(l.video);
    const std::string name(total - dir.size() - 1, 'n');
    touch(l.video + "/" + name);
    Env env = l.env();
    env["PATH_VIDEO"] = dir;
    RunResult r = run_request({"LISTREC:"}, env);
    if (total == 4095) {
      EXPECT_EQ(rows_of(r), std::vector<std::string>{row_for(dir + "/" + name)});
    } else {
      EXPECT_EQ(r.out, HEAD + "ERROR: error opening file: filename too long\n\n");
      EXPECT_EQ(r.status, 1);
    }
  }
}

}  // namespace

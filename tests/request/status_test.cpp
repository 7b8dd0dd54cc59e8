// Disk and clock status, the mount and application check and the power
// actions, run through the built binary. Every outside program is a
// stand-in of the test's own, and PATH holds nothing else, so no real
// power action can ever run here.
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cassert>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "process.h"

namespace {

// A test's bin directory of stand-ins (the only entry of PATH), its log
// and a database for the request to open.
struct Standins {
  TempDir tmp;
  std::string bin = tmp.file("bin");
  std::string log = tmp.file("calls.log");
  std::string db = tmp.file("channels.dat");

  Standins() {
    std::filesystem::create_directory(bin);
    exec_sql(db, "CREATE TABLE t(x);");
  }

  // A shell script `name` in bin: it logs "name[arg]...", prints noise on
  // standard error and runs `body`.
  void script(const std::string &name, const std::string &body,
              const std::string &dir_path = "") const {
    const std::string dir = dir_path.empty() ? bin : dir_path;
    const std::string path = dir + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n"
                           "{ printf '%s' \"${0##*/}\"; for a in \"$@\"; do printf '[%s]' \"$a\"; "
                           "done; echo; } >> '"
                        << log << "'\n"
                        << "echo noise on stderr >&2\n"
                        << body << "\n";
    chmod(path.c_str(), 0755);
  }

  // A stand-in that prints exactly `text` (which must hold no single quote).
  void printer(const std::string &name, const std::string &text) const {
    assert(text.find('\'') == std::string::npos);
    script(name, "printf '%s' '" + text + "'");
  }

  // The system's own tool `name`, linked into bin.
  void tool(const std::string &name) const {
    for (const char *dir : {"/usr/bin/", "/bin/"}) {
      std::string real = dir + name;
      if (access(real.c_str(), X_OK) == 0) {
        std::filesystem::create_symlink(real, bin + "/" + name);
        return;
      }
    }
    FAIL() << "no " << name << " on this machine";
  }

  Env env() const { return {{"PATH", bin}, {"PATH_DB_DAT", db}, {"STANDIN_LOG", log}}; }

  std::string calls() const {
    std::ifstream in(log);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// ---- DISKSTAT ----------------------------------------------------------

TEST(Diskstat, FiguresOfTheVideoFileSystem) {
  Standins s;
  Env env = s.env();
  env["PATH_VIDEO"] = s.tmp.path;
  RunResult r = run_request({"DISKSTAT:"}, env);
  struct statfs fs;
  ASSERT_EQ(statfs(s.tmp.path.c_str(), &fs), 0);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");

  std::smatch m;
  const std::string body = r.out.substr(HEAD.size());
  ASSERT_TRUE(std::regex_match(body, m,
                               std::regex("<part><size>(\\d+)</size><used>(\\d+)</used>"
                                          "<free>(\\d+)</free></part></tree>\n")))
      << r.out;
  const long long size = std::stoll(m[1]), used = std::stoll(m[2]), free = std::stoll(m[3]);
  const long long bsize = fs.f_bsize;
  EXPECT_EQ(size, bsize * static_cast<long long>(fs.f_blocks));
  EXPECT_EQ(used + free, size);
  EXPECT_EQ(free % bsize, 0);
  // Free space moves while other programs write; a GiB of slack is plenty.
  EXPECT_LT(std::llabs(free - bsize * static_cast<long long>(fs.f_bavail)), 1LL << 30);
  // Blocks kept back for the superuser count as used.
  EXPECT_GE(used + (1LL << 30), bsize * static_cast<long long>(fs.f_blocks - fs.f_bfree));
}

TEST(Diskstat, Failures) {
  Standins s;
  RunResult r = run_request({"DISKSTAT:"}, s.env());
  EXPECT_EQ(r.out,
            HEAD + "ERROR: could not get PATH_VIDEO environment variable for media-directory\n\n");
  EXPECT_EQ(r.status, 1);

  Env env = s.env();
  env["PATH_VIDEO"] = s.tmp.file("none");
  r = run_request({"DISKSTAT:"}, env);
  EXPECT_EQ(r.out, HEAD + "ERROR: could not statfs on '" + s.tmp.file("none") +
                       "':'No such file or directory\n\n");
  EXPECT_EQ(r.status, 1);
}

// ---- TIMEINFO ----------------------------------------------------------

TEST(Timeinfo, EpochTimeAndZoneOffsetInMinutes) {
  Standins s;
  struct {
    const char *tz;
    int minutes;
  } cases[] = {
      {"UTC0", 0}, {"XXX-2", 120}, {"IST-5:30", 330}, {"NST3:30", -210}, {"AAA+11", -660},
  };
  for (const auto &c : cases) {
    Env env = s.env();
    env["TZ"] = c.tz;
    const long long before = time(nullptr);
    RunResult r = run_request({"TIMEINFO:"}, env);
    const long long after = time(nullptr);
    std::smatch m;
    const std::string body = r.out.substr(HEAD.size());
    ASSERT_TRUE(std::regex_match(body, m,
                                 std::regex("<time><epochtime>(\\d+)</epochtime>"
                                            "<tzoffset>(-?\\d+)</tzoffset></time></tree>\n")))
        << c.tz << ": " << r.out;
    EXPECT_GE(std::stoll(m[1]), before) << c.tz;
    EXPECT_LE(std::stoll(m[1]), after) << c.tz;
    EXPECT_EQ(std::stoi(m[2]), c.minutes) << c.tz;
  }
}

// ---- CHECKON -----------------------------------------------------------

// The output of "ps" with `mivano` lines naming the application among
// lines of other processes.
std::string ps_output(int mivano) {
  std::string out = "  PID USER       VSZ STAT COMMAND\n    1 root      1200 S    init\n";
  for (int i = 0; i < mivano; i++) out += "  " + std::to_string(100 + i) + " root  9000 S  mivano\n";
  return out + "  300 root       800 S    sh\n";
}

TEST(Checkon, MountLinesAreSubstringTests) {
  struct {
    const char *mount, *fragment;
  } cases[] = {
      {"", "<db>readonly</db><media>unavailable</media>"},
      {"/dev/sda1 on /var/data type ext3 (ro)\n", "<db>readonly</db><media>unavailable</media>"},
      {"/dev/sda1 on /var/data type ext3 (rw,noatime)\n",
       "<db>writable</db><media>unavailable</media>"},
      {"/dev/sda1 on /var/data type ext3 (ro)\n/dev/sda1 on /var/data type ext3 (rw)\n",
       "<db>writable</db><media>unavailable</media>"},
      // Both strings must be on the same line.
      {"/dev/sda1 on /var/data type ext3 (ro)\nnone on /tmp type tmpfs (rw)\n",
       "<db>readonly</db><media>unavailable</media>"},
      {"/dev/sda3 on /var/database type ext3 (rw)\n", "<db>writable</db><media>unavailable</media>"},
      {"/dev/sdb1 on /var/media/usb type vfat (rw)\n",
       "<db>readonly</db><media>mounted</media>"},
      {"/dev/sda2 on /var/media type ext3 (rw)\n/dev/sda1 on /var/data type ext3 (rw)",
       "<db>writable</db><media>mounted</media>"},
  };
  for (const auto &c : cases) {
    Standins s;
    s.printer("mount", c.mount);
    s.printer("ps", ps_output(0));
    s.tool("grep");
    RunResult r = run_request({"CHECKON:"}, s.env());
    EXPECT_EQ(r.out, HEAD + "<powerstat>" + c.fragment + "<mivano>off</mivano></powerstat></tree>\n")
        << c.mount;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.calls(), "mount\nps\n");
  }
}

TEST(Checkon, ApplicationRunsWithMoreThanTenLines) {
  struct {
    int lines;
    const char *state;
  } cases[] = {{0, "off"}, {10, "off"}, {11, "on"}, {25, "on"}};
  for (const auto &c : cases) {
    Standins s;
    s.printer("mount", "/dev/sda1 on /var/data type ext3 (rw)\n");
    s.printer("ps", ps_output(c.lines));
    s.tool("grep");
    RunResult r = run_request({"CHECKON:anything"}, s.env());
    EXPECT_EQ(r.out, HEAD + "<powerstat><db>writable</db><media>unavailable</media><mivano>" +
                         c.state + "</mivano></powerstat></tree>\n")
        << c.lines;
    EXPECT_EQ(r.err, "");
  }
}

// Programs that cannot be started give the negative answers.
TEST(Checkon, MissingProgramsCountAsEmptyOutput) {
  Standins s;
  s.tool("grep");
  RunResult r = run_request({"CHECKON:"}, s.env());
  EXPECT_EQ(r.out, HEAD +
                       "<powerstat><db>readonly</db><media>unavailable</media>"
                       "<mivano>off</mivano></powerstat></tree>\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// The three status fragments follow one another with nothing between.
TEST(Status, ThreeFragmentsInOneRequest) {
  Standins s;
  s.printer("mount", "/dev/sda2 on /var/media type ext3 (rw)\n");
  s.printer("ps", ps_output(12));
  s.tool("grep");
  Env env = s.env();
  env["PATH_VIDEO"] = s.tmp.path;
  env["TZ"] = "XXX-2";
  RunResult r = run_request({"DISKSTAT:;TIMEINFO:;CHECKON:"}, env);
  EXPECT_TRUE(std::regex_match(
      r.out.substr(HEAD.size()),
      std::regex("<part><size>\\d+</size><used>\\d+</used><free>\\d+</free></part>"
                 "<time><epochtime>\\d+</epochtime><tzoffset>120</tzoffset></time>"
                 "<powerstat><db>readonly</db><media>mounted</media><mivano>on</mivano>"
                 "</powerstat></tree>\n")))
      << r.out;
  EXPECT_EQ(r.status, 0);
}

// ---- POWER -------------------------------------------------------------

// Each action reaches exactly its program with exactly its arguments, and
// waits for it (the stand-ins log only after a pause); nothing it prints
// reaches the response.
TEST(Power, ActionsRunTheirProgramOnly) {
  struct {
    const char *arg, *calls;
  } cases[] = {
      {"STANDBY", "sendkey[CLICK POWER]\n"},
      {"SWITCHON", "killall[front_pwr_manager]\n"},
      {"REBOOT", "front_ioctl[--job][reboot]\n"},
      {"POWEROFF", "front_ioctl[--job][poweroff]\n"},
      {"standby", ""},
      {"STANDBY ", ""},
      {" REBOOT", ""},
      {"Reboot", ""},
      {"POWEROFFX", ""},
      {"", ""},
  };
  for (const auto &c : cases) {
    Standins s;
    const std::string www = s.tmp.file("www");
    std::filesystem::create_directories(www + "/cgi-bin");
    s.tool("sleep");
    for (const char *name : {"killall", "front_ioctl"})
      s.script(name, "sleep 0.2; echo noise on stdout");
    s.script("sendkey", "sleep 0.2; echo noise on stdout", www + "/cgi-bin");
    Env env = s.env();
    env["PATH_WWW"] = www;
    RunResult r = run_request({std::string("POWER:") + c.arg}, env);
    EXPECT_EQ(r.out, HEAD + "</tree>\n") << c.arg;
    EXPECT_EQ(r.err, "") << c.arg;
    EXPECT_EQ(r.status, 0) << c.arg;
    EXPECT_EQ(s.calls(), c.calls) << c.arg;
  }
}

// Blanks and shell characters in PATH_WWW are part of the path, and can
// start nothing else.
TEST(Power, StandbyPathIsNotShellText) {
  Standins s;
  const std::string www = s.tmp.file("w w;front_ioctl --job reboot;x $(front_ioctl)");
  std::filesystem::create_directories(www + "/cgi-bin");
  s.script("front_ioctl", "");
  s.script("sendkey", "", www + "/cgi-bin");
  Env env = s.env();
  env["PATH_WWW"] = www;
  RunResult r = run_request({"POWER:STANDBY"}, env);
  EXPECT_EQ(r.out, HEAD + "</tree>\n");
  EXPECT_EQ(s.calls(), "sendkey[CLICK POWER]\n");
}

// PATH_WWW is required before the argument is looked at; a program that
// is missing or fails is no error.
TEST(Power, PathWwwCheckAndMissingPrograms) {
  Standins s;
  s.script("front_ioctl", "");
  Env env = s.env();
  for (const char *arg : {"REBOOT", "nothing"}) {
    RunResult r = run_request({std::string("POWER:") + arg}, env);
    EXPECT_EQ(r.out, HEAD + "ERROR: PATH_WWW not set\n\n") << arg;
    EXPECT_EQ(r.status, 1) << arg;
  }
  EXPECT_EQ(s.calls(), "");

  env["PATH_WWW"] = s.tmp.file("nowhere");
  s.script("killall", "exit 3");
  RunResult r = run_request({"POWER:STANDBY;POWER:SWITCHON;POWER:POWEROFF;TIMEINFO:"}, env);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.starts_with(HEAD + "<time>")) << r.out;
  EXPECT_EQ(s.calls(), "killall[front_pwr_manager]\nfront_ioctl[--job][poweroff]\n");
}

// ---- line reading ------------------------------------------------------

// Output is read in the pieces of a line reader with a fixed buffer; with
// a buffer of 4 bytes a piece holds at most 3.
TEST(LinePieces, Table) {
  struct {
    const char *text;
    std::vector<std::string_view> pieces;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"ab\n", {"ab\n"}},
      {"abc\n", {"abc", "\n"}},
      {"a\n\nb", {"a\n", "\n", "b"}},
      {"abcdefg", {"abc", "def", "g"}},
      {"abcdef\nx\n", {"abc", "def", "\n", "x\n"}},
  };
  for (const auto &c : cases) EXPECT_EQ(line_pieces(c.text, 4), c.pieces) << c.text;
}

}  // namespace

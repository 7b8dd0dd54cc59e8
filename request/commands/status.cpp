// Receiver status and power control: DISKSTAT, TIMEINFO, CHECKON, POWER.
//
// None of these touches the database. They learn the receiver's state from
// the file system, the clock and the output of "mount" and "ps", and change
// it through the receiver's own programs. Whatever those programs print is
// kept out of the response (see process.h).

#include <sys/statfs.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "../output.h"
#include "../process.h"
#include "../request.h"
#include "commands.h"

namespace {

// mount and ps output is read through a line buffer of this size: a longer
// line is tested, or counted, as several lines.
constexpr size_t LINE_BUF = 1024;

// The main application shows as many processes; 10 lines or fewer of
// "ps | grep mivano" (which may list the grep and its shell too) are taken
// as not running.
constexpr int MIVANO_MIN_LINES = 11;

bool holds(std::string_view line, std::string_view what) {
  return line.find(what) != std::string_view::npos;
}

}  // namespace

// Size, use and free space of the file system holding the video recordings.
// Blocks reserved for the superuser count as used, so used + free = size.
void diskstat_command(const char *) {
  const char *path = getenv("PATH_VIDEO");
  if (!path) fail_request("could not get PATH_VIDEO environment variable for media-directory");
  struct statfs fs;
  if (statfs(path, &fs) != 0)
    fail_request(sqlite3_mprintf("could not statfs on '%s':'%s", path, strerror(errno)));
  // The block size is signed in the kernel's record: widen it with its sign.
  const long long bsize = static_cast<long long>(fs.f_bsize);
  const long long blocks = static_cast<long long>(fs.f_blocks);
  const long long avail = static_cast<long long>(fs.f_bavail);
  out_printf("<part><size>%lld</size><used>%lld</used><free>%lld</free></part>",
             bsize * blocks, bsize * (blocks - avail), bsize * avail);
}

// The clock in seconds since 1970 and the local offset from UTC in minutes
// (east positive, daylight saving included). Seconds are printed from the
// 64-bit time, so they go on counting past 2038.
void timeinfo_command(const char *) {
  time_t now = time(nullptr);
  if (now < 0) fail_request("could not get current time");
  struct tm local;
  if (!localtime_r(&now, &local)) fail_request("could not get current timeinfo");
  out_printf("<time><epochtime>%lld</epochtime><tzoffset>%d</tzoffset></time>",
             static_cast<long long>(now), static_cast<int>(local.tm_gmtoff / 60));
}

// Whether the data partition is mounted read-write, whether the media
// partition is mounted, and whether the main application runs. A "mount" or
// "ps" that cannot be started gives the negative answers.
void checkon_command(const char *) {
  out_write("<powerstat>");

  static const char *const mount_argv[] = {"mount", nullptr};
  const std::string mounts = program_output(mount_argv);
  bool data_rw = false, media = false;
  for (std::string_view line : line_pieces(mounts, LINE_BUF)) {
    if (holds(line, "/var/data") && holds(line, "(rw")) data_rw = true;
    if (holds(line, "/var/media")) media = true;
  }
  out_write(data_rw ? "<db>writable</db>" : "<db>readonly</db>");
  out_write(media ? "<media>mounted</media>" : "<media>unavailable</media>");

  static const char *const ps_argv[] = {"/bin/sh", "-c", "ps | grep mivano", nullptr};
  const std::string procs = program_output(ps_argv);
  const size_t lines = line_pieces(procs, LINE_BUF).size();
  out_write(lines >= MIVANO_MIN_LINES ? "<mivano>on</mivano></powerstat>"
                                      : "<mivano>off</mivano></powerstat>");
}

// Standby, switch-on, reboot or power-off. Only an argument that is exactly
// one of the four words does anything; nothing is ever printed, and the
// program's exit status is not examined.
void power_command(const char *arg) {
  const char *www = getenv("PATH_WWW");
  if (!www) fail_request("PATH_WWW not set");

  const std::string_view action = arg;
  if (action == "STANDBY") {
    // A press of the power key through the web interface's key sender.
    const std::string sendkey = std::string(www) + "/cgi-bin/sendkey";
    const char *const argv[] = {sendkey.c_str(), "CLICK POWER", nullptr};
    run_program(argv);
  } else if (action == "SWITCHON") {
    static const char *const argv[] = {"killall", "front_pwr_manager", nullptr};
    run_program(argv);
  } else if (action == "REBOOT") {
    static const char *const argv[] = {"front_ioctl", "--job", "reboot", nullptr};
    run_program(argv);
  } else if (action == "POWEROFF") {
    static const char *const argv[] = {"front_ioctl", "--job", "poweroff", nullptr};
    run_program(argv);
  }
}

#!/usr/bin/env python3
"""What one `request` costs, beside the least the same work could cost.

Makes its own data at several scales (channel databases, EPG databases,
recording directories with as many media_info rows), then prints one table:
for each command and scale the request's instruction count (callgrind) and
median wall time, the same for the floors, the ratio to the sqlite3 shell,
the peak resident memory, and how the cost grows from scale to scale.

Floors:
  shell  the sqlite3 command-line shell running the command's statements on
         the same file (LISTREC: one scan of media_info, the least the
         lookup needs; trivial commands: SELECT 1)
  min    a minimal statically linked program that opens the file and runs
         the same statements (built here when libsqlite3.a is present)
  exit   a statically linked process that only starts and exits

Growth is the exponent k in cost ~ n^k between neighbouring scales, from
the instructions above those of TIMEINFO (what every request pays).
n log n from 1,000 to 10,000 entries shows as k = 1.12; n^2 as 2.

Usage:
  bench/request.py [--quick] [--request BUILD/request] [--runs N] [--keep DIR]
  --quick     smallest scale only, few runs (CI checks that this runs)
  --startup   also print where a trivial request's instructions go
"""

import argparse
import math
import os
import random
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import mkdb  # noqa: E402

CHANNEL_SCALES = [1000, 5000, 20000]
EVENT_SCALES = [10000, 100000, 1000000]
RECORDING_SCALES = [100, 1000, 10000]
EPG_CHANNELS = 1000

_PROVIDERS = ["ARD", "ZDFvision", "BetaDigital", "CSAT", "Sky", "BBC", "ORF", "SRG",
              "Mediaset", "RAI", "TVP", "Canal", "MTV", "Discovery", "RadioFrance", "DLR"]
_WORDS = ["News", "Sport", "Cinema", "Kids", "Music", "Doku", "Comedy", "Travel", "Arte",
          "Info", "Nature", "History", "Action", "Family", "Classic", "Weather", "Radio",
          "Klassik", "Pop", "Rock", "Jazz", "Welle", "Kultur", "Hits"]
_TITLES = ["Morning News", "Weather", "Late Movie", "Football Live", "Documentary",
           "Talk Show", "Concert", "Quiz Night", "Cartoons", "Cooking & Co"]

# The provider whose channels LISTPROV lists, and the letter of ALLTVCHAN.
LISTPROV_SDT = 105
ALLTV_LETTER = "B"

LISTPROV_SQL = ("SELECT name, ch_order, cas_type, media_mode FROM channelinfo "
                "WHERE sdt_id = %d ORDER BY name ASC" % LISTPROV_SDT)
ALLTV_SQL = ("SELECT name, ch_order, cas_type FROM channelinfo WHERE name LIKE '%s%%' "
             "AND media_mode = 0 ORDER BY name ASC" % ALLTV_LETTER)
MEDIA_SCAN_SQL = "SELECT file_name, play_time, lock FROM media_info"

# A program that opens the database and runs its arguments as statements,
# printing every value: the least a request could do.
MIN_C = r"""
#include <sqlite3.h>
#include <stdio.h>
int main(int argc, char **argv) {
  sqlite3 *db;
  if (argc < 2 || sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, 0) != SQLITE_OK) return 1;
  for (int i = 2; i < argc; i++) {
    sqlite3_stmt *st;
    if (sqlite3_prepare_v2(db, argv[i], -1, &st, 0) != SQLITE_OK) return 1;
    while (sqlite3_step(st) == SQLITE_ROW)
      for (int c = 0; c < sqlite3_column_count(st); c++) {
        const unsigned char *v = sqlite3_column_text(st, c);
        fputs(v ? (const char *)v : "", stdout);
        putchar(c + 1 < sqlite3_column_count(st) ? '|' : '\n');
      }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return 0;
}
"""


# Runs a program RUNS times with its output into OUT and prints the median
# and the least wall time in nanoseconds and the largest peak resident set
# in KiB. A small static parent, so that the child's peak before exec (a
# copy of the parent) stays far below that of the program measured.
RUNNER_C = r"""
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
static int cmp(const void *a, const void *b) {
  long long x = *(const long long *)a, y = *(const long long *)b;
  return x < y ? -1 : x > y;
}
int main(int argc, char **argv) {
  if (argc < 4) return 2;
  int runs = atoi(argv[1]);
  long long *ns = calloc(runs, sizeof *ns);
  long peak = 0;
  int failed = 0;
  for (int i = 0; i < runs; i++) {
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0) _exit(127);
      dup2(fd, 1);
      dup2(fd, 2);
      execv(argv[3], argv + 3);
      _exit(127);
    }
    int status;
    struct rusage ru;
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid) return 1;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    ns[i] = (t1.tv_sec - t0.tv_sec) * 1000000000LL + (t1.tv_nsec - t0.tv_nsec);
    if (ru.ru_maxrss > peak) peak = ru.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = 1;
  }
  qsort(ns, runs, sizeof *ns, cmp);
  printf("%lld %lld %ld %d\n", ns[runs / 2], ns[0], peak, failed);
  return 0;
}
"""


# ---------------------------------------------------------------- data

def channel_world(n, seed=9):
    rnd = random.Random(seed)
    provs = [{"sdt_id": 100 + i, "provider_name": p} for i, p in enumerate(_PROVIDERS)]
    chans = []
    for i in range(1, n + 1):
        radio = rnd.random() < 0.3
        name = "%s %s %d" % (rnd.choice(_PROVIDERS), rnd.choice(_WORDS), i)
        chans.append({"name": name, "cas_type": rnd.choice([0, 0, 1, 256]),
                      "media_mode": 1 if radio else 0, "sat_id": rnd.randint(1, 3),
                      "sdt_id": rnd.choice(provs)["sdt_id"]})
    return {"satellites": [{"sat_id": s, "name": "Sat %d" % s} for s in (1, 2, 3)],
            "providers": provs, "channels": chans}


def make_channels(work, n):
    path = os.path.join(work, "chan_%d.db" % n)
    mkdb.build(channel_world(n), path)
    return path


def make_epg(work, events, now):
    """A 1,000-channel database and an EPG of `events` events, written in
    time slots across all channels, with the current slot in the middle."""
    db = os.path.join(work, "epgchan_%d.db" % events)
    epg = os.path.join(work, "epg_%d.db" % events)
    mkdb.build(channel_world(EPG_CHANNELS), db, epg)
    slots = events // EPG_CHANNELS
    length = 1800
    first = now - (slots // 2) * length
    cols = [c for c, _, _ in mkdb.EPG_TABLES["epginfo"]]
    con = sqlite3.connect(epg)
    rows = ((ch, first + s * length, first + (s + 1) * length, _TITLES[(ch + s) % len(_TITLES)],
             "Story %d/%d" % (ch, s), "More", "")
            for s in range(slots) for ch in range(1, EPG_CHANNELS + 1))
    con.executemany("INSERT INTO epginfo (%s) VALUES (%s)" % (
        ", ".join(cols), ", ".join("?" * len(cols))), rows)
    con.commit()
    con.close()
    # The channel on screen: one in the middle of the list.
    ch_id = EPG_CHANNELS // 2
    name = sqlite3.connect(db).execute(
        "SELECT name FROM channelinfo WHERE ch_id = ?", (ch_id,)).fetchone()[0]
    return db, epg, ch_id, name


def make_recordings(work, n, seed=5):
    """A video directory of n recordings (and their index files) and a
    database of n media_info rows: most name a recording, some in other
    case, some name files that are gone; rows in an order of their own."""
    rnd = random.Random(seed)
    video = os.path.join(work, "video_%d" % n)
    os.mkdir(video)
    names = ["Rec %05d %s.vux" % (i, rnd.choice(_TITLES)) for i in range(n)]
    for i, name in enumerate(names):
        with open(os.path.join(video, name), "wb") as f:
            f.truncate(1024 * (i + 1))
        if i % 10 == 0:
            open(os.path.join(video, name + ".index"), "wb").close()
    media = []
    for i, name in enumerate(names):
        if i % 10 == 3:
            name = "Gone %05d.vux" % i
        path = "/hdd/video/" + name
        if i % 7 == 0:
            path = path.upper()
        media.append({"file_name": path, "play_time": 600 + i, "lock": i % 2})
    rnd.shuffle(media)
    db = os.path.join(work, "rec_%d.db" % n)
    mkdb.build({"media_info": media}, db)
    return video, db


# ---------------------------------------------------------------- measuring

class Tools:
    def __init__(self, work, request):
        self.work = work
        self.request = request
        self.valgrind = shutil.which("valgrind")
        self.sqlite3 = shutil.which("sqlite3")
        self.cc = shutil.which("cc") or shutil.which("gcc")
        self.exit_prog = self._build("exit", "int main(void) { return 0; }\n", [])
        self.runner = self._build("runner", RUNNER_C, [])
        if not self.runner:
            raise SystemExit("cannot build the timing runner (no C compiler?)")
        static_sqlite = "/usr/lib/x86_64-linux-gnu/libsqlite3.a"
        self.min_prog = (self._build("min", MIN_C, [static_sqlite, "-lm"])
                         if os.path.exists(static_sqlite) else None)
        self.out = os.path.join(work, "out.txt")
        self.home = os.path.join(work, "home")  # no ~/.sqliterc of the user
        os.makedirs(self.home, exist_ok=True)

    def _build(self, name, source, libs):
        if not self.cc:
            return None
        src = os.path.join(self.work, name + ".c")
        exe = os.path.join(self.work, name)
        with open(src, "w") as f:
            f.write(source)
        r = subprocess.run([self.cc, "-O2", "-static", src, "-o", exe] + libs,
                           capture_output=True)
        return exe if r.returncode == 0 else None

    def _env(self, env):
        e = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home}
        e.update(env)
        return e

    def run_once(self, argv, env):
        """Runs once; returns (exit status, output)."""
        r = subprocess.run(argv, env=self._env(env), capture_output=True)
        return r.returncode, r.stdout + r.stderr

    def wall(self, argv, env, runs):
        """Median seconds and largest peak resident KiB of `runs` runs."""
        r = subprocess.run([self.runner, str(runs), self.out] + argv, env=self._env(env),
                           capture_output=True, text=True, check=True)
        median_ns, _, peak, _ = (int(v) for v in r.stdout.split())
        return median_ns / 1e9, peak

    def instructions(self, argv, env):
        """Instructions of one run, children (forks) included; None
        without valgrind."""
        if not self.valgrind:
            return None
        d = tempfile.mkdtemp(dir=self.work)
        cmd = [self.valgrind, "--tool=callgrind", "--callgrind-out-file=%s/cg.%%p" % d] + argv
        subprocess.run(cmd, env=self._env(env), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        total = 0
        for f in os.listdir(d):
            with open(os.path.join(d, f)) as fh:
                for line in fh:
                    if line.startswith("summary:") or line.startswith("totals:"):
                        total += int(line.split()[1])
                        break
        shutil.rmtree(d)
        return total or None

    def by_object(self, argv, env):
        """Instructions of one run per loaded object (self cost)."""
        d = tempfile.mkdtemp(dir=self.work)
        out = os.path.join(d, "cg")
        subprocess.run([self.valgrind, "--tool=callgrind", "--compress-strings=no",
                        "--callgrind-out-file=" + out] + argv, env=self._env(env),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        costs, ob, skip = {}, "?", False
        with open(out) as fh:
            for line in fh:
                if line.startswith("ob="):
                    ob = os.path.basename(line[3:].strip())
                elif line.startswith("calls="):
                    skip = True  # the next cost line is the callee's, inclusive
                elif line[:1].isdigit() or line[:1] in "+-*":
                    if skip:
                        skip = False
                        continue
                    parts = line.split()
                    if len(parts) >= 2:
                        costs[ob] = costs.get(ob, 0) + int(parts[1])
        shutil.rmtree(d)
        return sorted(costs.items(), key=lambda kv: -kv[1])


# ---------------------------------------------------------------- cases

class Case:
    """One command at one scale: how to run the request and its floors."""

    def __init__(self, name, scale, query, env, db, statements, check=None):
        self.name, self.scale, self.query, self.env = name, scale, query, env
        self.db, self.statements, self.check = db, statements, check


def cases(work, quick, now, only, rec_scales):
    chans = CHANNEL_SCALES[:1] if quick else CHANNEL_SCALES
    events = EVENT_SCALES[:1] if quick else EVENT_SCALES
    recs = rec_scales or (RECORDING_SCALES[:1] if quick else RECORDING_SCALES)
    if only:
        chans = chans if {"TIMEINFO", "SQL", "CHANTREE"} & only else []
        events = events if "CURRVIEW" in only else []
        recs = recs if "LISTREC" in only else []
    out = []
    chan_dbs = {n: make_channels(work, n) for n in chans}
    for n, db in chan_dbs.items():
        out.append(Case("TIMEINFO", n, "TIMEINFO:", {"PATH_DB_DAT": db}, db, ["SELECT 1"]))
        out.append(Case("SQL:SELECT 1", n, "SQL:SELECT 1", {"PATH_DB_DAT": db}, db,
                        ["SELECT 1"]))
    for n, db in chan_dbs.items():
        out.append(Case("CHANTREE:LISTPROV", n, "CHANTREE:LISTPROV%%20%d" % LISTPROV_SDT,
                        {"PATH_DB_DAT": db}, db, [LISTPROV_SQL]))
    for n, db in chan_dbs.items():
        out.append(Case("CHANTREE:ALLTVCHAN", n, "CHANTREE:ALLTVCHAN%%20%s" % ALLTV_LETTER,
                        {"PATH_DB_DAT": db}, db, [ALLTV_SQL]))
    for n in events:
        db, epg, ch_id, name = make_epg(work, n, now)
        # The main application's two devices as plain files: the question
        # goes into one, the answer is already waiting in the other, so
        # only the request's own work is measured.
        commander = os.path.join(work, "commander")
        weboutput = os.path.join(work, "weboutput")
        open(commander, "w").close()
        with open(weboutput, "w") as f:
            f.write("CUR_CH %s\n" % name)
        env = {"PATH_DB_DAT": db, "PATH_DBEPG_DAT": epg, "PATH_COMMANDER": commander,
               "PATH_WEBOUTPUT": weboutput}
        stmts = ["ATTACH DATABASE '%s' AS epg" % epg,
                 "SELECT ch_id, name FROM channelinfo WHERE name LIKE '%s%%' LIMIT 1" % name,
                 "SELECT start_time, end_time, event_name, story, ext_story1, ext_story2 "
                 "FROM epginfo WHERE ch_id= '%d' AND end_time > %d ORDER BY start_time "
                 "LIMIT 2" % (ch_id, now)]
        out.append(Case("CURRVIEW", n, "CURRVIEW:", env, db, stmts, check=b"<sqlrow>"))
    for n in recs:
        video, db = make_recordings(work, n)
        out.append(Case("LISTREC", n, "LISTREC:", {"PATH_DB_DAT": db, "PATH_VIDEO": video},
                        db, [MEDIA_SCAN_SQL], check=b"<playtime>"))
    return out


def shell_argv(tools, case):
    return [tools.sqlite3, case.db, ";\n".join(case.statements) + ";"]


def measure(tools, case, runs):
    row = {"case": case}
    req = [tools.request]
    env = dict(case.env, QUERY_STRING=case.query)
    status, body = tools.run_once(req, env)
    row["ok"] = status == 0 and b"ERROR:" not in body and (
        case.check is None or case.check in body)
    row["req_ir"] = tools.instructions(req, env)
    row["req_wall"], row["req_rss"] = tools.wall(req, env, runs)
    if tools.sqlite3:
        sh = shell_argv(tools, case)
        row["sh_ir"] = tools.instructions(sh, {})
        row["sh_wall"], row["sh_rss"] = tools.wall(sh, {}, runs)
    if tools.min_prog:
        mn = [tools.min_prog, case.db] + case.statements
        row["min_ir"] = tools.instructions(mn, {})
        row["min_wall"], _ = tools.wall(mn, {}, runs)
    return row


# ---------------------------------------------------------------- printing

def fmt_ir(v):
    return "-" if v is None else "{:,}".format(v)


def fmt_ms(v):
    return "-" if v is None else "%.2f" % (v * 1000)


def ratio(a, b):
    return "-" if not a or not b else "%.2f" % (a / b)


def print_table(rows, exit_ir, exit_wall):
    base = {}
    for r in rows:
        if r["case"].name == "TIMEINFO" and r.get("req_ir"):
            base.setdefault("ir", r["req_ir"])
    head = ("%-19s %8s %13s %13s %11s %6s %9s %9s %9s %6s %8s %s" % (
        "command", "scale", "request Ir", "shell Ir", "min Ir", "Ir/sh",
        "req ms", "shell ms", "min ms", "ms/sh", "peak KiB", "growth"))
    print(head)
    print("-" * len(head))
    prev = None
    for r in rows:
        c = r["case"]
        growth = ""
        if prev is not None and prev["case"].name == c.name and base.get("ir") and \
                r.get("req_ir") and prev.get("req_ir"):
            a = prev["req_ir"] - base["ir"]
            b = r["req_ir"] - base["ir"]
            if a > 0 and b > 0 and c.scale != prev["case"].scale:
                k = math.log(b / a) / math.log(c.scale / prev["case"].scale)
                growth = "n^%.2f" % k
        print("%-19s %8s %13s %13s %11s %6s %9s %9s %9s %6s %8s %s%s" % (
            c.name, "{:,}".format(c.scale), fmt_ir(r.get("req_ir")), fmt_ir(r.get("sh_ir")),
            fmt_ir(r.get("min_ir")), ratio(r.get("req_ir"), r.get("sh_ir")),
            fmt_ms(r.get("req_wall")), fmt_ms(r.get("sh_wall")), fmt_ms(r.get("min_wall")),
            ratio(r.get("req_wall"), r.get("sh_wall")), r.get("req_rss", "-"), growth,
            "" if r["ok"] else "  (request failed)"))
        prev = r
    print("\nfloor: a static process that only starts and exits: %s Ir, %s ms" % (
        fmt_ir(exit_ir), fmt_ms(exit_wall)))
    print("scales: channels (channel db), events (EPG db, %d channels), entries "
          "(recordings and media_info rows)" % EPG_CHANNELS)


def print_startup(tools, db):
    env = {"PATH_DB_DAT": db, "QUERY_STRING": "TIMEINFO:"}
    print("\nwhere the instructions of TIMEINFO go (self cost per object):")
    for ob, ir in tools.by_object([tools.request], env)[:8]:
        print("  %12s  %s" % ("{:,}".format(ir), ob))
    r = subprocess.run([tools.request], env=tools._env(dict(env, LD_DEBUG="statistics")),
                       capture_output=True, text=True)
    for line in r.stderr.splitlines():
        if "total startup time" in line or "number of relocations:" in line:
            print("  loader:" + line.split(":", 1)[1])


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--quick", action="store_true", help="smallest scale, few runs")
    ap.add_argument("--request", default=os.path.join(ROOT, "build", "request"))
    ap.add_argument("--runs", type=int, help="runs per wall-time median")
    ap.add_argument("--keep", help="make the data in this directory and keep it")
    ap.add_argument("--startup", action="store_true", help="show start-up costs")
    ap.add_argument("--only", help="comma-separated: TIMEINFO,SQL,CHANTREE,CURRVIEW,LISTREC")
    ap.add_argument("--recordings", help="comma-separated entry counts of LISTREC")
    a = ap.parse_args(argv)
    runs = a.runs or (5 if a.quick else 41)
    if not os.access(a.request, os.X_OK):
        print("no request program at %s (build first, or give --request)" % a.request,
              file=sys.stderr)
        return 2
    work = a.keep or tempfile.mkdtemp(prefix="bench-request-")
    os.makedirs(work, exist_ok=True)
    try:
        tools = Tools(work, os.path.abspath(a.request))
        now = int(time.time())
        t0 = time.time()
        only = set(a.only.split(",")) if a.only else None
        recs = [int(v) for v in a.recordings.split(",")] if a.recordings else None
        all_cases = [c for c in cases(work, a.quick, now, only, recs)
                     if not only or c.name.split(":")[0] in only]
        print("data made in %.1f s in %s; %d runs per median%s" % (
            time.time() - t0, work, runs,
            "" if tools.valgrind else "; no valgrind: no instruction counts"))
        rows = [measure(tools, c, runs) for c in all_cases]
        exit_ir = exit_wall = None
        if tools.exit_prog:
            exit_ir = tools.instructions([tools.exit_prog], {})
            exit_wall, _ = tools.wall([tools.exit_prog], {}, runs)
        print()
        print_table(rows, exit_ir, exit_wall)
        if a.startup and tools.valgrind:
            print_startup(tools, all_cases[0].db)
        return 0 if all(r["ok"] for r in rows) else 1
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

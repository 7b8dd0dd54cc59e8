"""Starts and stops the demo receiver (demo/run.sh) for the tests in this folder.

Each Demo lives in a temporary directory of its own on a free loopback port,
so tests of the normal and the sanitizer build can run side by side.
"""
import os
import shutil
import sqlite3
import subprocess
import tempfile
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RUN_SH = os.path.join(SOURCE_DIR, "demo", "run.sh")
# CTest's code for a skipped test.
SKIP = 77


def lighttpd_missing():
    return not (shutil.which("lighttpd") or os.path.exists("/usr/sbin/lighttpd"))


def have_mivano_standin():
    return os.path.exists(os.path.join(SOURCE_DIR, "scripts", "mivano-standin"))


def as_printed(text):
    """A database text as request prints it: cut at its first '>' or control byte."""
    for i, c in enumerate(text):
        if c == ">" or ord(c) < 0x20:
            return text[:i]
    return text


def wait_for(condition, timeout=20, what="condition"):
    """Polls `condition` until it gives a true value and returns that value."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie is gone as far as the demo is concerned.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[-1][:1] != "Z"
    except OSError:
        return False


class Demo:
    """A running demo receiver; stop() ends it and removes its directory."""

    def __init__(self, request, auth=None, vux2mpeg=""):
        """vux2mpeg: the converter for the demo's converted recording ("" for none)."""
        self.dir = tempfile.mkdtemp(prefix="demo-test-")
        cmd = [RUN_SH, "--background", "--dir", self.dir, "--request", request,
               "--vux2mpeg", vux2mpeg]
        if auth:
            cmd += ["--auth", auth]
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            shutil.rmtree(self.dir, ignore_errors=True)
            raise AssertionError("demo/run.sh failed:\n" + done.stdout)
        self.port = int(self.read("run/port"))
        self.base = "http://127.0.0.1:%d" % self.port
        self.pids = [int(p) for p in self.read("run/pids").split()]

    def path(self, rel):
        return os.path.join(self.dir, rel)

    def read(self, rel):
        with open(self.path(rel)) as f:
            return f.read()

    def stop(self, remove=True):
        subprocess.run([RUN_SH, "--stop", "--dir", self.dir], check=True)
        if remove:
            shutil.rmtree(self.dir, ignore_errors=True)

    def get(self, path, opener=None):
        """(status, headers, body bytes) of a GET; HTTP errors are answers too."""
        try:
            with (opener or urllib.request.build_opener()).open(self.base + path,
                                                               timeout=15) as resp:
                return resp.status, resp.headers, resp.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def command(self, text):
        """Runs a command text (already URL-escaped) through the server; the root element."""
        status, headers, body = self.get("/cgi-bin/request?" + text)
        assert status == 200, (text, status, body)
        assert headers.get_content_type() == "text/xml", (text, headers.get("Content-Type"))
        try:
            root = ET.fromstring(body)
        except ET.ParseError as e:
            raise AssertionError("%s: not well-formed XML (%s): %r" % (text, e, body[:300]))
        assert root.tag == "tree", (text, root.tag)
        return root

    def db(self):
        return sqlite3.connect(self.path("chan.db"))

    def epg(self):
        return sqlite3.connect(self.path("epg.db"))

    def current_event(self, ch_id, now):
        """The EPG's running event of a channel: (event_name, start_time)."""
        return self.epg().execute(
            "SELECT event_name, start_time FROM epginfo WHERE ch_id = ? AND end_time > ? "
            "ORDER BY start_time LIMIT 1", (ch_id, now)).fetchone()

    def expected_recordings(self, sub):
        """Entry names LISTREC must show for a directory: all but the skipped ones."""
        return sorted(n for n in os.listdir(self.path(sub))
                      if ".index" not in n and not n.startswith(".") and not n.startswith("dead."))

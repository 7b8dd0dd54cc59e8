#!/usr/bin/env python3
"""The demo receiver through its real web server: every link the front end
fetches, every command, the power stand-ins, and the digest-protected
configuration of README.

usage: http_test.py REQUEST_BINARY [VUX2MPEG_BINARY]
"""
import os
import socket
import sys
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
from collections import deque

import demo_harness as h

REQUEST = None
VUX2MPEG = ""
CONVERTED = "Converted_recording.mpg"


class DemoOverHttp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.demo = h.Demo(REQUEST, vux2mpeg=VUX2MPEG)

    @classmethod
    def tearDownClass(cls):
        cls.demo.stop()

    def test_every_tree_link_answers_xml_that_matches_the_database(self):
        # Walk the channel tree the way the front end opens it, from the
        # root menu through every src link (letters only a and b).
        demo, db = self.demo, self.demo.db()
        seen, queue = set(), deque(["CHANTREE:"])
        channels = 0
        while queue:
            text = queue.popleft()
            root = demo.command(text)
            for node in root.iter("tree"):
                src = node.get("src")
                if src is None:
                    continue
                self.assertTrue(src.startswith("/cgi-bin/request?"), src)
                link = src[len("/cgi-bin/request?"):]
                letter = link.rsplit("%20", 1)[-1]
                if "CHAN%20" in link and letter not in ("a", "b"):
                    continue
                if link not in seen:
                    seen.add(link)
                    queue.append(link)
            if text.startswith("CHANTREE:LISTPROV%20"):
                # The "%20" of the link must reach request as a blank.
                sdt_id = int(text.rsplit("%20", 1)[1])
                want = [r[0] for r in db.execute(
                    "SELECT name FROM channelinfo WHERE sdt_id = ? ORDER BY name", (sdt_id,))]
                got = [n.get("text") for n in root.findall("tree")]
                self.assertEqual(got, want, text)
                channels += len(got)
                for n in root.findall("tree"):
                    self.assertRegex(n.get("action"), r"^javascript:remote_change_channel\(\d+\)$")
        providers = db.execute("SELECT count(*) FROM sdtinfo").fetchone()[0]
        self.assertEqual(sum(1 for s in seen if s.startswith("CHANTREE:LISTPROV%20")), providers)
        self.assertEqual(channels, db.execute("SELECT count(*) FROM channelinfo").fetchone()[0])
        for kind in ("INFAV", "FAVLISTS", "LISTFAV%20", "SATELLITES", "LISTSATTV%20",
                     "LISTSATRADIO%20", "SALLTV", "ALLTVCHAN%20a", "SALLRADIO", "ALLRADIOCHAN%20b"):
            self.assertTrue(any(s.startswith("CHANTREE:" + kind) for s in seen), kind)

    def test_recording_lists(self):
        demo = self.demo
        db = demo.db()
        for arg, sub in (("", "video"), ("audio", "audio")):
            with self.subTest(arg=arg):
                rows = demo.command("LISTREC:" + arg).findall("reclistrow")
                names = sorted(os.path.basename(r.findtext("filename")) for r in rows)
                self.assertEqual(names, demo.expected_recordings(sub))
                for r in rows:
                    path = r.findtext("filename")
                    st = os.stat(path)
                    self.assertEqual(int(r.findtext("size")), st.st_size, path)
                    self.assertEqual(int(r.findtext("lastmod")), int(st.st_mtime), path)
                    media = db.execute("SELECT play_time, lock FROM media_info WHERE file_name "
                                       "LIKE ?", ("%/" + os.path.basename(path),)).fetchone()
                    if media:
                        self.assertEqual((int(r.findtext("playtime")), int(r.findtext("lock"))),
                                         media, path)
                    else:
                        self.assertIsNone(r.find("playtime"), path)
        sizes = [int(r.findtext("size")) for r in demo.command("LISTREC:").findall("reclistrow")]
        self.assertGreater(max(sizes), 4 << 30, "the large sparse recording")

    def test_converted_recording_is_listed_as_a_program_stream(self):
        if not (VUX2MPEG and h.shutil.which("ffmpeg")):
            self.skipTest("vux2mpeg or ffmpeg missing")
        rows = {os.path.basename(r.findtext("filename")): r
                for r in self.demo.command("LISTREC:").findall("reclistrow")}
        self.assertIn(CONVERTED, rows)
        self.assertEqual(rows[CONVERTED].findtext("playtime"), self.demo.read("run/vux/playtime").strip())
        with open(self.demo.path("video/" + CONVERTED), "rb") as f:
            data = f.read()
        self.assertGreater(len(data), 0)
        self.assertEqual(len(data) % 2048, 0)
        self.assertEqual(data[:4], b"\x00\x00\x01\xba")

    def test_status_commands_in_one_request(self):
        before = int(time.time())
        root = self.demo.command("TIMEINFO:;DISKSTAT:;CHECKON:")
        self.assertEqual([c.tag for c in root], ["time", "part", "powerstat"])
        self.assertLessEqual(abs(int(root.findtext("time/epochtime")) - before), 5)
        size, used, free = (int(root.findtext("part/" + k)) for k in ("size", "used", "free"))
        self.assertGreater(size, 0)
        self.assertEqual(used + free, size)
        self.assertEqual(root.findtext("powerstat/db"), "writable")
        self.assertEqual(root.findtext("powerstat/media"), "mounted")
        self.assertEqual(root.findtext("powerstat/mivano"), "on" if h.have_mivano_standin() else "off")

    def test_sql_with_escapes_and_the_epg(self):
        demo = self.demo
        cases = [
            ("SELECT count(*) AS n FROM channelinfo", demo.db(), "SELECT count(*) FROM channelinfo"),
            ("SELECT count(*) AS n FROM epg.epginfo", demo.epg(), "SELECT count(*) FROM epginfo"),
            ("SELECT name AS n FROM channelinfo WHERE name LIKE '%a%' ORDER BY ch_order LIMIT 1",
             demo.db(), "SELECT name FROM channelinfo WHERE name LIKE '%a%' ORDER BY ch_order LIMIT 1"),
        ]
        for sql, con, check in cases:
            with self.subTest(sql=sql):
                root = demo.command(urllib.parse.quote("SQL:" + sql, safe=":"))
                self.assertEqual(root.findtext("row/n"), str(con.execute(check).fetchone()[0]))

    @unittest.skipUnless(h.have_mivano_standin(), "the main application's stand-in is not built")
    def test_channel_switch_reaches_the_current_programme(self):
        demo = self.demo
        for ch_order in (7, 42):
            with self.subTest(ch_order=ch_order):
                status, _, body = demo.get("/cgi-bin/demo-switch?%d" % ch_order)
                self.assertEqual(status, 200, body)
                ch_id, name = demo.db().execute(
                    "SELECT ch_id, name FROM channelinfo WHERE ch_order = ?", (ch_order,)).fetchone()
                now = int(time.time())
                rows = demo.command("CURRVIEW:").findall("sqlrow")
                self.assertEqual(len(rows), 2)
                self.assertEqual({r.findtext("ch_name") for r in rows}, {name})
                title, start = demo.current_event(ch_id, now)
                # An event may end in the second between the two reads.
                if int(rows[0].findtext("start_time")) == start:
                    self.assertEqual(rows[0].findtext("event_name"), h.as_printed(title))

    def test_power_actions_only_reach_the_stand_ins(self):
        log = self.demo.path("log/actions.log")
        cases = [
            ("STANDBY", "sendkey [CLICK POWER]"),
            ("SWITCHON", "killall [front_pwr_manager]"),
            ("REBOOT", "front_ioctl [--job] [reboot]"),
            ("POWEROFF", "front_ioctl [--job] [poweroff]"),
            ("standby", None),
            ("STANDBY%20", None),
        ]
        for action, line in cases:
            with self.subTest(action=action):
                size = os.path.getsize(log) if os.path.exists(log) else 0
                root = self.demo.command("POWER:" + action)
                self.assertEqual(len(root), 0)
                with open(log) if os.path.exists(log) else open(os.devnull) as f:
                    f.seek(size)
                    new = f.read().splitlines()
                if line is None:
                    self.assertEqual(new, [])
                else:
                    self.assertEqual(len(new), 1, new)
                    self.assertTrue(new[0].endswith(" " + line), new)

    def test_only_the_two_programs_run_under_cgi_bin(self):
        log = self.demo.path("log/actions.log")
        before = self.demo.read("log/actions.log") if os.path.exists(log) else ""
        cases = [
            ("/cgi-bin/sendkey", 403),
            ("/cgi-bin/sendkey?CLICK%20POWER", 403),
            ("/cgi-bin/demo-switch?x", 400),
            ("/cgi-bin/demo-switch?99999", 404),
            ("/", 200),
            ("/img/tv_fta.gif", 200),
        ]
        for path, status in cases:
            with self.subTest(path=path):
                self.assertEqual(self.demo.get(path)[0], status)
        after = self.demo.read("log/actions.log") if os.path.exists(log) else ""
        self.assertEqual(after, before, "a stand-in ran over HTTP")


def digest_get(demo, path, challenge_headers, user, password):
    """The status of one GET answering the server's digest challenge (MD5, qop auth)."""
    import hashlib
    import re
    challenge = challenge_headers.get("WWW-Authenticate")
    params = dict(re.findall(r'(\w+)="?([^",]*)"?', challenge))
    md5 = lambda t: hashlib.md5(t.encode()).hexdigest()
    ha1 = md5("%s:%s:%s" % (user, params["realm"], password))
    ha2 = md5("GET:" + path)
    cnonce, nc = "0a4f113b", "00000001"
    response = md5(":".join([ha1, params["nonce"], nc, cnonce, "auth", ha2]))
    auth = ('Digest username="%s", realm="%s", nonce="%s", uri="%s", algorithm=MD5, '
            'qop=auth, nc=%s, cnonce="%s", response="%s"') % (
        user, params["realm"], params["nonce"], path, nc, cnonce, response)
    req = urllib.request.Request(demo.base + path, headers={"Authorization": auth})
    try:
        with urllib.request.urlopen(req, timeout=15) as resp:
            return resp.status
    except urllib.error.HTTPError as e:
        return e.code


class DigestProtectedRequest(unittest.TestCase):
    def test_request_needs_credentials_and_stop_leaves_nothing(self):
        demo = h.Demo(REQUEST, auth="owner:s3cret")
        try:
            def opener(password):
                mgr = urllib.request.HTTPPasswordMgrWithDefaultRealm()
                mgr.add_password(None, demo.base, "owner", password)
                return urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(mgr))

            status, headers, _ = demo.get("/cgi-bin/request?TIMEINFO:")
            self.assertEqual(status, 401)
            self.assertTrue(headers.get("WWW-Authenticate", "").startswith("Digest "), headers)
            # One attempt each: the server delays every answer to wrong credentials.
            for user, password, want in (("owner", "wrong", 401), ("owner", "s3cret", 200)):
                with self.subTest(password=password):
                    self.assertEqual(digest_get(demo, "/cgi-bin/request?TIMEINFO:", headers,
                                                user, password), want)
            status, headers, body = demo.get("/cgi-bin/request?TIMEINFO:", opener("s3cret"))
            self.assertEqual(status, 200, body)
            self.assertIn(b"<epochtime>", body)
            # The page itself stays open; only the program is protected.
            self.assertEqual(demo.get("/")[0], 200)
        finally:
            demo.stop(remove=False)
        try:
            for pid in demo.pids:
                self.assertFalse(h.pid_alive(pid), "pid %d still runs" % pid)
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", demo.port), timeout=2).close()
        finally:
            h.shutil.rmtree(demo.dir, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    REQUEST = os.path.abspath(sys.argv[1])
    VUX2MPEG = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else ""
    del sys.argv[1:]
    if h.lighttpd_missing():
        print("lighttpd is not installed (scripts/install-deps.sh)")
        sys.exit(h.SKIP)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)

#!/usr/bin/env python3
"""The demo page in a real browser: headless Chromium driven through
chromedriver's WebDriver HTTP interface. Opens the page, opens a provider of
the channel tree, clicks a channel and checks that the tree, the programme
on screen, the recordings, the status and the SQL console show what the
demo receiver holds; then takes a screenshot of the page.

usage: browser_test.py REQUEST_BINARY [SCREENSHOT.png [VUX2MPEG_BINARY]]
"""
import base64
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

import demo_harness as h

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage", "--window-size=1280,1000"]
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
REQUEST = None
SCREENSHOT = None
VUX2MPEG = ""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Browser:
    """One chromedriver with one browser session, spoken to over HTTP."""

    def __init__(self, workdir):
        self.profile = tempfile.mkdtemp(prefix="profile-", dir=workdir)
        port = free_port()
        self.base = "http://127.0.0.1:%d" % port
        self.log = open(os.path.join(workdir, "chromedriver.log"), "w")
        self.driver = subprocess.Popen([CHROMEDRIVER, "--port=%d" % port],
                                       stdout=self.log, stderr=subprocess.STDOUT)
        self.session = None
        h.wait_for(self._ready, 20, "chromedriver")
        caps = {"capabilities": {"alwaysMatch": {
            "browserName": "chrome",
            "goog:chromeOptions": {"binary": CHROMIUM,
                                   "args": FLAGS + ["--user-data-dir=" + self.profile]}}}}
        self.session = self._call("POST", "/session", caps)["sessionId"]

    def _ready(self):
        try:
            return self._call("GET", "/status")["ready"]
        except (OSError, urllib.error.URLError):
            return False

    def _call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=60) as resp:
                return json.load(resp)["value"]
        except urllib.error.HTTPError as e:
            raise AssertionError("WebDriver %s %s: %s" % (method, path, e.read()[:500]))

    def call(self, method, path, body=None):
        return self._call(method, "/session/%s%s" % (self.session, path), body)

    def open(self, url):
        self.call("POST", "/url", {"url": url})

    def js(self, script, *args):
        return self.call("POST", "/execute/sync", {"script": script, "args": list(args)})

    def find(self, xpath):
        return self.call("POST", "/element", {"using": "xpath", "value": xpath})[ELEMENT]

    def click(self, xpath):
        self.call("POST", "/element/%s/click" % self.find(xpath), {})

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("GET", "/screenshot")))

    def close(self):
        try:
            if self.session:
                self.call("DELETE", "")
        finally:
            self.driver.terminate()
            try:
                self.driver.wait(10)
            except subprocess.TimeoutExpired:
                self.driver.kill()
                self.driver.wait()
            self.log.close()


def xpath_literal(text):
    return "'%s'" % text if "'" not in text else 'concat("%s")' % '", "\'", "'.join(text.split("'"))


# The labels and icons of a loaded tree node's children, read in the page.
CHILDREN = """
const li = [...document.querySelectorAll('#tree li')].find(
    l => l.querySelector(':scope > .node .label').textContent === arguments[0]);
if (!li || li.dataset.loaded !== '1') return null;
return [...li.querySelectorAll(':scope > ul > li > .node')].map(n => ({
  text: n.querySelector('.label').textContent,
  icon: (n.querySelector('img') || {}).getAttribute?.('src') || '',
  action: n.querySelector('.label').getAttribute('href')}));
"""


def icon(cas_type, media_mode):
    return "img/%s_%s.gif" % ("radio" if str(media_mode).startswith("1") else "tv",
                              "fta" if str(cas_type).startswith("0") else "enc")


class DemoPageInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.demo = h.Demo(REQUEST, vux2mpeg=VUX2MPEG)
        try:
            cls.browser = Browser(cls.demo.dir)
        except BaseException:
            cls.demo.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            cls.browser.close()
        finally:
            cls.demo.stop()

    def test_page_shows_the_demo_receiver(self):
        b, demo, db = self.browser, self.demo, self.demo.db()
        b.open(demo.base + "/")

        # The root menu of the channel tree.
        roots = h.wait_for(lambda: b.js(
            "return [...document.querySelectorAll('#tree > li > .node .label')]"
            ".map(l => l.textContent)"), what="the tree's root menu")
        self.assertEqual(roots, ["All favourites", "Favourite Lists", "Providers", "Satellites",
                                 "All TV Channels", "All Radio Channels"])

        # Opening Providers lists every provider, as the database names them.
        b.click("//ul[@id='tree']/li/div/span[@class='label' and text()='Providers']")
        providers = h.wait_for(lambda: b.js(CHILDREN, "Providers"), what="the providers")
        want = [r[0] for r in db.execute(
            "SELECT lower(provider_name) FROM sdtinfo ORDER BY lower(provider_name)")]
        self.assertEqual([p["text"] for p in providers], want)

        # Opening the provider with most channels lists its channels with their icons.
        sdt_id, prov = db.execute(
            "SELECT s.sdt_id, lower(s.provider_name) FROM sdtinfo s JOIN channelinfo c "
            "ON c.sdt_id = s.sdt_id GROUP BY s.sdt_id ORDER BY count(*) DESC, s.sdt_id "
            "LIMIT 1").fetchone()
        b.click("//span[@class='label' and text()=%s]" % xpath_literal(prov))
        channels = h.wait_for(lambda: b.js(CHILDREN, prov), what="the provider's channels")
        rows = db.execute("SELECT name, ch_order, cas_type, media_mode, ch_id FROM channelinfo "
                          "WHERE sdt_id = ? ORDER BY name", (sdt_id,)).fetchall()
        self.assertEqual(channels, [
            {"text": n, "icon": icon(cas, mode),
             "action": "javascript:remote_change_channel(%d)" % order}
            for n, order, cas, mode, _ in rows])

        # Clicking a TV channel switches to it and shows its programme.
        name, order, _, _, ch_id = next(r for r in rows if r[3] == 0)
        b.click("//a[@class='label' and text()=%s]" % xpath_literal(name))
        h.wait_for(lambda: demo.read("run/channel").strip() == name, what="the channel switch")
        self.assertTrue(b.js("return document.querySelector('#tree .node.selected .label')"
                             ".textContent === arguments[0]", name))
        if h.have_mivano_standin():
            shown = h.wait_for(lambda: b.js(
                "const c = document.querySelector('#current-body .channel');"
                "return c && c.textContent === arguments[0] && "
                "[...document.querySelectorAll('#current-body .event .title')]"
                ".map(t => t.textContent)", name), what="the programme on screen")
            title, _ = demo.current_event(ch_id, int(time.time()))
            self.assertIn(h.as_printed(title), shown)
        else:
            print("note: no stand-in for the main application; programme panel not checked")

        # The recording list, with sizes, play times and locks made readable.
        expected = demo.expected_recordings("video")
        recs = h.wait_for(lambda: b.js(
            "const r = [...document.querySelectorAll('#reclist tr.recording')].map(tr => "
            "[...tr.cells].map(c => c.textContent));"
            "return r.length === arguments[0] && r", len(expected)), what="the recordings")
        self.assertEqual(sorted(r[0] for r in recs), expected)
        by_name = {r[0]: r for r in recs}
        self.assertEqual(by_name["Late_Movie_HD.vux"][1], "6.3 GiB")
        self.assertEqual(by_name["Late_Movie_HD.vux"][4:], ["3:00:00", "locked"])
        self.assertEqual(by_name["holiday_2006.ts"][1], "734.0 MiB")
        self.assertEqual(by_name["holiday_2006.ts"][4:], ["", ""])
        for r in recs:
            self.assertRegex(r[2], r"^\d{4}-\d\d-\d\d \d\d:\d\d$")

        # Clock, disk and power status.
        status = h.wait_for(lambda: b.js(
            "const s = document.getElementById('powerstat').textContent;"
            "return s && [document.getElementById('clock').textContent, s,"
            "document.querySelector('#disk .figures').textContent,"
            "document.querySelector('#disk .used').style.width]"), what="the status")
        clock, powerstat, disk, width = status
        self.assertRegex(clock, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC[+-]\d\d:\d\d$")
        self.assertIn("database: writable", powerstat)
        self.assertIn("media: mounted", powerstat)
        self.assertRegex(disk, r" used of .* free$")
        self.assertRegex(width, r"^\d+%$")

        # The SQL console's first query: ten channels as a table.
        cells = h.wait_for(lambda: b.js(
            "return [...document.querySelectorAll('#sql-result tbody tr')]"
            ".map(tr => tr.cells[0].textContent)"), what="the SQL result")
        self.assertEqual(cells, [r[0] for r in db.execute(
            "SELECT name FROM channelinfo ORDER BY ch_order LIMIT 10")])
        self.assertEqual(b.js("return [...document.querySelectorAll('#sql-result th')]"
                              ".map(t => t.textContent)"), ["name", "ch_order", "cas_type"])

        if SCREENSHOT:
            b.screenshot(SCREENSHOT)
            with open(SCREENSHOT, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    REQUEST = os.path.abspath(sys.argv[1])
    SCREENSHOT = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    VUX2MPEG = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else ""
    del sys.argv[1:]
    missing = [p for p in (CHROMIUM, CHROMEDRIVER) if not os.access(p, os.X_OK)]
    if h.lighttpd_missing() or missing:
        print("lighttpd, chromium or chromedriver is not installed (scripts/install-deps.sh)")
        sys.exit(h.SKIP)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)

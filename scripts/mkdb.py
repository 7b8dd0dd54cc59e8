#!/usr/bin/env python3
"""Builds a receiver channel database and EPG database for tests and the demo.

The files hold the tables and columns that `request` reads (see
request/commands/receiver_db.h), filled from a compact description of a
world, given as a JSON file or generated (--demo):

  {
    "satellites": [{"sat_id": 1, "name": "Northstar 19.2E"}],
    "providers":  [{"sdt_id": 5, "provider_name": "Alpenfunk"}],
    "channels":   [{"ch_id": 1, "name": "Erstes Programm", "ch_order": 1,
                    "cas_type": 0, "media_mode": 0, "sat_id": 1, "sdt_id": 5}],
    "favgroups":  [{"favgrp_id": 1, "name": "News", "seq": 1,
                    "entries": [{"ch_id": 1, "name": "Erste", "view_flg": 1, "seq": 1}]}],
    "events":     [{"ch_id": 1, "start": -600, "end": 1800, "event_name": "News",
                    "story": "", "ext_story1": "", "ext_story2": ""}],
    "media_info": [{"file_name": "/hdd/video/news.vux", "play_time": 1800, "lock": 0}]
  }

Defaults keep descriptions short: a channel's ch_id and ch_order count from 1
in list order, cas_type and media_mode are 0; a favourite entry is shown
(view_flg 1) under its channel's name, at its position in the list; a group's
seq is its position. An explicit null is stored as SQL NULL. An event gives
start_time/end_time (seconds since 1970) or start/end relative to --now.
Every key is stored as an integer, so the fixed statements' bare-number
comparisons hold even where a key column is declared without a type.

Usage:
  mkdb.py --world world.json --db chan.db [--epg epg.db] [--upper] [--untyped-keys]
  mkdb.py --demo [--seed N] [--channels N] [--now T] --db chan.db [--epg epg.db]
  mkdb.py --demo --dump              (prints the generated world as JSON)

Existing output files are replaced.
"""

import argparse
import json
import os
import random
import sqlite3
import sys
import time

# Table -> [(column, type, is_key)]. The names are those the receiver uses.
CHANNEL_TABLES = {
    "channelinfo": [("ch_id", "INTEGER", True), ("name", "TEXT", False),
                    ("ch_order", "INTEGER", False), ("cas_type", "INTEGER", False),
                    ("media_mode", "INTEGER", False), ("sat_id", "INTEGER", True),
                    ("sdt_id", "INTEGER", True)],
    "SATInfo": [("sat_id", "INTEGER", True), ("name", "TEXT", False)],
    "sdtinfo": [("sdt_id", "INTEGER", True), ("provider_name", "TEXT", False)],
    "favlistinfo": [("ch_id", "INTEGER", True), ("name", "TEXT", False),
                    ("view_flg", "INTEGER", False), ("favgrp_id", "INTEGER", True),
                    ("favlist_seq", "INTEGER", False)],
    "FAVGRPInfo": [("FAVGRP_ID", "INTEGER", True), ("Name", "TEXT", False),
                   ("FAVGRP_Seq", "INTEGER", False)],
    "media_info": [("file_name", "TEXT", False), ("play_time", "INTEGER", False),
                   ("lock", "INTEGER", False)],
}
EPG_TABLES = {
    "epginfo": [("ch_id", "INTEGER", True), ("start_time", "INTEGER", False),
                ("end_time", "INTEGER", False), ("event_name", "TEXT", False),
                ("story", "TEXT", False), ("ext_story1", "TEXT", False),
                ("ext_story2", "TEXT", False)],
}


def _ident(name, upper):
    return '"%s"' % (name.upper() if upper else name)


def _create(con, tables, upper, untyped_keys):
    for table, cols in tables.items():
        defs = []
        for col, typ, is_key in cols:
            defs.append(_ident(col, upper) + ("" if untyped_keys and is_key else " " + typ))
        con.execute("CREATE TABLE %s (%s)" % (_ident(table, upper), ", ".join(defs)))


def _insert(con, tables, table, row, upper):
    cols = [c for c, _, _ in tables[table]]
    con.execute("INSERT INTO %s (%s) VALUES (%s)" % (
        _ident(table, upper), ", ".join(_ident(c, upper) for c in cols),
        ", ".join("?" * len(cols))), [row.get(c) for c in cols])


def _fresh(path):
    for p in (path, path + "-journal", path + "-wal", path + "-shm"):
        if os.path.exists(p):
            os.remove(p)
    return sqlite3.connect(path)


def channel_rows(world):
    """The rows of every channel-database table, defaults filled in."""
    rows = {t: [] for t in CHANNEL_TABLES}
    for s in world.get("satellites", []):
        rows["SATInfo"].append(s)
    for p in world.get("providers", []):
        rows["sdtinfo"].append(p)
    names = {}
    for i, c in enumerate(world.get("channels", []), 1):
        c = dict(c)
        c.setdefault("ch_id", i)
        c.setdefault("ch_order", i)
        c.setdefault("cas_type", 0)
        c.setdefault("media_mode", 0)
        names[c["ch_id"]] = c.get("name")
        rows["channelinfo"].append(c)
    for gi, g in enumerate(world.get("favgroups", []), 1):
        gid = g.get("favgrp_id", gi)
        rows["FAVGRPInfo"].append({"FAVGRP_ID": gid, "Name": g.get("name"),
                                   "FAVGRP_Seq": g.get("seq", gi)})
        for ei, e in enumerate(g.get("entries", []), 1):
            rows["favlistinfo"].append({
                "ch_id": e["ch_id"], "name": e.get("name", names.get(e["ch_id"])),
                "view_flg": e.get("view_flg", 1), "favgrp_id": gid,
                "favlist_seq": e.get("seq", ei)})
    for m in world.get("media_info", []):
        rows["media_info"].append(m)
    return rows


def event_rows(world, now):
    out = []
    for e in world.get("events", []):
        e = dict(e)
        if "start_time" not in e and "start" in e:
            e["start_time"] = now + e["start"]
        if "end_time" not in e and "end" in e:
            e["end_time"] = now + e["end"]
        out.append(e)
    return out


def build(world, db, epg=None, upper=False, untyped_keys=False, now=None):
    """Writes the channel database to `db` and, when given, the EPG database to `epg`."""
    now = int(time.time()) if now is None else int(now)
    con = _fresh(db)
    _create(con, CHANNEL_TABLES, upper, untyped_keys)
    for table, rows in channel_rows(world).items():
        for r in rows:
            _insert(con, CHANNEL_TABLES, table, r, upper)
    con.commit()
    con.close()
    if epg:
        con = _fresh(epg)
        _create(con, EPG_TABLES, upper, untyped_keys)
        for r in event_rows(world, now):
            _insert(con, EPG_TABLES, "epginfo", r, upper)
        con.commit()
        con.close()


# Names for the generated demo world.
_SATS = ["Northstar 19.2E", "Kestrel 13.0E", "Westlink 5W", "Polaris 0.8W"]
_PROVIDERS = ["Alpenfunk", "Zenit Vision", "Delta Digital", "Cosmosat", "Skyline Media", "Brightwave",
              "Orfeo", "Seeland SRS", "Medianova", "Raggio", "Tevepol", "Kanal+", "Melody Networks",
              "Explorer", "Radio Lumiere", "Landfunk"]
_TV_WORDS = ["News", "Sport", "Cinema", "Kids", "Music", "Doku", "Comedy", "Travel",
             "Atelier", "Info", "Nature", "History", "Action", "Family", "Classic",
             "Weather", "Shop", "Gold", "Premiere", "Zone", "Xtra", "Vision", "Quiz",
             "Jazz", "Opera", "Economy", "Lifestyle", "Motor", "Yacht", "Eins"]
_RADIO_WORDS = ["Radio", "FM", "Klassik", "Pop", "Rock", "Jazz", "Info", "Welle",
                "Kultur", "Hits", "Oldies", "Dance", "Country", "Lounge", "Talk"]
_TITLES = ["Morning News", "Weather", "Late Movie", "Football Live", "Documentary",
           "Talk Show", "Concert", "Quiz Night", "Cartoons", "Cooking & Co",
           "History <Extra>", "Travel Diary", "Evening News", "Series: Episode"]


def demo_world(seed=1, channels=300, now=None):
    """A generated world: some hundred channels, EPG events around `now`."""
    rnd = random.Random(seed)
    now = int(time.time()) if now is None else int(now)
    sats = [{"sat_id": i + 1, "name": n} for i, n in enumerate(_SATS)]
    provs = [{"sdt_id": 100 + i, "provider_name": n} for i, n in enumerate(_PROVIDERS)]
    chans, used = [], set()
    for i in range(1, channels + 1):
        radio = rnd.random() < 0.3
        words = _RADIO_WORDS if radio else _TV_WORDS
        while True:
            name = "%s %s" % (rnd.choice(_PROVIDERS).split()[0], rnd.choice(words))
            if rnd.random() < 0.2:
                name += " %d" % rnd.randint(1, 9)
            if name not in used:
                break
        used.add(name)
        chans.append({"ch_id": i, "name": name, "ch_order": i,
                      "cas_type": 0 if rnd.random() < 0.6 else rnd.choice([1, 256, 1280]),
                      "media_mode": 1 if radio else 0,
                      # the last satellite keeps no channels
                      "sat_id": rnd.randint(1, len(_SATS) - 1),
                      "sdt_id": rnd.choice(provs)["sdt_id"]})
    groups = []
    for gi, gname in enumerate(["Favourites", "News & Info", "Radio", "Kids", "Hidden"], 1):
        picks = rnd.sample(chans, min(len(chans), rnd.randint(5, 15)))
        if gname == "Radio":
            picks = [c for c in chans if c["media_mode"] == 1][:12]
        groups.append({"favgrp_id": gi, "name": gname, "seq": gi, "entries": [
            {"ch_id": c["ch_id"], "name": c["name"],
             "view_flg": 0 if gname == "Hidden" else 1} for c in picks]})
    events = []
    for c in chans:
        t = now - rnd.randint(600, 3 * 3600)
        while t < now + 6 * 3600:
            length = rnd.choice([900, 1800, 2700, 3600, 5400, 7200])
            title = rnd.choice(_TITLES)
            events.append({"ch_id": c["ch_id"], "start_time": t, "end_time": t + length,
                           "event_name": title, "story": "%s on %s" % (title, c["name"]),
                           "ext_story1": "More about %s." % title, "ext_story2": ""})
            t += length
    media = [{"file_name": "/hdd/video/%s.vux" % c["name"].replace(" ", "_"),
              "play_time": rnd.randint(600, 7200), "lock": rnd.randint(0, 1)}
             for c in chans[:8]]
    return {"satellites": sats, "providers": provs, "channels": chans,
            "favgroups": groups, "events": events, "media_info": media}


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    src = ap.add_mutually_exclusive_group(required=True)
    src.add_argument("--world", help="JSON description of the world ('-' for stdin)")
    src.add_argument("--demo", action="store_true", help="generate a demo world")
    ap.add_argument("--db", help="channel database to write")
    ap.add_argument("--epg", help="EPG database to write")
    ap.add_argument("--upper", action="store_true",
                    help="create table and column names in upper case")
    ap.add_argument("--untyped-keys", action="store_true",
                    help="declare key columns without a type")
    ap.add_argument("--seed", type=int, default=1, help="seed of --demo")
    ap.add_argument("--channels", type=int, default=300, help="channel count of --demo")
    ap.add_argument("--now", type=int, help="current time, seconds since 1970")
    ap.add_argument("--dump", action="store_true", help="print the world as JSON")
    a = ap.parse_args(argv)
    if a.demo:
        world = demo_world(a.seed, a.channels, a.now)
    elif a.world == "-":
        world = json.load(sys.stdin)
    else:
        with open(a.world, encoding="utf-8") as f:
            world = json.load(f)
    if a.dump:
        json.dump(world, sys.stdout, indent=1, ensure_ascii=False)
        sys.stdout.write("\n")
    if a.db:
        build(world, a.db, a.epg, a.upper, a.untyped_keys, a.now)
    elif not a.dump:
        ap.error("--db is required")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

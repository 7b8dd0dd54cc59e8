#!/usr/bin/env python3
"""Fills the demo receiver's recording directories and their media rows.

The channel database built by mkdb.py --demo already names some video
recordings in media_info; this makes a file for each of them in the video
directory, adds a few entries the recording list treats specially (one
larger than 4 GiB, one without a media row, index and dead files it skips)
and audio recordings with rows of their own. Sizes are made with sparse
files, so the demo costs almost no disk. Times lie in the last weeks.

usage: mkrecordings.py --db chan.db --video DIR --audio DIR [--now T]
                       [--extra NAME:PLAYTIME ...]
  --extra adds a media row for a file that the caller puts into the video
  directory itself (the converted recording).
"""
import argparse
import os
import sqlite3
import time

KIB, MIB, GIB = 1 << 10, 1 << 20, 1 << 30
# Bytes a broadcast recording takes per second of play time, roughly.
VIDEO_RATE = 600 * KIB
AUDIO_RATE = 24 * KIB

# Video files beside those the database names: (name, size, play_time, lock);
# play_time None means no media row.
EXTRA_VIDEO = [
    ("Late_Movie_HD.vux", 6 * GIB + 317 * MIB, 10800, 1),
    ("holiday_2006.ts", 734 * MIB, None, 0),
]
# Entries the recording list must not show.
SKIPPED_VIDEO = ["Late_Movie_HD.vux.index", "dead.old_recording.vux", ".hidden"]
AUDIO = [
    ("Radio_Klassik_concert.mp2", 5400, 0),
    ("Jazz_night.mp2", 3600, 0),
    ("Morning_talk.mp2", 1800, 1),
]


def make_file(path, size, when):
    """A sparse file of `size` bytes with a little real data at the start."""
    with open(path, "wb") as f:
        f.write(b"\x00\x00\x01\xba" + os.path.basename(path).encode())
        f.truncate(size)
    # Recorded at `when`, last played a day later.
    os.utime(path, (when + 86400, when))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--db", required=True)
    ap.add_argument("--video", required=True)
    ap.add_argument("--audio", required=True)
    ap.add_argument("--now", type=int, default=int(time.time()))
    ap.add_argument("--extra", action="append", default=[])
    a = ap.parse_args()
    os.makedirs(a.video, exist_ok=True)
    os.makedirs(a.audio, exist_ok=True)

    con = sqlite3.connect(a.db)
    rows = con.execute("SELECT file_name, play_time FROM media_info").fetchall()
    day = 86400
    for i, (file_name, play_time) in enumerate(rows):
        name = os.path.basename(file_name)
        make_file(os.path.join(a.video, name), play_time * VIDEO_RATE, a.now - (i + 1) * 2 * day)
    for i, (name, size, play_time, lock) in enumerate(EXTRA_VIDEO):
        make_file(os.path.join(a.video, name), size, a.now - (i + 3) * 5 * day)
        if play_time is not None:
            con.execute("INSERT INTO media_info (file_name, play_time, lock) VALUES (?, ?, ?)",
                        ("/hdd/video/" + name, play_time, lock))
    for name in SKIPPED_VIDEO:
        make_file(os.path.join(a.video, name), 4 * KIB, a.now - day)
    for i, (name, play_time, lock) in enumerate(AUDIO):
        make_file(os.path.join(a.audio, name), play_time * AUDIO_RATE, a.now - (i + 1) * 3 * day)
        con.execute("INSERT INTO media_info (file_name, play_time, lock) VALUES (?, ?, ?)",
                    ("/hdd/audio/" + name, play_time, lock))
    for extra in a.extra:
        name, play_time = extra.rsplit(":", 1)
        con.execute("INSERT INTO media_info (file_name, play_time, lock) VALUES (?, ?, 0)",
                    ("/hdd/video/" + name, int(play_time)))
    con.commit()
    con.close()


if __name__ == "__main__":
    main()

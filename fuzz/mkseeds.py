#!/usr/bin/env python3
"""Seed corpora of the fuzz targets, written at build or test time.

  mkseeds.py DIR
      Writes DIR/<target>/<name> for every fuzz target: command texts,
      values to escape, PES streams of every kind the scanner and writer
      know, and containers made with the project's fixture maker
      (scripts/mkvux.py), whole, in random area sizes and cut short.
"""
import importlib.util
import os
import random
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
found = importlib.util.spec_from_file_location(
    "mkvux", os.path.join(HERE, "..", "scripts", "mkvux.py"))
mkvux = importlib.util.module_from_spec(found)
found.loader.exec_module(mkvux)

COMMANDS = [
    b"SQL:SELECT 1", b"SQL:SELECT * FROM t;LISTREC:;CHANTREE:", b"  SQL:a%3Bb;;",
    b"LISTREC:audio", b"CURRVIEW:", b"POWER:reboot", b"SQL%3ASELECT%201",
    b"TIMEINFO;DISKSTAT:;x", b"%", b"%4", b"%41%zz+%4g%%41", b"sql:select 'a;b'; ;:",
    b"CHECKON:;;;CHANTREE:1", b";:;:", b"   ",
]
ANSWERS = [
    b"CUR_CH Erstes Programm\n", b"CUR_CH", b"CUR_CH\n", b"CUR_CH \n", b"CUR_CH:x\0y\nz",
    b"cur_ch x\n", b"\nCUR_CH x\n", b"CUR_C", b"CUR_CH " + b"n" * 300 + b"\n", b"",
]
VALUES = [
    b"plain", b"a<b&c>d", b"tab\there", "Gr\u00fc\u00dfe".encode(), b"&amp;&lt;", b"\x01x",
    b"x\x00y<", b"\x7f\x80\xff&", b"<<<&&&>", b"",
]


def pes(sid, header_data=b"", payload=b"", flags=0x00, length0=False, marker=0x80):
    n = 3 + len(header_data) + len(payload)
    return (b"\x00\x00\x01" + bytes([sid]) + struct.pack(">H", 0 if length0 else n) +
            bytes([marker, flags, len(header_data)]) + header_data + payload)


def short_pes(sid, payload, length0=False):
    return (b"\x00\x00\x01" + bytes([sid]) +
            struct.pack(">H", 0 if length0 else len(payload)) + payload)


def pattern(n, seed=0):
    return bytes(0x20 + (i * 7 + seed) % 200 for i in range(n))


PTS = mkvux.pts_bytes(90000)
DTS = bytes([0x11]) + PTS[1:]


def streams():
    """Named PES streams: each kind of packet, alone and together."""
    s = {
        "pts": pes(0xE0, PTS, pattern(500), 0x80),
        "pts_dts": pes(0xE0, PTS[:1].replace(b"\x21", b"\x31") + PTS[1:] + DTS,
                       pattern(800, 1), 0xC0),
        "length0_pair": pes(0xE0, PTS, pattern(3000, 2), 0x80, length0=True) +
                        pes(0xE0, PTS, pattern(40, 3), 0x80, length0=True) +
                        short_pes(0xBE, b"\xff" * 4),
        "short_forms": b"".join(short_pes(i, pattern(k, i)) for i, k in
                                [(0xBE, 10), (0xBF, 2030), (0xF0, 2025), (0xF8, 4100)]),
        "split": pes(0xC0, PTS, pattern(6000, 4), 0x80),
        "near_full": b"".join(pes(0xE0, bytes(c), pattern(n - 9 - c, 5))
                              for n, c in [(2029, 250), (2033, 255), (2034, 0), (2028, 3)]),
        "broken": pes(0xE0, b"", b"", 0)[:8] + pes(0xE0, bytes(10), b"")[:12] +
                  b"\x00\x00\x01\xe0\x00\x02\x80\x00" + pes(0xE0, b"", pattern(9)),
        "noise_between": pattern(30) + pes(0xE0, b"", pattern(100)) + b"\x00\x00\x01\xb3" +
                         b"\x00\x00" + pes(0xC0, PTS, pattern(60), 0x80, marker=0x40) +
                         pes(0xC0, PTS, pattern(60), 0x80),
    }
    return s


def containers(video, audio):
    c = {
        "whole": mkvux.wrap(video, audio),
        "long_blocks": mkvux.wrap(video, audio, fmt=1, video_size=9000, audio_size=3000),
        "random_sizes": mkvux.wrap(video, audio, seed=7),
        "small_areas": mkvux.wrap(video[:9000], audio[:3000], video_size=1500, audio_size=700),
    }
    c["cut"] = c["long_blocks"][:-20000]
    c["header_only"] = c["whole"][:mkvux.HEADER]
    return c


def compact(video, audio, sizes, fmt=0):
    """A container in blocks_fuzz's form: format byte, then per block the
    two size fields and the area bytes."""
    out = bytearray([fmt])
    v = a = 0
    for vs, as_ in sizes:
        out += struct.pack(">HH", vs, as_)
        out += video[v:v + min(vs, mkvux.VIDEO_MAX)]
        v += min(vs, mkvux.VIDEO_MAX)
        out += audio[a:a + min(as_, mkvux.AUDIO_MAX)]
        a += min(as_, mkvux.AUDIO_MAX)
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]

    def put(target, name, data):
        d = os.path.join(root, target)
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)

    for i, t in enumerate(COMMANDS):
        put("split_fuzz", "cmd%02d" % i, t)
    for i, t in enumerate(ANSWERS):
        put("answer_fuzz", "answer%02d" % i, t)
    for i, t in enumerate(VALUES):
        put("xml_fuzz", "value%02d" % i, t)
    s = streams()
    for name, data in s.items():
        put("scanner_fuzz", name, data)
        put("writer_fuzz", name, data)
    video = s["pts"] + s["length0_pair"] + s["split"] + s["near_full"] + s["pts_dts"]
    audio = s["split"] + s["short_forms"] + s["noise_between"]
    for name, data in containers(video, audio).items():
        put("convert_fuzz", name, data)
    rng = random.Random(3)
    put("blocks_fuzz", "few", compact(video, audio, [(3000, 800), (0, 0), (9000, 5000)]))
    put("blocks_fuzz", "long", compact(video, audio, [(700, 300)] * 6, fmt=1))
    put("blocks_fuzz", "oversized", compact(video, audio, [(65535, 65535), (100, 100)]))
    put("blocks_fuzz", "random", compact(
        video, audio, [(rng.randint(0, 5000), rng.randint(0, 2000)) for _ in range(8)]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""vux2mpeg on real MPEG data, made by ffmpeg at test time.

ffmpeg encodes a few seconds of MPEG-2 video and MP2 audio into a program
stream; their PES packets are wrapped into containers of both block formats
(and a broadcast-like variant: one video PES per frame with length 0, so
packets span blocks and some frames are smaller than a pack), converted, and
the result must be a program stream whose decoded video frames and audio are
those of the source.

usage: end_to_end.py VUX2MPEG MKVUX
"""
import hashlib
import os
import subprocess
import sys
import tempfile

VUX2MPEG, MKVUX = sys.argv[1], sys.argv[2]
# An emulator or checker to start the program through (see tests/exec_wrapper.h).
WRAP = os.environ.get("TEST_EXEC_WRAPPER", "").split()
sys.path.insert(0, os.path.dirname(MKVUX))
import mkvux  # noqa: E402

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, **kw).stdout


def ffmpeg(*args):
    return run("ffmpeg", "-nostdin", "-v", "error", *args)


def decoded(path):
    """Per-frame video hashes and the hash of all decoded audio."""
    frames = [l.split(b",")[-1].strip()
              for l in ffmpeg("-i", path, "-map", "0:v", "-f", "framemd5", "-").splitlines()
              if l and not l.startswith(b"#")]
    audio = ffmpeg("-i", path, "-map", "0:a", "-f", "md5", "-").strip()
    return frames, audio


def main():
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, "src.mpg")
        # Low bitrate and no B frames: many frames below 1,779 bytes, and
        # display order equal to coded order for the per-frame PTS.
        ffmpeg("-f", "lavfi", "-i", "testsrc=size=176x144:rate=25",
               "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
               "-t", "3", "-c:v", "mpeg2video", "-b:v", "150k", "-bf", "0",
               "-c:a", "mp2", "-b:a", "64k", "-f", "vob", src)
        m2v = os.path.join(d, "src.m2v")
        ffmpeg("-i", src, "-map", "0:v", "-c", "copy", "-f", "mpeg2video", m2v)
        with open(src, "rb") as f:
            video, audio = mkvux.demux(f.read())
        with open(m2v, "rb") as f:
            per_frame = mkvux.frames(f.read())
        sizes = []
        i = per_frame.find(b"\x00\x00\x01\xe0")
        while i >= 0:
            j = per_frame.find(b"\x00\x00\x01\xe0", i + 4)
            sizes.append((j if j >= 0 else len(per_frame)) - i)
            i = j
        check(sum(1 for s in sizes if s < 1779) > 0, "some frames smaller than 1,779 bytes")

        want_frames, want_audio = decoded(src)
        check(len(want_frames) == 75, "source has 75 frames (%d)" % len(want_frames))

        variants = [
            ("format 0, full areas", video, dict(fmt=0)),
            ("format 1, full areas", video, dict(fmt=1)),
            ("format 0, random areas", video, dict(fmt=0, seed=11)),
            ("format 1, random areas", video, dict(fmt=1, seed=12)),
            ("broadcast-like, steady", per_frame, dict(fmt=0, steady=True)),
            ("broadcast-like, random areas", per_frame, dict(fmt=1, seed=13)),
        ]
        for name, v, kw in variants:
            rec = os.path.join(d, "rec.vux")
            out = os.path.join(d, "out.mpg")
            with open(rec, "wb") as f:
                f.write(mkvux.wrap(v, audio, **kw))
            subprocess.run([*WRAP, VUX2MPEG, rec, out], check=True)
            data = open(out, "rb").read()
            check(len(data) % 2048 == 0 and all(data[p:p + 4] == b"\x00\x00\x01\xba"
                                                 for p in range(0, len(data), 2048)),
                  name + ": whole packs")
            probe = run("ffprobe", "-v", "error", "-show_entries",
                        "format=format_name:stream=codec_name", "-of",
                        "default=noprint_wrappers=1", out).decode()
            check("format_name=mpeg" in probe and "codec_name=mpeg2video" in probe
                  and "codec_name=mp2" in probe, name + ": probed as " + repr(probe))
            frames, aud = decoded(out)
            check(frames == want_frames, name + ": video frames identical (%d of %d)"
                  % (len(frames), len(want_frames)))
            check(aud == want_audio, name + ": audio identical")
            piped = subprocess.run([*WRAP, VUX2MPEG, "-", "-"], input=open(rec, "rb").read(),
                                   capture_output=True, check=True).stdout
            check(hashlib.md5(piped).digest() == hashlib.md5(data).digest(),
                  name + ": pipe gives the same bytes")
    if failures:
        sys.exit(1)
    print("all variants decode identically")


main()

#!/usr/bin/env python3
"""Test fixtures for vux2mpeg: recording containers and the PES streams in them.

  mkvux.py wrap VIDEO.pes AUDIO.pes OUT [--format N] [--video-size N]
           [--audio-size N] [--seed S] [--steady] [--truncate N] [--filler HEX]
      Wraps a video and an audio PES stream into a container: blocks of
      49,152 bytes (59,392 with --format 1), each with a 280-byte header, the
      next stretch of video at offset 512 and of audio at offset 37,376.
      Area sizes are fixed (--video-size/--audio-size, default the largest),
      seeded-random (--seed: each block draws both sizes up to the largest),
      or steady (--steady: full video areas and a matching share of audio,
      as a recording made at a steady rate). Blocks follow until both streams
      are used up. Unused area bytes are filled with --filler (default a fake
      PES header, so that a reader that takes them shows it). --truncate N
      keeps the first N bytes (negative: drops the last -N).
  mkvux.py demux PROGRAM.mpg VIDEO.pes AUDIO.pes
      Takes the video (0xE0) and audio (0xC0) PES packets out of a program
      stream, each stream's packets whole and in order.
  mkvux.py frames VIDEO.m2v VIDEO.pes [--fps N]
      Puts every frame of an MPEG-2 elementary stream (coded without B
      frames) into a PES packet of its own, with a PTS and PES_packet_length
      0, as broadcast video comes; a padding packet ends the stream so that
      the last frame is complete.
  mkvux.py sparse --blocks N --marker-every M
      Writes to standard output a container of N blocks of 59,392 bytes with
      empty areas, except every M-th block (from block 0), whose video area
      holds one 64-byte PES packet whose payload starts with the block's
      number as 8 decimal digits. For inputs too large to store.
"""
import argparse
import random
import struct
import sys

HEADER = 280
VIDEO_OFF, VIDEO_MAX = 0x200, 0x9000
AUDIO_OFF, AUDIO_MAX = 0x9200, 0x2E00
SHORT_BLOCK, LONG_BLOCK = 0xC000, 0xE800
DEFAULT_FILLER = bytes.fromhex("000001e00000800000ff")


def block(fmt, size, video, audio, filler, header_fields=None):
    """One container block with the given area contents."""
    b = bytearray((filler * (size // len(filler) + 1))[:size])
    h = bytearray(HEADER)
    struct.pack_into(">I", h, 4, len(audio))
    struct.pack_into(">I", h, 8, len(video))
    struct.pack_into(">H", h, 28, fmt)
    b[0:HEADER] = h
    b[HEADER:VIDEO_OFF] = bytes(VIDEO_OFF - HEADER)
    b[VIDEO_OFF:VIDEO_OFF + len(video)] = video
    b[AUDIO_OFF:AUDIO_OFF + len(audio)] = audio
    return bytes(b)


def wrap(video, audio, fmt=0, video_size=VIDEO_MAX, audio_size=AUDIO_MAX,
         seed=None, steady=False, filler=DEFAULT_FILLER):
    size = LONG_BLOCK if fmt == 1 else SHORT_BLOCK
    rng = random.Random(seed) if seed is not None else None
    audio_share = AUDIO_MAX
    if steady:
        blocks = max(1, -(-len(video) // VIDEO_MAX))
        audio_share = min(AUDIO_MAX, -(-len(audio) // blocks))
    out = []
    v = a = 0
    while v < len(video) or a < len(audio):
        if rng:
            vs, as_ = rng.randint(0, VIDEO_MAX), rng.randint(0, AUDIO_MAX)
        elif steady:
            vs, as_ = VIDEO_MAX, audio_share
        else:
            vs, as_ = video_size, audio_size
        vpart, apart = video[v:v + vs], audio[a:a + as_]
        v += len(vpart)
        a += len(apart)
        out.append(block(fmt, size, vpart, apart, filler))
    return b"".join(out)


def demux(ps):
    """The 0xE0 and 0xC0 PES packets of a program stream, as two streams."""
    streams = {0xE0: bytearray(), 0xC0: bytearray()}
    i = 0
    while i + 4 <= len(ps):
        if ps[i:i + 3] != b"\x00\x00\x01":
            raise ValueError("lost sync at %d" % i)
        sid = ps[i + 3]
        if sid == 0xB9:
            i += 4
        elif sid == 0xBA:
            i += 14 + (ps[i + 13] & 7) if ps[i + 4] & 0xC0 == 0x40 else 12
        else:
            n = 6 + struct.unpack_from(">H", ps, i + 4)[0]
            if sid in streams:
                streams[sid] += ps[i:i + n]
            i += n
    return bytes(streams[0xE0]), bytes(streams[0xC0])


def pts_bytes(pts):
    return bytes([0x21 | ((pts >> 29) & 0x0E), (pts >> 22) & 0xFF,
                  ((pts >> 14) & 0xFE) | 1, (pts >> 7) & 0xFF,
                  ((pts << 1) & 0xFE) | 1])


def frames(es, fps=25):
    """One PES packet per frame, length 0, with a PTS (no B frames)."""
    codes = []
    i = es.find(b"\x00\x00\x01")
    while i >= 0 and i + 3 < len(es):
        codes.append((i, es[i + 3]))
        i = es.find(b"\x00\x00\x01", i + 3)
    starts, after_slice = [], True
    for pos, code in codes:
        if code in (0xB3, 0xB8, 0x00) and after_slice:
            starts.append(pos)
            after_slice = False
        elif 0x01 <= code <= 0xAF:
            after_slice = True
    starts.append(len(es))
    out = bytearray()
    for k in range(len(starts) - 1):
        pts = 90000 + k * 90000 // fps
        out += b"\x00\x00\x01\xe0\x00\x00\x80\x80\x05" + pts_bytes(pts)
        out += es[starts[k]:starts[k + 1]]
    out += b"\x00\x00\x01\xbe\x00\x04\xff\xff\xff\xff"
    return bytes(out)


def sparse(blocks, every, out):
    empty = block(1, LONG_BLOCK, b"", b"", b"\x00")
    run = []
    for k in range(blocks):
        if k % every == 0:
            payload = b"%08d" % k + bytes(64 - 9 - 8)
            pes = b"\x00\x00\x01\xe0" + struct.pack(">H", 64 - 6) + b"\x80\x00\x00" + payload
            run.append(block(1, LONG_BLOCK, pes, b"", b"\x00"))
        else:
            run.append(empty)
        if len(run) == 32:
            out.write(b"".join(run))
            run = []
    out.write(b"".join(run))
    out.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    w = sub.add_parser("wrap")
    w.add_argument("video")
    w.add_argument("audio")
    w.add_argument("out")
    w.add_argument("--format", type=int, default=0)
    w.add_argument("--video-size", type=int, default=VIDEO_MAX)
    w.add_argument("--audio-size", type=int, default=AUDIO_MAX)
    w.add_argument("--seed", type=int)
    w.add_argument("--steady", action="store_true")
    w.add_argument("--truncate", type=int)
    w.add_argument("--filler", default=DEFAULT_FILLER.hex())
    d = sub.add_parser("demux")
    d.add_argument("ps")
    d.add_argument("video")
    d.add_argument("audio")
    f = sub.add_parser("frames")
    f.add_argument("es")
    f.add_argument("out")
    f.add_argument("--fps", type=int, default=25)
    s = sub.add_parser("sparse")
    s.add_argument("--blocks", type=int, required=True)
    s.add_argument("--marker-every", type=int, required=True)
    a = ap.parse_args()

    if a.cmd == "wrap":
        with open(a.video, "rb") as fv, open(a.audio, "rb") as fa:
            data = wrap(fv.read(), fa.read(), a.format, a.video_size, a.audio_size,
                        a.seed, a.steady, bytes.fromhex(a.filler))
        if a.truncate is not None:
            data = data[:a.truncate]
        with open(a.out, "wb") as fo:
            fo.write(data)
    elif a.cmd == "demux":
        with open(a.ps, "rb") as fi:
            v, au = demux(fi.read())
        with open(a.video, "wb") as fv, open(a.audio, "wb") as fa:
            fv.write(v)
            fa.write(au)
    elif a.cmd == "frames":
        with open(a.es, "rb") as fi:
            data = frames(fi.read(), a.fps)
        with open(a.out, "wb") as fo:
            fo.write(data)
    else:
        sparse(a.blocks, a.marker_every, sys.stdout.buffer)


if __name__ == "__main__":
    main()

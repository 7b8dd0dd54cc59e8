#!/usr/bin/env python3
"""vux2mpeg on an input of more than 4 GiB through a pipe.

The container is generated on the fly (mostly empty areas, so that the
converter only reads); every 1000th block carries one small video packet
that names its block. All of them, those past 4 GiB included, must come out
in order, each in a pack of its own.

usage: big_input.py VUX2MPEG MKVUX
"""
import os
import subprocess
import sys
import tempfile

VUX2MPEG, MKVUX = sys.argv[1], sys.argv[2]
# An emulator or checker to start the program through (see tests/exec_wrapper.h).
WRAP = os.environ.get("TEST_EXEC_WRAPPER", "").split()
BLOCKS, EVERY = 73000, 1000  # 73,000 blocks of 59,392 bytes: about 4.34 GB

assert BLOCKS * 59392 > 1 << 32
with tempfile.TemporaryFile() as out:
    gen = subprocess.Popen([sys.executable, MKVUX, "sparse", "--blocks", str(BLOCKS),
                            "--marker-every", str(EVERY)], stdout=subprocess.PIPE)
    conv = subprocess.run([*WRAP, VUX2MPEG, "-", "-"], stdin=gen.stdout, stdout=out)
    gen.stdout.close()
    if gen.wait() != 0 or conv.returncode != 0:
        sys.exit("generator %d, converter %d" % (gen.returncode, conv.returncode))
    out.seek(0)
    data = out.read()

want = [k for k in range(0, BLOCKS, EVERY)]
got = []
for p in range(0, len(data), 2048):
    pack = data[p:p + 2048]
    if pack[14:18] == b"\x00\x00\x01\xe0":
        h = pack[22]
        got.append(int(pack[23 + h:31 + h]))
if len(data) % 2048 or got != want:
    sys.exit("got %d bytes, markers %s...%s, want %d markers" % (len(data), got[:3], got[-3:], len(want)))
print("%d markers through %.2f GB" % (len(got), BLOCKS * 59392 / 1e9))

#!/bin/sh
# Makes the demo's converted recording: ffmpeg encodes a few seconds of test
# picture and tone as a program stream, mkvux.py takes its PES packets and
# wraps them into a recording container as the receiver writes it, and
# vux2mpeg converts that container back into a program stream.
#
# usage: mkvuxdemo.sh VUX2MPEG MKVUX_PY WORKDIR OUTPUT.mpg
# Writes WORKDIR/playtime (seconds) for the recording's media row.
set -eu
vux2mpeg=$1 mkvux=$2 work=$3 out=$4
seconds=8
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing (scripts/install-deps.sh)" >&2; exit 1; }
mkdir -p "$work"
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=176x144:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$seconds" \
  -c:v mpeg2video -b:v 400k -bf 0 -c:a mp2 -b:a 128k -f vob "$work/source.mpg"
python3 "$mkvux" demux "$work/source.mpg" "$work/video.pes" "$work/audio.pes"
python3 "$mkvux" wrap "$work/video.pes" "$work/audio.pes" "$work/recording.vux" --steady
"$vux2mpeg" "$work/recording.vux" "$out"
echo "$seconds" >"$work/playtime"

#!/bin/sh
# Throughput of vux2mpeg beside `dd` copying the same container to a file and
# beside ffmpeg remuxing the source program stream, from one run, with the
# converter's peak memory.
#
# usage: bench/vux2mpeg.sh [BUILD_DIR] [REPEATS]
#   The source is REPEATS (default 16) copies of a 20-second 8 Mbit/s clip
#   (about 20 MB each) joined by ffmpeg; its PES packets are wrapped with full
#   video areas and a matching share of audio in every block, as a recording
#   made at a steady rate would be.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
repeats=${2:-16}
bin=$build/vux2mpeg
[ -x "$bin" ] || { echo "no $bin: build first" >&2; exit 1; }
work=$(mktemp -d /tmp/vux2mpeg-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=20:allf=t" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 20 \
  -c:v mpeg2video -b:v 8M -minrate 8M -maxrate 8M -bufsize 1835k \
  -c:a mp2 -b:a 192k -f vob clip.mpg
i=0; : > list.txt
while [ $i -lt "$repeats" ]; do echo "file 'clip.mpg'" >> list.txt; i=$((i + 1)); done
ffmpeg -nostdin -v error -f concat -safe 0 -i list.txt -c copy -f vob src.mpg
python3 "$here/scripts/mkvux.py" demux src.mpg video.pes audio.pes
python3 "$here/scripts/mkvux.py" wrap video.pes audio.pes rec.vux --steady
rm -f video.pes audio.pes clip.mpg

size=$(stat -c %s rec.vux)
src_size=$(stat -c %s src.mpg)
cat rec.vux src.mpg > /dev/null   # both in the page cache

# Elapsed seconds of a command, its output file removed afterwards.
elapsed() {
  out=$1; shift
  s=$(date +%s.%N)
  "$@"
  e=$(date +%s.%N)
  rm -f "$out"
  echo "$s $e" | awk '{printf "%.3f", $2 - $1}'
}

t_dd=$(elapsed copy.bin dd if=rec.vux of=copy.bin bs=1M status=none)
/usr/bin/time -v -o time.txt "$bin" rec.vux out.mpg
t_conv=$(awk -F': ' '/Elapsed/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%.3f", s}' time.txt)
rss=$(awk -F': ' '/Maximum resident/ {print $2}' time.txt)
out_size=$(stat -c %s out.mpg)
rm -f out.mpg
t_ff=$(elapsed ff.mpg ffmpeg -nostdin -v error -i src.mpg -c copy -f vob ff.mpg)

awk -v size="$size" -v src="$src_size" -v outs="$out_size" -v dd="$t_dd" -v conv="$t_conv" \
    -v ff="$t_ff" -v rss="$rss" 'BEGIN {
  printf "container %.0f MB -> program stream %.0f MB (source %.0f MB)\n", size / 1e6, outs / 1e6, src / 1e6
  printf "vux2mpeg       %7.3f s  %7.0f MB/s\n", conv, size / 1e6 / conv
  printf "dd bs=1M copy  %7.3f s  %7.0f MB/s   vux2mpeg/dd     = %.2f (target <= 1.40)\n", dd, size / 1e6 / dd, conv / dd
  printf "ffmpeg remux   %7.3f s  %7.0f MB/s   vux2mpeg/ffmpeg = %.2f (target <= 0.67)\n", ff, src / 1e6 / ff, conv / ff
  printf "vux2mpeg peak memory %d KiB (target < 3072)\n", rss
}'

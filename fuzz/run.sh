#!/bin/sh
# Runs every fuzz target of BUILD (the clang build tree) for SECONDS each,
# one after the other, from seeds made afresh by mkseeds.py and the corpus
# that earlier runs left in BUILD/corpus. A crash input lands in
# BUILD/crashes/<target>/; the run then fails. Prints each target's
# executions and the total time.
#   fuzz/run.sh BUILD SECONDS [TARGET...]
set -u
build=$1
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=${*:-"split_fuzz xml_fuzz answer_fuzz scanner_fuzz writer_fuzz convert_fuzz blocks_fuzz"}

python3 "$here/mkseeds.py" "$build/seeds" || exit 1
start=$(date +%s)
failed=""
for t in $targets; do
  case $t in
    convert_fuzz) max_len=237568 ;;
    blocks_fuzz) max_len=65536 ;;
    *) max_len=8192 ;;
  esac
  dict=""
  [ -f "$here/$t.dict" ] && dict="-dict=$here/$t.dict"
  mkdir -p "$build/corpus/$t" "$build/crashes/$t"
  regressions="$here/regressions/$t"
  [ -d "$regressions" ] || regressions=""
  log="$build/crashes/$t.log"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/$t" -max_total_time="$seconds" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$t/" $dict \
      "$build/corpus/$t" "$build/seeds/$t" $regressions >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  corpus=$(ls "$build/corpus/$t" | wc -l)
  if [ $rc -ne 0 ]; then
    failed="$failed $t"
    echo "$t: FAILED (exit $rc), see $log and $build/crashes/$t/"
    grep -m3 -E "ERROR|invariant|SUMMARY" "$log"
  else
    echo "$t: ${runs:-?} executions in ${seconds} s, corpus $corpus inputs"
  fi
done
echo "fuzzing took $(( $(date +%s) - start )) s in all"
[ -z "$failed" ] || { echo "crashes in:$failed"; exit 1; }

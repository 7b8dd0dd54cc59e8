#!/bin/sh
# Runs the test suite on the normal build (build/) with every program under
# test started under valgrind's memcheck: no invalid access, no use of
# uninitialised memory, no definite leak. Each run writes its own log;
# every log must stay empty.
#
#   scripts/valgrind-check.sh [ctest arguments...]
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" valgrind
logs=$top/build/valgrind-logs
rm -rf "$logs"
mkdir -p "$logs"
cd "$top/build"
status=0
TEST_EXEC_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full \
--errors-for-leak-kinds=definite --show-leak-kinds=definite \
--log-file=$logs/%p.log" \
  ctest --output-on-failure -j"${JOBS:-2}" "$@" || status=$?
# A test may pass whatever its program's exit status; the logs tell.
for f in "$logs"/*.log; do
  [ -s "$f" ] || continue
  echo "valgrind found errors ($f):"
  cat "$f"
  status=1
done
runs=$(ls "$logs" | wc -l)
echo "valgrind: $runs program runs checked"
exit $status

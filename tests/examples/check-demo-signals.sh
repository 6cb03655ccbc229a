#!/usr/bin/env bash
# jx-copy-demo ends cleanly when asked to: SIGINT exits 130 and SIGTERM 143,
# a closed pipe on its output ends it too, and each time the job is killed
# and the temporary folder under $TMPDIR is removed. Its output reaches a
# pipe line by line.
# Usage: check-demo-signals.sh DEMO
set -euo pipefail
demo=$1
export TMPDIR=$(mktemp -d)
trap 'rm -rf "$TMPDIR"' EXIT
big=(--volumes 2 --size 16M --block 4K)

for signal in INT TERM; do
  # A file of its own per run: the child opens it after the fork, so a
  # shared one could still hold the previous run's lines when polled.
  out=$TMPDIR/out-$signal
  "$demo" "${big[@]}" >"$out" 2>"$TMPDIR/err" &
  pid=$!
  # Line-buffered: the first progress line is there while the job runs.
  for _ in $(seq 600); do grep -q '^run 1' "$out" 2>/dev/null && break; sleep 0.05; done
  grep -q '^run 1' "$out" || { echo "no progress line while running"; exit 1; }
  kill -s $signal $pid
  status=0; wait $pid || status=$?
  expected=$([ $signal = INT ] && echo 130 || echo 143)
  [ $status = $expected ] || { echo "SIG$signal: exit $status, not $expected"; cat "$TMPDIR/err"; exit 1; }
  left=$(ls "$TMPDIR" | grep -c jx-copy-demo || true)
  [ "$left" = 0 ] || { echo "SIG$signal left its folder behind"; exit 1; }
  pgrep -f "jx-copy-job --manifest $TMPDIR" >/dev/null && { echo "SIG$signal left the job running"; exit 1; }
  echo "SIG$signal: exit $status, folder removed, job gone"
done

status=0
"$demo" "${big[@]}" 2>/dev/null | head -1 >/dev/null || status=$?
[ $status = 141 ] || { echo "closed pipe: exit $status, not 141"; exit 1; }
if ls "$TMPDIR" | grep jx-copy-demo >/dev/null; then echo "a closed pipe left the folder behind"; exit 1; fi
echo "closed pipe: exit $status, folder removed"

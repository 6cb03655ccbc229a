#!/usr/bin/env bash
# jx-copy-demo ends cleanly when asked to: SIGINT exits 130 and SIGTERM 143,
# a closed pipe on its output ends it too, and each time the job is killed
# and the temporary folder under $TMPDIR is removed (the torture leaves no
# jx-crashfs mounted either). Its output reaches a
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

# The torture, interrupted, leaves nothing mounted and no folder behind.
"$demo" --torture 1000 --seed 3 >"$TMPDIR/torture" 2>&1 &
pid=$!
for _ in $(seq 200); do [ -d "$(ls -d "$TMPDIR"/jx-copy-torture.*/round-1 2>/dev/null | head -1)" ] && break
  kill -0 $pid 2>/dev/null || break; sleep 0.05; done
status=0
if kill -s INT $pid 2>/dev/null; then wait $pid || status=$?; else wait $pid || status=$?; fi
if [ $status = 77 ]; then
  echo "torture: skipped ($(tail -1 "$TMPDIR/torture"))"
  exit 0
fi
[ $status = 130 ] || { echo "torture, SIGINT: exit $status, not 130"; cat "$TMPDIR/torture"; exit 1; }
if grep -q "$TMPDIR" /proc/mounts; then echo "the torture left a mount behind"; grep "$TMPDIR" /proc/mounts; exit 1; fi
if ls "$TMPDIR" | grep -q jx-copy-torture; then echo "the torture left its folder behind"; exit 1; fi
echo "torture, SIGINT: exit $status, nothing mounted, folder removed"

#!/usr/bin/env bash
# jxrestart reads a log file and the same log through a pipe in blocks, on
# several threads (a file's head hole and its size while it is read are
# its own): both must tell the same, to the byte, for a log of many blocks
# with several jobs, deviations, cut lines and JSON.
# Usage: check-log-blocks.sh TOOL
set -euo pipefail
tool=$1
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
log=$folder/job.log
python3 - "$log" <<'PY'
import sys
out = open(sys.argv[1], "w")
for r in range(3000):
    out.write("JxRestartability::BuildJobRestartString: The Restart string: -Restart "
              + "".join(f"{v}|{r * 3 + v % 7}@" for v in range(1, 301)) + "\n")
    if r % 7 == 0:
        out.write(f"job 2: -Restart 1001|{r}@1002|{r // 2}@\n")
    if r % 500 == 250:
        out.write("-Restart 1|1@2|x@\n")                          # not well formed, and going back
        out.write('{"message": "Restart String = 0|1|11|5$"}\n')  # JSON
        out.write("0|1|1001|31\n")                                # torn
PY
for options in "" "--all" "--json" "--job job.([0-9]):"; do
  status=0
  "$tool" log $options "$log" >"$folder/blocks" 2>&1 || status=$?
  "$tool" log $options - <"$log" 2>&1 | sed "s|standard input|$log|g" >"$folder/turn" || true
  cmp -s "$folder/blocks" "$folder/turn" || { echo "log $options: in blocks and in turn differ"; diff "$folder/blocks" "$folder/turn" | head; exit 1; }
  echo "log $options: the same in blocks as in turn (exit $status, $(wc -l <"$folder/blocks") lines)"
done

# A live log cut short while it is read (rotated by copying and truncating
# it): never a crash, and a cut that is seen is said, with exit 2 and only
# lines that were whole before it.
live=$folder/live.log
for delay in 0.02 0.05 0.1; do
  (yes 'job 1: -Restart 1|2@3|4@' || true) | head -c 200M >"$live"
  (sleep "$delay"; truncate -s 100000 "$live") &
  status=0
  "$tool" log "$live" >"$folder/out" 2>"$folder/err" || status=$?
  wait
  [ "$status" -lt 128 ] || { echo "log of a file cut while read: killed by signal $((status - 128))"; exit 1; }
  if grep -q "live.log: cut to 100000 bytes while it was read" "$folder/err"; then
    [ "$status" -eq 2 ] || { echo "log of a file cut while read: exit $status, not 2"; exit 1; }
    grep -q -- "-Restart 1|2@3|4@$" "$folder/out" || { echo "log of a file cut while read: no last state"; exit 1; }
    ! grep -q "does not\|NUL" "$folder/err" || { echo "log of a file cut while read: read past the cut"; cat "$folder/err"; exit 1; }
  fi
  echo "log of a file cut after ${delay} s: exit $status"
done

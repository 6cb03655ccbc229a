#!/usr/bin/env bash
# The demo's own log, killed once and restarted, read by jxrestart log:
# exit 0, and the last states are those of the state file the job manager
# left, not the tool's word for them.
# Usage: check-demo-log.sh DEMO TOOL
set -euo pipefail
demo=$1 tool=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
ZN_DEBUG_LOG=$folder/job.log "$demo" --volumes 3 --size 1M --block 256K --keep "$folder/demo" >/dev/null
"$tool" log "$folder/job.log" >"$folder/summary"
state=$folder/demo/state
[ "$(grep -A1 '^last job restart string' "$folder/summary" | tail -1)" = "$(sed -n 1p "$state")" ] ||
  { echo "last job restart string differs from the state file's"; cat "$folder/summary" "$state"; exit 1; }
[ "$(grep -A1 '^last volume restart string' "$folder/summary" | tail -1)" = "$(sed -n 2p "$state")" ] ||
  { echo "last volume restart string differs from the state file's"; cat "$folder/summary" "$state"; exit 1; }
grep -q '^15 job states, 1 restart, 14 volume states' "$folder/summary" ||
  { echo "unexpected counts"; cat "$folder/summary"; exit 1; }
echo "the demo's log: exit 0, last states equal to the state file's"

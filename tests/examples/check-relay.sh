#!/usr/bin/env bash
# The relay, which is where the harness takes the acknowledgement: it hands
# the job an "ok" only when the state file holds that state, byte for byte,
# says so when it does not, and kills at its steps before the manager has
# the line. A job of a few lines stands for the real one.
# Usage: check-relay.sh RELAY
set -euo pipefail
relay=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cat >"$work/job" <<JOB
#!/usr/bin/env bash
printf 'RESUME\t0|1|1|0\$\n'
printf 'STATE\t-Restart 1|1@\t0|1|1|5\$\n'
read -r answer && echo "\$answer" >"$work/job-got"
printf 'DONE\t5\n'
JOB
chmod +x "$work/job"

# Runs the relay as the manager would, answering "ok", with the state file
# holding $1; KILL, when set, is where to kill.
run() {
  rm -f "$work/job-got" "$work/events" "$work/out"
  printf '%b' "$1" >"$work/state"
  # A process group of its own: a failed acknowledgement kills the group.
  (printf 'ok\n' | JX_RELAY_JOB="$work/job" JX_RELAY_STATE="$work/state" JX_RELAY_EVENTS=9 JX_RELAY_KILL="${KILL:-}" \
    setsid "$relay" 9>"$work/events" >"$work/out") 2>/dev/null || true
}

run '-Restart 1|1@\n0|1|1|5$\n'
[ "$(cat "$work/job-got" 2>/dev/null)" = ok ] || fail "the job was not told ok for the state the file holds"
grep -q $'^relay-acked\t-Restart 1|1@\t0|1|1|5\\$$' "$work/events" || fail "no acknowledgement: $(cat "$work/events")"
[ "$(cut -f1 "$work/out" | tr '\n' ' ')" = "RESUME STATE DONE " ] || fail "lines passed on: $(cat "$work/out")"

for held in '-Restart 1|1@\n0|1|1|4$\n' '-Restart 1|1@\n0|1|1|5$' ''; do
  run "$held"
  [ ! -e "$work/job-got" ] || fail "the job was told $(cat "$work/job-got") for a state the file does not hold: $held"
  grep -q '^relay-failed' "$work/events" || fail "no failure said for a file holding $held"
  ! grep -q '^relay-acked' "$work/events" || fail "acknowledged with the file holding $held"
done

KILL=state-sent:1 run '-Restart 1|1@\n0|1|1|5$\n'
[ "$(cut -f1 "$work/out" | tr '\n' ' ')" = "RESUME " ] || fail "a kill as the state is handed on let it through: $(cat "$work/out")"
grep -q $'^relay-killed\tstate-sent' "$work/events" || fail "the kill at state-sent was not said"
KILL=job-started:1 run '-Restart 1|1@\n0|1|1|5$\n'
[ ! -s "$work/out" ] || fail "a kill at job-started let a line through: $(cat "$work/out")"
echo "ok"

#!/usr/bin/env bash
# Runs the torture with each careless way of saving or copying planted in
# turn, and prints per plant the rounds run, the failures, and how many
# rounds it took to catch it (up to and with the first that failed). Exits 1 when a plant was not caught.
# Usage: torture-plants.sh DEMO ROUNDS SEED
set -euo pipefail
demo=$1 rounds=$2 seed=$3
plants=$( ("$demo" --torture 1 --plant none 2>&1 || true) | sed -n 's/^[^(]*(\([^)]*\)).*/\1/p' | sed 's/,\| or / /g')
[ -n "$plants" ] || { echo "cannot list the plants" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
missed=0
printf '%-16s %8s %9s %10s\n' plant rounds failures "caught in"
for plant in $plants; do
  status=0
  TMPDIR=$work "$demo" --torture "$rounds" --seed "$seed" --plant "$plant" >"$work/out" 2>&1 || status=$?
  [ "$status" -ne 77 ] || { tail -1 "$work/out"; exit 77; }
  failures=$(sed -n 's/.* \([0-9]*\) failures\{0,1\}$/\1/p' "$work/out" | tail -1)
  first=$(sed -n 's/^.*round \([0-9]*\) failed:.*/\1/p' "$work/out" | head -1)
  printf '%-16s %8s %9s %10s\n' "$plant" "$rounds" "${failures:-?}" "${first:+$((first + 1))}"
  [ "${failures:-0}" -gt 0 ] || missed=$((missed + 1))
  rm -rf "${work:?}"/jx-copy-torture.*
done
[ "$missed" -eq 0 ] || { echo "$missed plants were not caught" >&2; exit 1; }

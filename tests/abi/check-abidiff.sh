#!/usr/bin/env bash
# Holds the library to the binary interface of 1.0: abidiff against the
# recorded 1.0 baseline (JxRestart-1.0.abi.gz, made by abidw from the 1.0
# library with its public headers) may report additions, never a change
# that breaks a program built against 1.0.
# Usage: check-abidiff.sh LIBRARY BASELINE.abi.gz
set -euo pipefail
library=$1
baseline=$2
command -v abidiff >/dev/null || { echo "skipped: no abidiff (abigail-tools)"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gzip -dc "$baseline" >"$work/baseline.abi"
status=0
abidiff "$work/baseline.abi" "$library" >"$work/report" || status=$?
cat "$work/report"
# abidiff's status bits: 1 error, 2 usage, 4 a change, 8 an incompatible change.
if (( status & 11 )); then
  echo "abidiff status $status: not compatible with 1.0"
  exit 1
fi
echo "compatible with 1.0 (abidiff status $status)"

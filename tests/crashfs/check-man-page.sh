#!/usr/bin/env bash
# jx-crashfs's man page names every command its help names, with their
# options, and renders without a warning.
set -euo pipefail
crashfs=$1 page=$2
help=$("$crashfs" --help)
for command in $(sed -n 's/^ *\(Usage: \)\{0,1\}jx-crashfs \([a-z]*\).*/\2/p' <<<"$help"); do
  grep -q "^\.B jx-crashfs $command\$" "$page" || { echo "the man page lacks the command $command"; exit 1; }
done
for option in $(grep -o -- '--[a-z]*' <<<"$help" | sort -u); do
  grep -q -- "${option//-/\\\\-}" "$page" || { echo "the man page lacks $option"; exit 1; }
done
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
echo ok

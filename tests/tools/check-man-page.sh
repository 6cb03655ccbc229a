#!/usr/bin/env bash
# The man page renders without a warning and names every command and
# option that --help names, so the two stay in step.
# Usage: check-man-page.sh TOOL PAGE
set -euo pipefail
tool=$1
page=$2
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
[ -z "$warnings" ] || { echo "man -l warns:"; echo "$warnings"; exit 1; }
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
help=$("$tool" --help)
status=0
for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" EXAMPLES ENVIRONMENT FILES "SEE ALSO"; do
  grep -q "^$section\$" <<<"$text" || { echo "no section $section"; status=1; }
done
# Commands: the first words of the lines under "Commands:" in --help.
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | grep -E '^  [a-z]' | sed -E 's/^  ([a-z]+( [a-z]+)?).*/\1/' |
           sed -E 's/ (OLD|TEXT|FILE|COMMAND)$//')
while read -r command; do
  [ -n "$command" ] || continue
  grep -qF "$command" <<<"$text" || { echo "the man page lacks the command '$command'"; status=1; }
done <<<"$commands"
for option in $(grep -oE -- '--[a-z]+' <<<"$help" | sort -u) ZN_DEBUG_LOG; do
  grep -qF -- "$option" <<<"$text" || { echo "the man page lacks '$option'"; status=1; }
done
[ $status = 0 ] && echo "man page: $(wc -l <<<"$commands") commands and every option of --help"
exit $status

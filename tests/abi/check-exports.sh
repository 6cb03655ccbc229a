#!/usr/bin/env bash
# Fails when libJxRestart exports anything but its interface, or anything
# unversioned, or a set of symbols other than its Debian symbols file
# lists (that file is the one list of the binary interface, and a change
# to it is a deliberate change of the interface), or when the library's
# references to its own symbols are left to the loader.
#   check-exports.sh LIBRARY SYMBOLS_FILE          check
#   check-exports.sh LIBRARY SYMBOLS_FILE --print  print the exports as the
#       file's lines, for a deliberate change (set each new line's version)
set -euo pipefail
library=$1
symbols_file=$2
allowed='^(JxRestartability::|ZNJxRestart::|(vtable|typeinfo|typeinfo name) for JxRestartability$|jxrestart::abi::LibraryBuiltWith\(|JXRESTART[A-Z0-9_]*$)'

# name@VERSION per line; nm marks the default version with @@.
exports=$(nm -D --defined-only --with-symbol-versions "$library" | awk '$2 == "A" { print $3 "@" $3; next } { print $3 }' | sed 's/@@/@/' | sort)
[ -n "$exports" ] || { echo "no exported symbol in $library"; exit 1; }
unversioned=$(grep -v '@' <<<"$exports" || true)
[ -z "$unversioned" ] || { echo "exported without a version node:"; echo "$unversioned"; exit 1; }
unexpected=$(sed 's/@.*//' <<<"$exports" | c++filt | grep -vE "$allowed" || true)
if [ -n "$unexpected" ]; then
  echo "exported outside the interface:"
  echo "$unexpected"
  exit 1
fi

# A second copy in the process must run its own code: no relocation may
# bind the library's references to its own symbols at load time.
names=$(sed 's/@.*//' <<<"$exports")
self_bound=$(readelf -rW "$library" | awk 'NF >= 5 { sub(/@.*/, "", $5); print $5 }' | grep -Fx -f <(echo "$names") || true)
if [ -n "$self_bound" ]; then
  echo "bound at load time, so another copy's definition could be taken:"
  c++filt <<<"$self_bound"
  exit 1
fi

if [ "${3:-}" = --print ]; then
  sed 's/^/ /; s/$/ VERSION/' <<<"$exports"
  exit 0
fi
listed=$(grep '^ ' "$symbols_file" | awk '{ print $1 }' | sort)
if [ "$listed" != "$exports" ]; then
  echo "exports differ from $symbols_file (< listed, > exported):"
  diff <(echo "$listed") <(echo "$exports") | grep '^[<>]' | c++filt || true
  exit 1
fi
echo "$(wc -l <<<"$exports") symbols, all versioned, all in the interface and in $(basename "$symbols_file")"

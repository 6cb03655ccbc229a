#!/usr/bin/env bash
# Fails when libJxRestart.so exports a symbol outside its interface: the
# two classes' members and JxRestartability's vtable and type information.
set -euo pipefail
library=$1
allowed='^(JxRestartability::|ZNJxRestart::|(vtable|typeinfo|typeinfo name) for JxRestartability$)'
symbols=$(nm -D --defined-only "$library" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' | c++filt)
[ -n "$symbols" ] || { echo "no exported symbol in $library"; exit 1; }
unexpected=$(grep -vE "$allowed" <<<"$symbols" || true)
if [ -n "$unexpected" ]; then
  echo "exported outside the interface:"
  echo "$unexpected"
  exit 1
fi
echo "$(wc -l <<<"$symbols") symbols, all in the interface"

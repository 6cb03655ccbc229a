#!/usr/bin/env bash
# Fails when libJxRestart.so exports a symbol outside its interface: the
# two classes' members, JxRestartability's vtable and type information, and
# the one tag of the build.
set -euo pipefail
library=$1
allowed='^(JxRestartability::|ZNJxRestart::|(vtable|typeinfo|typeinfo name) for JxRestartability$|jxrestart::abi::LibraryBuiltWith\()'
symbols=$(nm -D --defined-only "$library" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' | c++filt)
[ -n "$symbols" ] || { echo "no exported symbol in $library"; exit 1; }
unexpected=$(grep -vE "$allowed" <<<"$symbols" || true)
if [ -n "$unexpected" ]; then
  echo "exported outside the interface:"
  echo "$unexpected"
  exit 1
fi
tags=$(grep -c '^jxrestart::abi::LibraryBuiltWith(' <<<"$symbols" || true)
[ "$tags" = 1 ] || { echo "$tags build tags exported, not 1"; exit 1; }
echo "$(wc -l <<<"$symbols") symbols, all in the interface"

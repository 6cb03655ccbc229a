#!/usr/bin/env bash
# Compiles each public header alone, as C++11, with every compiler given:
# job processes are often older code, and a header must include what it uses.
# Usage: check-headers.sh INCLUDE_DIR "COMPILERS..." HEADER...
set -euo pipefail
include_dir=$1
compilers=$2
shift 2
[ $# -gt 0 ] || { echo "no header given"; exit 1; }
status=0
for compiler in $compilers; do
  command -v "$compiler" >/dev/null || { echo "skipped: no $compiler"; continue; }
  for header in "$@"; do
    if ! echo "#include \"$header\"" |
         "$compiler" -std=c++11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I "$include_dir" -x c++ -; then
      echo "FAILED: $compiler $header"
      status=1
    fi
  done
  echo "$compiler: $# headers compile alone as C++11"
done
exit $status

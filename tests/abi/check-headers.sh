#!/usr/bin/env bash
# Compiles each public header alone, as C++11, with every compiler given:
# job processes are often older code, and a header must include what it uses.
set -euo pipefail
include_dir=$1
shift
headers=(restart/JxRestartability.h restart/ZNJxRestart.h restart/JxRestartVersion.h restart/JxRestartExport.h
         host/EvEvent.h host/ZnLogSink.h)
status=0
for compiler in "$@"; do
  command -v "$compiler" >/dev/null || { echo "skipped: no $compiler"; continue; }
  for header in "${headers[@]}"; do
    if ! echo "#include \"$header\"" |
         "$compiler" -std=c++11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I "$include_dir" -x c++ -; then
      echo "FAILED: $compiler $header"
      status=1
    fi
  done
  echo "$compiler: ${#headers[@]} headers compile alone as C++11"
done
exit $status

#!/usr/bin/env bash
# Builds job processes against the library the way distributions and
# vendors build them, one row each, and checks what each row expects:
#   runs   links, runs well, and is clean under valgrind
#   link   refused at link time, the linker naming the build tag
#   load   a plugin that links but is refused when it loads, naming the tag
#   host   refused at load by the library itself: the host library beside
#          it lays out EvEvent otherwise (the line names both layouts)
#   cxx98  stops at the headers' one line asking for C++11
# A row whose compiler or standard library is missing is skipped, saying so.
# Usage: check-consumers.sh SOURCE_DIR LIBRARY_DIR
set -euo pipefail
src=$(realpath "$1")
lib=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

#   name                       | compiler | consumer | expect | flags
rows='
default                        | g++      | full     | runs   | -O2
clang                          | clang++  | full     | runs   |
unoptimised                    | g++      | full     | runs   | -O0 -g
lto                            | g++      | full     | runs   | -O2 -flto
lto, clang                     | clang++  | full     | runs   | -O2 -flto
assertions                     | g++      | full     | runs   | -O2 -D_GLIBCXX_ASSERTIONS
no exceptions, no rtti         | g++      | ints     | runs   | -O2 -fno-exceptions -fno-rtti
sections collected, as needed  | g++      | full     | runs   | -O2 -ffunction-sections -fdata-sections -Wl,--gc-sections -Wl,--as-needed
plugin                         | g++      | plugin   | runs   | -O2 -Wl,--gc-sections
old string ABI                 | g++      | ints     | link   | -D_GLIBCXX_USE_CXX11_ABI=0
old ABI, gc-sections           | g++      | ints     | link   | -D_GLIBCXX_USE_CXX11_ABI=0 -Wl,--gc-sections
old ABI, sections collected    | g++      | ints     | link   | -D_GLIBCXX_USE_CXX11_ABI=0 -ffunction-sections -fdata-sections -Wl,--gc-sections
old ABI, lto                   | g++      | ints     | link   | -O2 -D_GLIBCXX_USE_CXX11_ABI=0 -flto
old ABI, lto and gc-sections   | g++      | ints     | link   | -O2 -D_GLIBCXX_USE_CXX11_ABI=0 -flto -Wl,--gc-sections
old ABI, clang, gc-sections    | clang++  | ints     | link   | -D_GLIBCXX_USE_CXX11_ABI=0 -ffunction-sections -fdata-sections -Wl,--gc-sections
old ABI, as needed             | g++      | ints     | link   | -D_GLIBCXX_USE_CXX11_ABI=0 -Wl,--as-needed
old ABI plugin, gc-sections    | g++      | plugin   | load   | -D_GLIBCXX_USE_CXX11_ABI=0 -ffunction-sections -fdata-sections -Wl,--gc-sections
old ABI plugin, lto            | g++      | plugin   | load   | -O2 -D_GLIBCXX_USE_CXX11_ABI=0 -flto -Wl,--gc-sections
libstdc++ debug mode           | g++      | ints     | link   | -D_GLIBCXX_DEBUG
debug mode, gc-sections        | g++      | ints     | link   | -D_GLIBCXX_DEBUG -ffunction-sections -fdata-sections -Wl,--gc-sections
libc++                         | clang++  | ints     | link   | -stdlib=libc++
libc++ plugin                  | clang++  | plugin   | load   | -stdlib=libc++ -Wl,--gc-sections
another host EvEvent.h         | g++      | ints     | link   | -I OTHER_HOST
host library of another layout | g++      | full     | host   | -O2
C++98                          | g++      | full     | cxx98  | -std=c++98
C++98, clang                   | clang++  | full     | cxx98  | -std=c++98
'

failures=0
fail() { echo "FAILED: $row_name: $*"; failures=$((failures + 1)); }
have_libcxx() { echo '#include <string>' | clang++ -stdlib=libc++ -x c++ -fsyntax-only - 2>/dev/null; }

# The replacement's header swapped for the other host's, as a caller built
# against another host's EvEvent.h has it.
mkdir -p "$work/other-host/host"
cp "$src/tests/abi/other-host/EvEvent.h" "$work/other-host/host/EvEvent.h"
# The library beside a host library that says it has another layout.
mkdir -p "$work/tagged"
cp -L "$lib/libJxRestart.so.1" "$work/tagged/"
g++ -std=c++11 -shared -fPIC -DOTHER_HOST_TAGGED -I "$src" "$src/tests/abi/other-host/EvEvent.cpp" \
  -o "$work/tagged/libZnLib.so"
g++ -std=c++11 "$src/tests/abi/LoadPlugin.cpp" -ldl -o "$work/load-plugin"
valgrind=()
command -v valgrind >/dev/null && valgrind=(valgrind -q --error-exitcode=9 --leak-check=full)

n=0
while IFS='|' read -r row_name compiler consumer expect flags; do
  row_name=$(echo $row_name) compiler=$(echo $compiler) consumer=$(echo $consumer) expect=$(echo $expect)
  [ -n "$row_name" ] || continue
  n=$((n + 1))
  flags=${flags//OTHER_HOST/$work/other-host}
  if ! command -v "$compiler" >/dev/null; then echo "skipped: $row_name: no $compiler"; continue; fi
  if [[ $flags == *libc++* ]] && ! have_libcxx; then echo "skipped: $row_name: no libc++ (libc++-dev)"; continue; fi
  out=$work/row-$n
  standard=-std=c++11
  [[ $flags == *-std=* ]] && standard=
  case $consumer in
    full) sources=("$src/examples/consumer/consumer.cpp") ;;
    ints) sources=("$src/tests/abi/IntOnlyConsumer.cpp") ;;
    plugin) sources=(-shared -fPIC "$src/tests/abi/Plugin.cpp") ;;
  esac
  # shellcheck disable=SC2086
  if $compiler $standard $flags -I "$src" "${sources[@]}" -L "$lib" -lJxRestart -Wl,-rpath,"$lib" \
       -o "$out" >"$out.build" 2>&1; then built=yes; else built=no; fi
  case $expect in
    runs)
      [ $built = yes ] || { cat "$out.build"; fail "did not build"; continue; }
      command=("$out")
      [ $consumer = plugin ] && command=("$work/load-plugin" "$out")
      "${valgrind[@]}" "${command[@]}" >"$out.run" 2>&1 || { cat "$out.run"; fail "did not run clean"; continue; } ;;
    link)
      [ $built = no ] || { fail "linked, though it must not"; continue; }
      grep -F 'LibraryBuiltWith' "$out.build" >/dev/null || { cat "$out.build"; fail "the refusal names no build tag"; continue; } ;;
    load)
      [ $built = yes ] || { cat "$out.build"; fail "the plugin did not build"; continue; }
      status=0
      "$work/load-plugin" "$out" >"$out.run" 2>&1 || status=$?
      [ $status = 3 ] && grep 'LibraryBuiltWith' "$out.run" >/dev/null ||
        { cat "$out.run"; fail "the plugin was not refused at load (status $status)"; continue; } ;;
    host)
      [ $built = yes ] || { cat "$out.build"; fail "did not build"; continue; }
      status=0
      LD_LIBRARY_PATH=$work/tagged "$out" >"$out.run" 2>&1 || status=$?
      line='libJxRestart: the host library libZnLib.so lays out EvEvent in 64 bytes aligned to 8, but libJxRestart was built for 1 bytes aligned to 1'
      [ $status = 127 ] && [ "$(cat "$out.run")" = "$line" ] ||
        { cat "$out.run"; fail "not stopped at load with the one line (status $status)"; continue; } ;;
    cxx98)
      [ $built = no ] || { fail "compiled as C++98"; continue; }
      errors=$(grep -c 'error:' "$out.build" || true)
      [ "$errors" = 1 ] && grep -F 'libJxRestart needs C++11 or later' "$out.build" >/dev/null ||
        { cat "$out.build"; fail "not one line asking for C++11 ($errors lines with errors)"; continue; } ;;
  esac
  echo "ok: $row_name ($expect)"
done <<<"$rows"
echo "$n consumer builds, $failures failed"
[ $failures = 0 ]

#!/usr/bin/env bash
# Builds the applications of this folder against an installed Pelmux, the way an application
# developer would, and runs them.
#   run.sh linux BUILD     installs BUILD (the linux preset's folder), moves the installed tree,
#                          builds with find_package(Pelmux) and with pkg-config, and runs both
#                          against the installed `pelmux sim` and with no unit at all; builds
#                          the samples (samples/) the same way and runs them against that unit.
#   run.sh windows BUILD   copies BUILD/package (the win32 preset's zip-ready tree) elsewhere,
#                          builds with the cross compiler against the import library, and runs
#                          the programs beside Pelmux.dll under wine (no driver there).
#   run.sh windows BUILD TEST-DLL TOOL   also runs the example beside the test DLL (the win32-sim
#                          preset's Pelmux.dll) against `TOOL sim --tcp`: the same program, built
#                          against the import library, drives the simulated unit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
. "$here/../shared/tcp-unit.sh"
. "$here/../shared/samples.sh"
mode=${1:?usage: run.sh linux|windows BUILD}
build=$(cd "${2:?usage: run.sh linux|windows BUILD}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pelmux-package.XXXXXX")
sim=""
cleanup() {
  [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
  [ -z "$sim" ] || wait "$sim" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

need() {
  command -v "$1" >/dev/null || { echo "FAIL: $1 is missing (make deps / make deps-wine installs it)"; exit 1; }
}

# expect NAME STATUS TEXT -- COMMAND...: the command's first line of output and its exit status.
expect() {
  local name=$1 status=$2 text=$3
  shift 4
  local out rc=0
  out=$("$@" 2>&1 | tr -d '\r') || rc=$?
  if [ "$rc" -ne "$status" ] || [ "$(printf '%s\n' "$out" | head -n 1)" != "$text" ]; then
    fail "$name: expected \"$text\" (exit $status), got exit $rc:"
    printf '%s\n' "$out" | sed 's/^/    /'
  else
    echo "ok   $name: $text"
  fi
}

# checks NAME -- COMMAND...: the exports program passes every check.
checks() {
  local name=$1
  shift 2
  local out rc=0
  out=$("$@" 2>&1 | tr -d '\r') || rc=$?
  if [ "$rc" -ne 0 ] || ! printf '%s\n' "$out" | grep -q '^28 checks, 0 failed$'; then
    fail "$name: every export checked, exit $rc:"
    printf '%s\n' "$out" | grep -v '^ok ' | sed 's/^/    /'
  else
    echo "ok   $name: 28 checks"
  fi
}

configure() { # SOURCE DIR PREFIX [cmake arguments]
  local from=$1 dir=$2 prefix=$3
  shift 3
  cmake -S "$from" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" "$@" >"$work/cmake.log" 2>&1 &&
    cmake --build "$dir" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "build in $dir"; exit 1; }
}

linux() {
  need pkg-config
  need c++
  # The installed tree is moved before use: nothing in it may name the place it was installed to.
  cmake --install "$build" --prefix "$work/installed" >/dev/null
  mv "$work/installed" "$work/prefix"
  local prefix=$work/prefix
  configure "$here" "$work/cmake" "$prefix"

  local pc
  pc=$(dirname "$(find "$prefix" -name pelmux.pc)")
  local flags
  flags=$(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs pelmux)
  # The README's line: the library's folder as the programs' run-time path.
  flags="$flags -Wl,-rpath,$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir pelmux)"
  c++ -std=c++17 -Wall -Wextra -Werror "$here/example.cpp" $flags -o "$work/example-pkgconfig"
  c++ -std=c++17 -Wall -Wextra -Werror "$here/exports.cpp" $flags -o "$work/exports-pkgconfig"

  export PELMUX_ROOT=$work/root
  mkdir -m 0700 "$PELMUX_ROOT"
  expect "find_package, no unit" 1 "FPGA version: Open failed" -- "$work/cmake/example"
  expect "pkg-config, no unit" 1 "FPGA version: Open failed" -- "$work/example-pkgconfig"

  "$prefix/bin/pelmux" sim >"$work/sim.log" 2>&1 &
  sim=$!
  for _ in $(seq 100); do [ -S "$PELMUX_ROOT/board.sock" ] && break; sleep 0.05; done
  [ -S "$PELMUX_ROOT/board.sock" ] || { cat "$work/sim.log"; echo "FAIL: pelmux sim did not start"; exit 1; }
  "$prefix/bin/pelmux" simctl '{"cmd":"set","path":"/versions/fpga","value":[3,1,4,1]}' >/dev/null
  expect "find_package, simulated unit" 0 "FPGA version 3.1.4.1" -- "$work/cmake/example"
  expect "pkg-config, simulated unit" 0 "FPGA version 3.1.4.1" -- "$work/example-pkgconfig"
  checks "find_package, exports" -- "$work/cmake/exports"
  checks "pkg-config, exports" -- "$work/exports-pkgconfig"
  # The samples, built on their own against the installed package as an application developer
  # builds them, against the same unit.
  configure "$source/samples" "$work/samples" "$prefix"
  run_samples "$work/samples" "$prefix/bin/pelmux" || fail "the samples against the simulated unit"
}

windows() {
  local testDll="" tool=""
  if [ -n "${3:-}" ]; then
    testDll=$(realpath "$3")
    tool=$(realpath "${4:?usage: run.sh windows BUILD TEST-DLL TOOL}")
  fi
  need wine
  need i686-w64-mingw32-objdump
  [ -f "$build/package/lib/libPelmux.a" ] || { echo "FAIL: $build/package has no lib/libPelmux.a"; exit 1; }
  cp -r "$build/package" "$work/prefix"
  configure "$here" "$work/cmake" "$work/prefix" --toolchain "$source/cmake/toolchain-mingw-i686.cmake"
  cp "$work/prefix/bin/Pelmux.dll" "$work/cmake/"

  # The program asks Pelmux.dll for the functions by their plain export names.
  local imports
  imports=$(i686-w64-mingw32-objdump -p "$work/cmake/example.exe" |
    sed -n '/DLL Name: Pelmux.dll/,/^$/p' | awk 'NF >= 3 && $2 ~ /^[0-9]+$/ {print $3}' | sort | tr '\n' ' ')
  if [ "$imports" != "GetAuxVersion Varnholt::GetErrorStringA " ]; then
    fail "example.exe imports from Pelmux.dll: \"$imports\""
  else
    echo "ok   example.exe imports $imports"
  fi

  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX="$build/wineprefix-package"
  if [ ! -d "$WINEPREFIX" ]; then
    wine cmd /c exit >/dev/null 2>&1 || { rm -rf "$WINEPREFIX"; echo "FAIL: wine cannot start (WINEPREFIX $WINEPREFIX)"; exit 1; }
  fi
  cd "$work/cmake"
  expect "import library, no driver" 1 "FPGA version: Open failed" -- wine example.exe
  checks "import library, exports" -- wine exports.exe
  # Without the board driver the trace says so, once however many objects try to open it.
  local traced
  traced=$(PELMUX_TRACE=stderr wine exports.exe 2>&1 >/dev/null | tr -d '\r' | grep -c '^No board driver found: ') || true
  if [ "$traced" -ne 1 ]; then
    fail "no driver: the trace names it $traced times, not once"
  else
    echo "ok   no driver: the trace names it once"
  fi

  [ -n "$testDll" ] || return 0
  mkdir "$work/unit" "$work/on-unit"
  cp example.exe "$work/on-unit/"
  cp "$testDll" "$work/on-unit/Pelmux.dll"
  start_tcp_unit "$tool" "$work/unit" "$work/sim.log"
  PELMUX_ROOT=$work/unit "$tool" simctl '{"cmd":"set","path":"/versions/fpga","value":[3,1,4,1]}' >/dev/null
  cd "$work/on-unit"
  expect "import library, simulated unit" 0 "FPGA version 3.1.4.1" -- wine example.exe
}

"$mode" "$@"
if [ "$failures" -ne 0 ]; then
  echo "$failures package checks failed"
  exit 1
fi
echo "package checks ($mode) passed"

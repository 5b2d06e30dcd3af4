#!/usr/bin/env bash
# Tries a Windows program with Pelmux.dll under wine against a simulated unit, in one command
# (`make try-wine`): starts `pelmux sim --tcp` on a free loopback port, maps wine's COM1 to the
# unit's serial line through wine's registry (the line a firmware upgrade writes to; the mapping
# holds across restarts of wine's server), places the test Pelmux.dll and the unit's Jida.dll
# beside the program and runs it. The unit and the program's folder are thrown away afterwards;
# the wine prefix (BUILD/wineprefix-try) is kept for the next try.
#
# Usage: try-wine.sh [PROGRAM.exe [ARGUMENTS...]]
#   Without a program: the samples (samples/, built here with the MinGW cross compiler against the
#   test build's package), each in turn as the tests run them (the upgrade writes the front
#   controller with an image the tool makes); in a tree without samples, the test build's check
#   program pelmux_unit_checks.exe.
#   PELMUX_WIN32_SIM  the win32-sim preset's folder (default build/win32-sim)
#   PELMUX_TOOL       the Linux command-line tool (default build/linux/pelmux)
# The program's exit status is the script's; with the samples, the first one that fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/.." && pwd)
. "$source/tests/shared/tcp-unit.sh"
. "$source/tests/shared/samples.sh"
build=$(cd "${PELMUX_WIN32_SIM:-$source/build/win32-sim}" && pwd) ||
  { echo "try-wine.sh: no test build (cmake --preset win32-sim && cmake --build --preset win32-sim)" >&2; exit 2; }
tool=$(realpath "${PELMUX_TOOL:-$source/build/linux/pelmux}")
for file in "$build/Pelmux.dll" "$build/unit/Jida.dll" "$tool"; do
  [ -f "$file" ] || { echo "try-wine.sh: $file is missing (make try-wine builds it)" >&2; exit 2; }
done
command -v wine >/dev/null || { echo "try-wine.sh: wine is not installed (make deps-wine)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pelmux-try-XXXXXX")
sim=""
cleanup() {
  [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
  [ -z "$sim" ] || wait "$sim" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$build/wineprefix-try"
if [ ! -d "$WINEPREFIX" ]; then
  echo "Making the wine prefix $WINEPREFIX"
  wine cmd /c exit >"$work/wineboot.log" 2>&1 || { tail -n 20 "$work/wineboot.log" >&2; rm -rf "$WINEPREFIX"; exit 1; }
fi

# The programs to run, with the folder each runs in.
run="$work/run"
mkdir -p "$run"
programs=()
samples=""
if [ $# -gt 0 ]; then
  program=$(realpath "$1")
  shift
  [ -f "$program" ] || { echo "try-wine.sh: no program $program" >&2; exit 2; }
  cp "$program" "$run/"
  programs=("$(basename "$program")")
elif [ -f "$source/samples/CMakeLists.txt" ]; then
  package=$build/package-test-build
  [ -d "$package" ] || { echo "try-wine.sh: $package is missing (cmake --build --preset win32-sim)" >&2; exit 2; }
  echo "Building the samples against $package"
  if ! cmake -S "$source/samples" -B "$work/samples" -G Ninja -DCMAKE_BUILD_TYPE=Release \
         --toolchain "$source/cmake/toolchain-mingw-i686.cmake" -DPelmux_DIR="$package/lib/cmake/Pelmux" \
         -DCMAKE_EXE_LINKER_FLAGS="-static" >"$work/samples.log" 2>&1 ||
     ! cmake --build "$work/samples" >>"$work/samples.log" 2>&1; then
    cat "$work/samples.log" >&2
    exit 1
  fi
  while IFS= read -r exe; do
    cp "$exe" "$run/"
    samples=yes
  done < <(find "$work/samples" -name '*.exe' -not -path '*/CMakeFiles/*' | sort)
  [ -n "$samples" ] || { echo "try-wine.sh: the samples built no program" >&2; exit 1; }
else
  cp "$build/pelmux_unit_checks.exe" "$run/"
  programs=(pelmux_unit_checks.exe)
  set -- 'Z:'"${work//\//\\}"'\snapshot.bmp'
fi
cp "$build/Pelmux.dll" "$build/unit/Jida.dll" "$run/"

mkdir "$work/unit"
start_tcp_unit "$tool" "$work/unit" "$work/sim.log"
map_wine_com1 "$work/unit/COM1"
echo "Simulated unit: PELMUX_UNIT=$PELMUX_UNIT, wine's COM1 = $(readlink "$WINEPREFIX/dosdevices/com1")"
echo "Steer it meanwhile with: PELMUX_ROOT=$work/unit $tool simctl ... (or sim set ...)"

if [ -n "$samples" ]; then
  run_samples "$run" "$tool" wine
  exit $?
fi
status=0
for program in "${programs[@]}"; do
  echo "== wine $program $*"
  rc=0
  (cd "$run" && wine "$program" "$@") | tr -d '\r' || rc=$?
  echo "== $program: exit $rc"
  [ "$status" -ne 0 ] || status=$rc
done
exit $status

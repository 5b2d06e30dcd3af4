#!/usr/bin/env bash
# Applications built in Microsoft's ABI, as with Visual Studio, with LLVM's tools in its place:
#  1. the public headers compile without warnings as C++11, C++14 and C++17 with GCC, Clang and
#     clang in Microsoft mode, after <windows.h> on the Windows targets, and each header on its own
#     in Microsoft mode;
#  2. Client.cpp, C++14 from the public headers alone, builds with clang-cl through
#     find_package(Pelmux) on the Windows package and links against Pelmux.lib with lld-link, the
#     x86 defaults and /SAFESEH, with no C runtime; it imports the functions by their aliases;
#  3. it runs under wine beside the test DLL against `pelmux sim --tcp`, calls every interface
#     through the headers and compares with the shared expectation table and the Linux build's
#     message texts.
# Debian ships neither the Windows SDK nor Microsoft's C++ library: sdk/ holds the stand-ins (Wine's
# headers from libwine-dev, <cstdint>, import libraries for kernel32 and ws2_32 made here).
# Usage: run.sh BUILD-WIN32 BUILD-WIN32-SIM BUILD-LINUX   (the presets' folders)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
. "$here/../shared/tcp-unit.sh"
usage="usage: run.sh BUILD-WIN32 BUILD-WIN32-SIM BUILD-LINUX"
package=$(cd "${1:?$usage}/package" && pwd)
simBuild=$(cd "${2:?$usage}" && pwd)
linux=$(cd "${3:?$usage}" && pwd)
# The headers as the package ships them.
include=$package/include
work=$(mktemp -d "${TMPDIR:-/tmp}/pelmux-msvc.XXXXXX")
sim=""
cleanup() {
  [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
  [ -z "$sim" ] || wait "$sim" 2>/dev/null || true
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for tool in clang++ clang-cl-14 lld-link llvm-dlltool llvm-readobj g++ i686-w64-mingw32-g++-posix wine cmake; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (make deps / make deps-wine installs it)"; exit 1; }
done
wineHeaders=/usr/include/wine/wine
[ -f "$wineHeaders/windows/windows.h" ] || { echo "FAIL: $wineHeaders has no windows.h (libwine-dev; make deps)"; exit 1; }

# ---- 1. The headers
msvc=(clang++ --target=i686-pc-windows-msvc -fms-compatibility -fms-extensions -msse2
      -isystem "$here/sdk" -isystem "$wineHeaders/windows" -isystem "$wineHeaders/msvcrt")
compile() { # NAME SOURCE COMPILER...
  local name=$1 file=$2
  shift 2
  if ! "$@" -I"$include" -Wall -Wextra -Werror -fsyntax-only -x c++ "$file" >"$work/compile.log" 2>&1; then
    fail "headers, $name:"
    sed 's/^/    /' "$work/compile.log" | sed -n '1,20p'
  fi
}
printf '#include <pelmux/Pelmux.h>\n' >"$work/all.cpp"
printf '#include <windows.h>\n#include <pelmux/Pelmux.h>\n' >"$work/windows-first.cpp"
for std in c++11 c++14 c++17; do
  compile "GCC $std" "$work/all.cpp" g++ -std=$std -Wpedantic
  compile "Clang $std" "$work/all.cpp" clang++ -std=$std -Wpedantic
  compile "MinGW GCC $std after <windows.h>" "$work/windows-first.cpp" i686-w64-mingw32-g++-posix -std=$std -Wpedantic
  compile "Microsoft mode $std after <windows.h>" "$work/windows-first.cpp" "${msvc[@]}" -std=$std
done
for header in "$include"/pelmux/*.h; do
  printf '#include <pelmux/%s>\n' "$(basename "$header")" >"$work/one.cpp"
  compile "Microsoft mode c++14, $(basename "$header") on its own" "$work/one.cpp" "${msvc[@]}" -std=c++14
done
[ "$failures" -eq 0 ] && echo "ok   headers: C++11, C++14, C++17 with GCC, Clang, MinGW and in Microsoft mode"
# A 64-bit Windows build is refused by the headers, in words, not later by the linker.
for target in x86_64-pc-windows-msvc x86_64-w64-mingw32; do
  refusal=$(clang++ --target=$target -isystem "$here/sdk" -I"$include" -fsyntax-only -x c++ "$work/all.cpp" 2>&1 || true)
  if grep -q 'error: "Pelmux.dll is a 32-bit library: build the application for 32-bit Windows (x86)"' <<<"$refusal"; then
    echo "ok   headers: a $target build is refused"
  else
    fail "headers: a $target build is not refused with the 32-bit message"
  fi
done

# ---- 2. The application, built as a Visual Studio project would be
[ -f "$package/lib/Pelmux.lib" ] || { echo "FAIL: $package has no lib/Pelmux.lib"; exit 1; }
cp -r "$package" "$work/prefix"
mkdir "$work/sdk" "$work/rows"
for dll in kernel32 ws2_32; do
  llvm-dlltool --kill-at -m i386 -d "$here/sdk/$dll.def" -l "$work/sdk/$dll.lib"
done
# The expected values: the shared table and the Linux build's message texts.
c++ -std=c++20 -Wall -Wextra -Werror -I"$source/include" -I"$source/tests" -I"$here" "$here/ExpectedRows.cpp" \
  -L"$linux" -lpelmux -Wl,-rpath,"$linux" -o "$work/rows/pelmux_msvc_rows"
"$work/rows/pelmux_msvc_rows" "$work/rows/ExpectedRows.h"
if ! cmake -S "$here" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
       --toolchain "$here/toolchain-clang-cl.cmake" -DCMAKE_PREFIX_PATH="$work/prefix" \
       -DPELMUX_SDK="$work/sdk" -DPELMUX_ROWS_DIR="$work/rows" >"$work/cmake.log" 2>&1 ||
   ! cmake --build "$work/build" >>"$work/cmake.log" 2>&1; then
  { grep -v '^-- ' "$work/cmake.log" || true; } | sed 's/^/    /' | sed -n '1,40p'
  fail "the application does not build against Pelmux.lib"
  exit 1
fi
grep -q "^-- Pelmux import library: $work/prefix/lib/Pelmux.lib$" "$work/cmake.log" &&
  echo "ok   find_package(Pelmux) with clang-cl gives Pelmux.lib" ||
  fail "find_package(Pelmux) with clang-cl does not give Pelmux.lib: $(grep 'import library' "$work/cmake.log")"
client=$work/build/pelmux_msvc_client.exe

# What it imports: from Pelmux.dll the standard-call aliases only, otherwise system DLLs, and no
# C runtime.
imports=$(llvm-readobj --coff-imports "$client" | awk '/Name:/ {dll = $2} /Symbol:/ {print dll, $2}')
dlls=$(printf '%s\n' "$imports" | awk '{print $1}' | sort -u | tr '\n' ' ')
plain=$(printf '%s\n' "$imports" | awk '$1 == "Pelmux.dll" && $2 !~ /^_Get[A-Za-z]+@[04]$/' | tr '\n' ' ')
fromPelmux=$(printf '%s\n' "$imports" | awk '$1 == "Pelmux.dll"' | wc -l)
if [ "$dlls" != "KERNEL32.dll Pelmux.dll WS2_32.dll " ] || [ -n "$plain" ] || [ "$fromPelmux" -ne 26 ]; then
  fail "imports: DLLs \"$dlls\", $fromPelmux functions of Pelmux.dll, not by alias: \"$plain\""
else
  echo "ok   the application imports 26 functions of Pelmux.dll by alias, and no C runtime"
fi

# ---- 3. Against the simulated unit, beside the test DLL
mkdir "$work/run" "$work/unit"
cp "$client" "$simBuild/Pelmux.dll" "$simBuild/unit/Jida.dll" "$work/run/"
start_tcp_unit "$linux/pelmux" "$work/unit" "$work/sim.log"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$simBuild/wineprefix-msvc"
if [ ! -d "$WINEPREFIX" ]; then
  wine cmd /c exit >/dev/null 2>&1 || { rm -rf "$WINEPREFIX"; echo "FAIL: wine cannot start (WINEPREFIX $WINEPREFIX)"; exit 1; }
fi
status=0
(cd "$work/run" && wine pelmux_msvc_client.exe) 2>/dev/null | tr -d '\r' >"$work/client.log" || status=$?
{ grep -v '^[0-9]* passed, ' "$work/client.log" || true; } | sed 's/^/    /' | sed -n '1,40p'
summary=$(tail -n 1 "$work/client.log")
if [ "$status" -ne 0 ] || ! [[ "$summary" =~ ^[0-9]+\ passed,\ 0\ failed$ ]]; then
  fail "the application against the simulated unit: exit $status, \"$summary\""
else
  echo "ok   the application against the simulated unit: $summary"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures Microsoft-ABI checks failed"
  exit 1
fi
echo "Microsoft-ABI checks passed"

#!/usr/bin/env bash
# Runs the Windows checks under wine in a private prefix: once beside Pelmux.dll alone (no driver,
# no vendor library), once with the stand-in Jida.dll beside them.
set -euo pipefail
build=$(cd "${1:-build/win32}" && pwd)
export WINEDEBUG=-all
export WINEPREFIX="$build/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
# The first start makes the prefix; its messages are not the checks'.
[ -d "$WINEPREFIX" ] || wine cmd /c exit >/dev/null 2>&1 || true
cp "$build/Pelmux.dll" "$build/pelmux_windows_tests.exe" "$build/vendor/"
(cd "$build/vendor" && wine pelmux_windows_tests.exe vendor 2>/dev/null | tr -d '\r')
(cd "$build" && wine pelmux_windows_tests.exe 2>/dev/null | tr -d '\r')

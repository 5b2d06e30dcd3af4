#!/usr/bin/env bash
# Runs the Windows checks under wine in a private prefix: beside the stand-in Jida.dll, beside its
# variant without ordinal 80, without it but with it in the current folder and on the PATH, beside
# Pelmux.dll in a folder of its own below the program, once
# with the memory used up (the factories), and last beside Pelmux.dll alone (no driver, no vendor
# library).
set -euo pipefail
build=$(cd "${1:-build/win32}" && pwd)
export WINEDEBUG=-all
export WINEPREFIX="$build/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
# The first start makes the prefix; its messages are not the checks'.
[ -d "$WINEPREFIX" ] || wine cmd /c exit >/dev/null 2>&1 || true
for variant in vendor vendor-gap; do
  cp "$build/Pelmux.dll" "$build/pelmux_windows_tests.exe" "$build/$variant/"
  (cd "$build/$variant" && wine pelmux_windows_tests.exe "$variant" 2>/dev/null | tr -d '\r')
done
# No Jida.dll beside, one in ../vendor: the checks plant it in the current folder and on the PATH,
# then copy it beside themselves.
mkdir -p "$build/vendor-late"
rm -f "$build/vendor-late/Jida.dll"
cp "$build/Pelmux.dll" "$build/pelmux_windows_tests.exe" "$build/vendor-late/"
(cd "$build/vendor-late" && wine pelmux_windows_tests.exe vendor-late 2>/dev/null | tr -d '\r')
# Pelmux.dll installed in a folder of its own beside its Jida.dll, the program one folder up.
mkdir -p "$build/vendor-own/pelmux"
cp "$build/Pelmux.dll" "$build/vendor/Jida.dll" "$build/vendor-own/pelmux/"
cp "$build/pelmux_windows_tests.exe" "$build/vendor-own/"
(cd "$build/vendor-own" && wine pelmux_windows_tests.exe vendor-own 2>/dev/null | tr -d '\r')
(cd "$build" && wine pelmux_windows_tests.exe oom 2>/dev/null | tr -d '\r')
# The settings path against a later locale, with an application-data folder named "Dätä".
folders='HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
LC_ALL=C.UTF-8 wine reg add "$folders" /v "Common AppData" /t REG_EXPAND_SZ /d 'C:\ProgramData\Dätä' /f >/dev/null 2>&1
(cd "$build" && wine pelmux_windows_tests.exe locale 2>/dev/null | tr -d '\r')
wine reg add "$folders" /v "Common AppData" /t REG_EXPAND_SZ /d '%ProgramData%' /f >/dev/null 2>&1
(cd "$build" && wine pelmux_windows_tests.exe 2>/dev/null | tr -d '\r')

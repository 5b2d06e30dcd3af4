#!/usr/bin/env bash
# Runs the test Pelmux.dll under wine against a simulated unit: starts `pelmux sim --tcp` on a
# free loopback port in a throwaway folder and wine prefix, maps wine's COM1 to the unit's serial
# line, runs pelmux_unit_checks.exe beside the forwarding Jida.dll, and opens the snapshot the DLL
# wrote with the image-library check; then runs the samples there. A wine that cannot start fails
# the run.
# Usage: run-sim.sh BUILD-WIN32-SIM PELMUX-TOOL
set -euo pipefail
build=$(cd "${1:-build/win32-sim}" && pwd)
tool=$(cd "$(dirname "${2:-build/linux/pelmux}")" && pwd)/$(basename "${2:-build/linux/pelmux}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../shared/tcp-unit.sh"
. "$here/../shared/samples.sh"
work=$(mktemp -d /tmp/pelmux-wine-XXXXXX)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

command -v wine >/dev/null || { echo "run-sim.sh: wine is not installed (make deps-wine)" >&2; exit 1; }
export WINEDEBUG=-all
export WINEPREFIX="$work/prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
if ! wine cmd /c exit >"$work/wineboot.log" 2>&1; then
  echo "run-sim.sh: wine cannot start:" >&2
  tail -n 20 "$work/wineboot.log" >&2
  exit 1
fi

# The unit, on a port the system chooses; its first lines name the socket and the port.
start_tcp_unit "$tool" "$work/unit" "$work/sim.log"

# wine's COM1 is the unit's serial line (a pseudo-terminal behind unit/COM1), also after a restart
# of wine's server.
map_wine_com1 "$work/unit/COM1"

run="$work/run"
mkdir -p "$run"
cp "$build/Pelmux.dll" "$build/pelmux_unit_checks.exe" "$build/unit/Jida.dll" "$run/"
status=0
(cd "$run" && PELMUX_TRACE=stderr wine pelmux_unit_checks.exe 'Z:'"${work//\//\\}"'\snapshot.bmp' \
  2>"$work/trace.log" | tr -d '\r') | tee "$work/checks.log" || status=1
grep -q '^[0-9]* passed, 0 failed$' "$work/checks.log" || status=1
# The addresses the checks gave that reach no unit: the trace says why, once each.
for cause in 'PELMUX_UNIT is not set;' 'PELMUX_UNIT "tcp:localhost:[0-9]*" is not tcp:HOST:PORT'; do
  [ "$(tr -d '\r' <"$work/trace.log" | grep -c "^unit not reached: $cause")" = 1 ] ||
    { echo "FAILED: the trace does not say once: $cause"; status=1; }
done

# The distribution's Python, which has Pillow (python3-pil), before any other on the PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
frame=$(sed -n 's/^snapshot-frame \([0-9]*\)$/\1/p' "$work/checks.log")
if [ -n "$frame" ] && "$python" "$here/../tools/check_snapshot.py" "$work/snapshot.bmp" "$frame"; then
  echo "snapshot: opened by the image library, frame $frame matches"
else
  echo "FAILED: the snapshot the DLL wrote does not open as the unit's picture"
  status=1
fi

# The samples (built by the preset against the import library) beside the same DLLs, against the
# same unit; the upgrade goes through COM1.
cp "$build"/samples/*.exe "$run/"
run_samples "$run" "$tool" wine || status=1
exit $status

# Sourced by the scripts that run Windows programs against the simulated unit over loopback TCP.
#
# start_tcp_unit TOOL ROOT LOG: starts `TOOL sim --root ROOT --tcp 127.0.0.1:0` (a port the system
# chooses), its output in LOG; once it names its socket, sets `sim` to its process and exports
# PELMUX_UNIT (tcp:ADDRESS:PORT). A unit that has not started within 30 s (a busy machine starts it
# late) or that ended ends the script with its log.
start_tcp_unit() {
  local tool=$1 root=$2 log=$3
  "$tool" sim --root "$root" --tcp 127.0.0.1:0 >"$log" 2>&1 &
  sim=$!
  for _ in $(seq 600); do
    grep -q '^Simulated unit serving tcp:' "$log" && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.05
  done
  PELMUX_UNIT=$(sed -n 's/^Simulated unit serving \(tcp:.*\)$/\1/p' "$log")
  if [ -z "$PELMUX_UNIT" ]; then
    cat "$log" >&2
    echo "FAIL: pelmux sim --tcp did not start" >&2
    exit 1
  fi
  export PELMUX_UNIT
}

# map_wine_com1 LINE: wine's COM1 in $WINEPREFIX is LINE (the unit's serial line, a link to its
# pseudo-terminal), through the value "COM1" of HKLM\Software\Wine\Ports. wine makes its dosdevices
# link com1 from that value each time its server starts; a link made by hand is set back to
# /dev/ttyS0 at the next start. The server is restarted so that the link is made now, and a link
# that does not lead to the line ends the script.
map_wine_com1() {
  local device
  device=$(readlink -f "$1")
  if ! wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$device" /f >/dev/null 2>&1; then
    echo "FAIL: wine's registry does not take COM1 = $device" >&2
    exit 1
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wine cmd /c exit >/dev/null 2>&1 || true
  if [ "$(readlink "$WINEPREFIX/dosdevices/com1")" != "$device" ]; then
    echo "FAIL: wine's COM1 leads to '$(readlink "$WINEPREFIX/dosdevices/com1")', not to the unit's line $device" >&2
    exit 1
  fi
}

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

# Sourced by the scripts that run the samples (samples/) against a simulated unit.
#
# run_samples DIR TOOL [RUNNER...]: runs the four samples built in DIR from that folder, each as
# `RUNNER... ./NAME` (RUNNER: nothing, or wine for the Windows programs, NAME.exe), against the
# unit the caller started; the upgrade writes the front controller with an image of the smallest
# size it takes (the serial line's time is the run's longest), made by TOOL. A sample exits with 0
# only when every step it takes succeeded. Prints a line per sample, and answers 1 when one failed.
run_samples() {
  local dir=$1 tool=$2 ext="" failed=0 name out rc
  shift 2
  [ ! -f "$dir/versions.exe" ] || ext=.exe
  "$tool" firmware image front "$dir/front.hex" --bytes 20480 >/dev/null
  for name in versions backlight settings upgrade; do
    local args=()
    [ "$name" != upgrade ] || args=(front front.hex)
    rc=0
    out=$(cd "$dir" && "$@" "./$name$ext" "${args[@]}" 2>&1) || rc=$?
    out=${out//$'\r'/}
    if [ "$rc" -ne 0 ]; then
      echo "FAIL: sample $name exited with $rc:"
      printf '%s\n' "$out" | sed 's/^/    /'
      failed=1
    else
      echo "ok   sample $name: $(printf '%s\n' "$out" | tail -n 1)"
    fi
  done
  return $failed
}

#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for FUZZ_SECONDS each, from its seed corpus.
set -euo pipefail
build=${1:-build/linux-fuzz}
seconds=${FUZZ_SECONDS:-20}
here=$(cd "$(dirname "$0")" && pwd)
shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$(mktemp -d)
  [ -d "$here/corpus/$name" ] && cp -r "$here/corpus/$name/." "$corpus/"
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2>"$corpus.log" || { tail -40 "$corpus.log"; exit 1; }
  rm -rf "$corpus" "$corpus.log"
done
echo "fuzzed ${#targets[@]} targets"

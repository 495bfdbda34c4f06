#!/usr/bin/env bash
# One fuzz target as CI runs it: replays every kept input of REGRESSIONS_DIR
# whole, then fuzzes with a fixed seed for a fixed number of runs from a fresh
# working corpus seeded with them, so that the same tree gives the same verdict
# on any machine. An input that takes longer than the time-out is a finding
# like a crash.
#   run-fuzzer.sh BINARY REGRESSIONS_DIR RUNS
set -euo pipefail
binary=$1
regressions=$2
runs=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
options=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/")
inputs=("$regressions"/*)
if [ -e "${inputs[0]}" ]; then
  "$binary" "${options[@]}" "${inputs[@]}"
fi
"$binary" "${options[@]}" -seed=1 -runs="$runs" -max_len=4096 -print_final_stats=1 "$work/corpus" "$regressions"

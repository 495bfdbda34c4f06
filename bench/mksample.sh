#!/usr/bin/env bash
# Seconds to generate 12 channels x 60 s of 720p25 sample recordings, once per format.
#   bench/mksample.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_TESTS=OFF -DDRAVIK_BENCH=OFF >/dev/null
cmake --build "$build" --target dravik-tool >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-6s %10s %10s\n' format seconds MB
for format in qvv avi flv mp4; do
  t0=$(date +%s.%N)
  "$build/cli/dravik-tool" mksample "$work/$format" --format "$format" --channels 12 --seconds 60 --groups 1 \
    --width 1280 --height 720 --fps 25 >/dev/null
  t1=$(date +%s.%N)
  printf '%-6s %10.1f %10.0f\n' "$format" "$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b-a}')" \
    "$(du -sm "$work/$format" | cut -f1)"
done

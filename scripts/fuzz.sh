#!/usr/bin/env bash
# Open-ended fuzzing with random seeds, to run before a change lands (CI only
# replays and fuzzes with a fixed seed): every target for SECONDS (default
# 600), two at a time, keeping a corpus per target in build/fuzz-corpus/.
# Whatever a target finds is copied into fuzz/regressions/<target>/ so that CI
# replays it from then on; the script exits non-zero when anything was found.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
build=build/ci
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(voice_fuzzer qvv_fuzzer amf0_fuzzer filename_fuzzer avi_fuzzer flv_fuzzer)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DDRAVIK_SANITIZE=address -DDRAVIK_FUZZ=ON -DDRAVIK_BENCH=ON >/dev/null
cmake --build "$build" --target "${targets[@]}"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

campaign() {
  local target=$1 seconds=$2 build=$3
  local corpus=$build/fuzz-corpus/$target findings=$build/fuzz-findings/$target
  mkdir -p "$corpus" "$findings"
  "$build/fuzz/$target" -seed=0 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "fuzz/regressions/$target" \
    >"$build/fuzz-findings/$target.log" 2>&1 || true
  local found=0
  for f in "$findings"/*; do
    [ -e "$f" ] || continue
    cp "$f" "fuzz/regressions/$target/"
    echo "$target: kept $(basename "$f") in fuzz/regressions/$target/"
    found=1
  done
  echo "$target: $(grep -E 'stat::number_of_executed_units' "$build/fuzz-findings/$target.log" | awk '{print $2}') runs in ${seconds} s"
  return $found
}
export -f campaign
status=0
printf '%s\n' "${targets[@]}" | xargs -P 2 -I{} bash -c 'campaign "$@"' _ {} "$seconds" "$build" || status=1
[ $status -eq 0 ] && echo "fuzz: nothing found" || echo "fuzz: findings kept in fuzz/regressions/ (see $build/fuzz-findings/*.log)"
exit $status

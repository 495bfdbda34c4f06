#!/usr/bin/env bash
# Builds Dravik with clang, AddressSanitizer + UndefinedBehaviorSanitizer and the
# libFuzzer targets, runs every test (fuzzers included) through CTest, then
# the engine, platform and audio tests again under ThreadSanitizer.
#   scripts/test.sh          the CI configuration: both
#   scripts/test.sh --asan   the first part only
#   scripts/test.sh --tsan   the second part only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:-all}
jobs=$(nproc)

run_asan() {
  local build=build/ci
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DDRAVIK_SANITIZE=address -DDRAVIK_FUZZ=ON -DDRAVIK_BENCH=ON
  cmake --build "$build"
  (cd "$build" &&
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp" \
      ctest --output-on-failure -j"$jobs")
}

run_tsan() {
  local build=build/tsan
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DDRAVIK_SANITIZE=thread -DDRAVIK_BENCH=OFF -DDRAVIK_FUZZ=OFF
  cmake --build "$build" --target engine_tests platform_tests audio_tests readers_tests
  # Reports go to files, printed below: a test that captures stderr
  # would otherwise take a report with it when the process dies.
  local reports="$root/$build/tsan-reports"
  rm -rf "$reports" && mkdir -p "$reports"
  local status=0
  # Address-space randomisation off: with the kernel's 28 random bits, a
  # mapping made while a test runs (a thread's stack) may land where this
  # clang's ThreadSanitizer does not expect one, and the process dies at random.
  local no_aslr=()
  if setarch "$(uname -m)" -R true 2>/dev/null; then no_aslr=(setarch "$(uname -m)" -R); fi
  (cd "$build" && TSAN_OPTIONS="halt_on_error=1 suppressions=$root/scripts/tsan.supp log_path=$reports/report" \
    "${no_aslr[@]}" ctest --output-on-failure -j"$jobs" -L "engine|platform|audio|readers" -E "RealClock") || status=$?
  # (Only what was built: the real-clock test runs in the first part.)
  for report in "$reports"/report*; do
    [ -e "$report" ] || continue
    echo "== ThreadSanitizer: $report"
    head -n 120 "$report"
    status=1
  done
  return $status
}

case "$mode" in
  all) run_asan && run_tsan ;;
  --asan) run_asan ;;
  --tsan) run_tsan ;;
  *) echo "usage: scripts/test.sh [--asan|--tsan]" >&2; exit 2 ;;
esac

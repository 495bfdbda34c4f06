#!/usr/bin/env bash
# Builds Dravik with clang, AddressSanitizer + UndefinedBehaviorSanitizer and the
# libFuzzer targets, then runs every test (fuzzers included) through CTest.
#   scripts/test.sh          the CI configuration
#   scripts/test.sh --tsan   ThreadSanitizer build, engine and platform tests only
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-asan}
jobs=$(nproc)
if [ "$mode" = "--tsan" ]; then
  build=build/tsan
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DDRAVIK_SANITIZE=thread -DDRAVIK_BENCH=OFF -DDRAVIK_FUZZ=OFF
  cmake --build "$build" --target engine_tests platform_tests
  cd "$build" && TSAN_OPTIONS="halt_on_error=1" ctest --output-on-failure -j"$jobs" -L "engine|platform"
  exit
fi

build=build/ci
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DDRAVIK_SANITIZE=address -DDRAVIK_FUZZ=ON -DDRAVIK_BENCH=ON
cmake --build "$build"
cd "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --output-on-failure -j"$jobs"

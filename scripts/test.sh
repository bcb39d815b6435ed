#!/usr/bin/env bash
# Set-up, build and run every test. The tests always run under
# AddressSanitizer and UndefinedBehaviorSanitizer.
#   BUILD_DIR   build folder (default: build/asan)
#   JOBS        parallel jobs (default: processor count)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build/asan}
JOBS=${JOBS:-$(nproc)}

cmake -S . -B "$BUILD_DIR" -G Ninja -DZM_SANITIZE=ON -DZM_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
cmake --build "$BUILD_DIR" -j "$JOBS"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$BUILD_DIR" -j "$JOBS" --output-on-failure --timeout 300

#!/usr/bin/env bash
# Set-up, build and run every test. The tests run under AddressSanitizer and
# UndefinedBehaviorSanitizer in a clang build that also carries libFuzzer's
# coverage hooks, so that .ci/run builds the fuzz targets in the same folder
# on the same libraries.
#   BUILD_DIR   build folder (default: build/asan)
#   JOBS        parallel jobs (default: processor count)
#   ZM_UNITY    ON: compile the libraries and programs in larger units (about
#               half the time of a cold build; .ci/run does; default OFF, which
#               suits changing a few files; see cmake/ZmBuild.cmake)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build/asan}
JOBS=${JOBS:-$(nproc)}

# A folder configured earlier with another compiler starts afresh (CMake
# itself would stop once on the change).
if [[ -f "$BUILD_DIR/CMakeCache.txt" ]] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++$' "$BUILD_DIR/CMakeCache.txt"; then
  rm -rf "$BUILD_DIR/CMakeCache.txt" "$BUILD_DIR/CMakeFiles"
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZM_SANITIZE=ON -DZM_FUZZ=ON -DZM_UNITY="${ZM_UNITY:-OFF}" -DZM_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
cmake --build "$BUILD_DIR" -j "$JOBS"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$BUILD_DIR" -j "$JOBS" --output-on-failure --timeout 300

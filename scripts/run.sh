#!/usr/bin/env bash
# Set-up, build, then run the player.
#   BUILD_DIR   build folder (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build/release}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZM_BUILD_TESTS=OFF -DZM_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR" -j "$(nproc)" --target OruViewer5

exec "$BUILD_DIR/Oru/OruViewer/OruViewer5" "$@"

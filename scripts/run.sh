#!/usr/bin/env bash
# Set-up, build, then run the player.
#   BUILD_DIR   build folder (default: build/release)
# Without arguments the demo show is generated, packed into a container and
# played with its time line in the log; with arguments the player gets them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build/release}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZM_BUILD_TESTS=OFF -DZM_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR" -j "$(nproc)" --target OruViewer5 MakeDemoShow OruPack

PLAYER="$BUILD_DIR/Oru/OruViewer/OruViewer5"
if (($#)); then
  exec "$PLAYER" "$@"
fi

DEMO_DIR="$BUILD_DIR/demo"
rm -rf "$DEMO_DIR/project"
"$BUILD_DIR/tools/MakeDemoShow" "$DEMO_DIR/project"
"$BUILD_DIR/tools/OruPack" "$DEMO_DIR/project" "$DEMO_DIR/Demo.orushow"
# Paths are resolved against the player's folder: give it an absolute one.
exec "$PLAYER" -exename "$(realpath "$DEMO_DIR/Demo.orushow")" -log

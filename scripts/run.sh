#!/usr/bin/env bash
# Set-up, build, then run the player.
#   BUILD_DIR   build folder (default: build/release)
#   NO_BUILD=1  run what BUILD_DIR holds: no package check, no build
# A build folder that was made in another place (the checkout moved or
# copied with it) is configured anew.
# Without arguments the demo show is generated, packed into a container and
# played with its time line in the log; with arguments the player gets them,
# a relative show path (-filename, -exename), a relative ZM_CAPTURE_DIR and
# ZM_AUDIO=wav:FILE, made absolute against the folder this script was called from. The show plays in a window when a display
# server answers (also under xvfb-run); without one it plays headless for
# ZM_QUIT_AFTER_MS (20 s).
set -euo pipefail

# The player resolves a relative show path against its own folder; the user
# means the one they stand in, which is left below.
args=()
while (($#)); do
  args+=("$1")
  if [[ ($1 == -filename || $1 == -exename) && $# -ge 2 && -n $2 && $2 != /* && $2 != -* ]]; then
    args+=("$(realpath -m -s -- "$2")")
    shift
  fi
  shift
done
set -- ${args[@]+"${args[@]}"}
# So is a relative capture folder, and a relative file the sound is recorded to.
if [[ -n ${ZM_CAPTURE_DIR:-} && $ZM_CAPTURE_DIR != /* ]]; then
  ZM_CAPTURE_DIR=$(realpath -m -s -- "$ZM_CAPTURE_DIR")
  export ZM_CAPTURE_DIR
fi
if [[ ${ZM_AUDIO:-} == wav:?* && ${ZM_AUDIO#wav:} != /* ]]; then
  ZM_AUDIO="wav:$(realpath -m -s -- "${ZM_AUDIO#wav:}")"
  export ZM_AUDIO
fi

cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/release}
if [[ ${NO_BUILD:-} != 1 ]]; then
  bash scripts/setup.sh
  # A build folder made elsewhere (the checkout moved or copied with it) is
  # configured anew here: CMake refuses a cache that names another folder.
  fresh=()
  if [[ -f $BUILD_DIR/CMakeCache.txt ]]; then
    made_in=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$BUILD_DIR/CMakeCache.txt")
    made_of=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$BUILD_DIR/CMakeCache.txt")
    if [[ $(realpath -m -- "${made_in:-/}") != $(realpath -m -- "$BUILD_DIR") ||
          $(realpath -m -- "${made_of:-/}") != $(realpath -m -- .) ]]; then
      echo "run.sh: $BUILD_DIR was made in ${made_in:-another folder} (the checkout was moved or copied): configuring it anew" >&2
      fresh=(--fresh)
    fi
  fi
  cmake ${fresh[@]+"${fresh[@]}"} -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZM_BUILD_TESTS=OFF -DZM_BUILD_BENCH=OFF
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target OruViewer5 MakeDemoShow OruPack
fi

PLAYER="$BUILD_DIR/Oru/OruViewer/OruViewer5"
# The player refuses to play where no display is named; here, without one,
# it is asked to play headless, where nothing is seen and a repeating show
# never ends: bound the run.
if [ -z "${ZM_DISPLAY:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export ZM_DISPLAY=headless ZM_QUIT_AFTER_MS=${ZM_QUIT_AFTER_MS:-20000}
  echo "run.sh: no display server; playing headless for $ZM_QUIT_AFTER_MS ms (xvfb-run scripts/run.sh shows the window)" >&2
fi
if (($#)); then
  exec "$PLAYER" "$@"
fi

DEMO_DIR="$BUILD_DIR/demo"
rm -rf "$DEMO_DIR/project"
"$BUILD_DIR/tools/MakeDemoShow" "$DEMO_DIR/project"
"$BUILD_DIR/tools/OruPack" "$DEMO_DIR/project" "$DEMO_DIR/Demo.orushow"
# Paths are resolved against the player's folder: give it an absolute one.
exec "$PLAYER" -exename "$(realpath "$DEMO_DIR/Demo.orushow")" -log

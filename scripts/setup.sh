#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and runs with.
# Quick when everything is present: apt is only called for what is missing.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build g++ clang libclang-rt-14-dev ccache pkg-config git
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # libraries the player is built on
  zlib1g-dev libjpeg62-turbo-dev libjpeg-turbo-progs liblcms2-dev libmpg123-dev libpng-dev libvorbis-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libsoxr-dev
  # display, input, sound; text; printing
  libsdl2-dev libx11-dev libxext-dev libfreetype-dev libharfbuzz-dev libfribidi-dev libfontconfig-dev
  libicu-dev
  fonts-dejavu-core fonts-liberation2 fonts-noto-core fonts-wqy-microhei fonts-symbola
  libcups2-dev libcairo2-dev
  # compressed files a show carries, looked into for code
  liblzma-dev libbz2-dev libzstd-dev
  # data the build generates tables from
  unicode-data
  # a display server for the tests of the real back end
  xvfb xauth x11-utils
  # a window manager, synthetic X input and a window manager's requests for
  # the end-to-end desktop tests
  openbox xdotool wmctrl
  # references the benchmarks and the audio tests compare with, and test media
  ffmpeg mpg123 sox poppler-utils
  # the local server a test's show must not reach
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Another installation may hold the package manager's lock: wait for it
  # (up to ten minutes) rather than fail at once.
  LOCK_WAIT=(-o DPkg::Lock::Timeout=600)
  $SUDO apt-get "${LOCK_WAIT[@]}" update -q
  $SUDO apt-get "${LOCK_WAIT[@]}" install -y -q --no-install-recommends "${missing[@]}"
fi

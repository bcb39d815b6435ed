#!/usr/bin/env bash
# The shape of the tree (cmake/ZmLayout.cmake): no link cycle among the
# targets, and each library of the product in a folder of its own. Only a
# configure, in a folder of its own, with every target CI makes (tests,
# benchmarks, fuzz targets); a fault ends it with a message that names it.
#   LAYOUT_BUILD_DIR   the folder (default: build/layout)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

LAYOUT_BUILD_DIR=${LAYOUT_BUILD_DIR:-build/layout}
log="$LAYOUT_BUILD_DIR/configure.log"
mkdir -p "$LAYOUT_BUILD_DIR"
if cmake -S . -B "$LAYOUT_BUILD_DIR" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZM_FUZZ=ON -DZM_BUILD_TESTS=ON -DZM_BUILD_BENCH=ON -DZM_CHECK_LAYOUT=ON >"$log" 2>&1; then
  grep -- '-- Layout:' "$log"
else
  # The layout's own message, or whatever else stopped the configure.
  if grep -q "The tree's layout is broken" "$log"; then
    sed -n "/The tree's layout is broken/,/^Call Stack/p" "$log" | grep -v '^Call Stack'
  else
    tail -n 40 "$log"
  fi
  exit 1
fi

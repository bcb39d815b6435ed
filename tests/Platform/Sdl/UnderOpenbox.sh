#!/usr/bin/env bash
# Runs a test program under openbox, on the display xvfb-run gives it:
#   UnderOpenbox.sh <program> [arguments...]
# The program learns of the window manager by ZM_TEST_WM=openbox.
set -u
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 300); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || { echo "openbox did not start"; exit 1; }
ZM_TEST_WM=openbox "$@"
rc=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit $rc

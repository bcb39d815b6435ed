#!/usr/bin/env bash
# A windowed show under a window manager (openbox, under xvfb-run), as a
# desktop user meets it:
#   WindowManager.sh minimise <player> <demo Project.oru> <work folder>
#     the playing demo minimised hands no frame to the display; restored, a
#     frame of the show's time then comes at once.
#   WindowManager.sh managergone <player> <desktop/Project.oru> <work folder>
#     the window manager ends: the show takes the keyboard back, and Escape
#     ends the player (exit 0, the stop line).
set -u
mode=$1
player=$2
project=$3
work=$4
pid=
wm=openbox
source "$(dirname "${BASH_SOURCE[0]}")/WaitFor.sh"
source "$(dirname "${BASH_SOURCE[0]}")/XWindows.sh"
viewable() { [[ -n "$1" ]] && xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
focused() { (($(xdotool getwindowfocus 2>/dev/null || echo 0) == 16#${1#0x})); }
frames() { [[ -f "$work/frames/frames.tsv" ]] && wc -l <"$work/frames/frames.tsv" || echo 0; }

rm -rf "$work"
mkdir -p "$work/frames"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wmpid=$!
wait_for 30 wm_up || fail "openbox did not start"
log="$work/player.log"
case $mode in
  minimise) title="OruViewer demo" ;;
  *) title="Desktop check" ;;
esac
ZM_CAPTURE_DIR="$work/frames" ZM_DISPLAY=sdl ZM_AUDIO=none "$player" -filename "$project" -log >"$log" 2>&1 &
pid=$!
wait_for 120 eval 'viewable "$(window "$title")"' || fail "the show did not open: $(tail -n 5 "$log")"
show=$(window "$title")
wait_for 20 focused "$show" || fail "the show has no keyboard"

case $mode in
  minimise)
    # Playing: frames come.
    before=$(frames)
    wait_for 60 eval '(($(frames) > before + 10))' || fail "the demo draws no frames"
    xdotool windowminimize "$show"
    wait_for 20 eval '! viewable "$show"' || fail "the show could not be minimised"
    # What was on its way is out; then nothing for three seconds.
    sleep 1
    away=$(frames)
    sleep 3
    (($(frames) == away)) || fail "$(($(frames) - away)) frames were presented while the show was minimised"
    last=$(tail -n 1 "$work/frames/frames.tsv" | cut -f4)
    xdotool windowactivate "$show" 2>/dev/null
    wait_for 20 viewable "$show" || fail "the show was not restored"
    # The show went on meanwhile: a frame of a later time comes.
    later() { tail -n +$((away + 1)) "$work/frames/frames.tsv" | cut -f4 | awk -v t="$last" '$1 > t + 3000 {f=1} END {exit !f}'; }
    wait_for 10 later || fail "no frame of the show's time came after the restore (last before: $last)"
    ;;
  managergone)
    kill "$wmpid"
    wait "$wmpid" 2>/dev/null
    wmpid=
    wait_for 20 focused "$show" || fail "the show did not take the keyboard back (focus $(xdotool getwindowfocus))"
    ;;
  *) fail "no such mode: $mode" ;;
esac

xdotool key Escape
ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_for 60 ended || fail "Escape did not end the player"
wait "$pid"
rc=$?
pid=
((rc == 0)) || fail "exit status $rc: $(tail -n 5 "$log")"
grep -q "Program stoped" "$log" || fail "no stop line"
grep -q "Sanitizer\|runtime error:" "$log" && fail "$(grep -m1 "Sanitizer\|runtime error:" "$log")"
[[ -n "$wmpid" ]] && kill "$wmpid" 2>/dev/null
echo "$mode: as a desktop user meets it, exit 0"

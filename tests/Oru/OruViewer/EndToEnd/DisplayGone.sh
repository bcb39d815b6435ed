#!/usr/bin/env bash
# The X server goes away while the player is in a given state; the player
# ends in order with status 1, saying what Xlib says ("X connection to :N
# broken"), and its stop line:
#   DisplayGone.sh <state> <player> <shows folder> <work folder>
# state: password (the show's password is asked), print (the print dialog
# over the show, under openbox), printing (its Print button just pressed),
# question (the start question), box (a box given no owner), loading (the
# show's heavy first slide is built, nothing on screen yet). The test runs a
# virtual X server of its own, which it kills.
set -u
state=$1
player=$2
shows=$3
work=$4
pid=
xpid=
wm=none
source "$(dirname "${BASH_SOURCE[0]}")/WaitFor.sh"
source "$(dirname "${BASH_SOURCE[0]}")/XWindows.sh"
shown() {
  local w
  w=$(window "$1")
  [[ -n "$w" ]] && xwininfo -id "$w" 2>/dev/null | grep -q IsViewable
}
focus_on() {
  local w
  w=$(window "$1")
  [[ -n "$w" ]] && (($(xdotool getwindowfocus 2>/dev/null || echo 0) == 16#${w#0x}))
}
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
# A viewable window of the player other than the show (a box has no title).
has_other() {
  local w show
  show=$(window "Desktop check")
  for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    [[ -n "$show" && $w -eq $((16#${show#0x})) ]] || return 0
  done
  return 1
}
# Clicks the show at a client point until the test says something came.
click_until() {
  local x=$1 y=$2 tries=0 show
  shift 2
  show=$(window "Desktop check")
  until "$@"; do
    ((tries++ < 60)) || fail "nothing came of $tries clicks at $x,$y"
    xdotool mousemove --window "$show" "$x" "$y" click 1
    wait_for 1 "$@"
  done
}
stop_x() {
  [[ -n "$xpid" ]] && kill "$xpid" 2>/dev/null
  xpid=
}
trap stop_x EXIT

rm -rf "$work"
mkdir -p "$work/home"
# A display of its own, on a number the server finds free.
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xpid=$!
wait_for 30 grep -q '[0-9]' "$work/display" || fail "no X server: $(tail -n 3 "$work/xvfb.log")"
display=":$(head -n 1 "$work/display")"
export DISPLAY=$display
if [[ $state == print ]]; then
  wm=openbox
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wait_for 30 wm_up || fail "openbox did not start"
fi

project="$shows/desktop/Project.oru"
[[ $state == password ]] && project="$shows/dialogs/Project.oru"
[[ $state == loading ]] && project="$shows/heavyslide/Project.oru"
log="$work/player.log"
HOME="$work/home" ZM_PRINT_PDF="$work/printed.pdf" ZM_DISPLAY=sdl ZM_AUDIO=none \
  "$player" -filename "$project" -log >"$log" 2>&1 &
pid=$!
if [[ $state != password && $state != loading ]]; then
  wait_for 120 shown "Desktop check" || fail "the show did not open: $(tail -n 5 "$log")"
fi
case $state in
  password) wait_for 120 shown "Password required" || fail "no password dialog: $(tail -n 5 "$log")" ;;
  print) click_until 275 90 shown "Print" ;;
  printing)
    click_until 275 90 shown "Print"
    # The keyboard is on Print.
    wait_for 20 focus_on "Print" || fail "the print dialog has no keyboard"
    xdotool key space
    ;;
  question) click_until 165 90 shown "Slideshow" ;;
  box) click_until 55 90 has_other ;;
  loading)
    started() { grep -q "Loader Inited To Time" "$log" || ! kill -0 "$pid" 2>/dev/null; }
    wait_for 120 started || fail "the show did not start: $(tail -n 5 "$log")"
    ;;
  *) fail "no such state: $state" ;;
esac
kill -0 "$pid" 2>/dev/null || fail "the player ended before the display went: $(tail -n 5 "$log")"
stop_x
ended() { ! kill -0 "$pid" 2>/dev/null; }
if ! wait_for 60 ended; then
  kill -KILL "$pid"
  fail "the player did not end when the display went: $(tail -n 5 "$log")"
fi
wait "$pid"
rc=$?
pid=
((rc == 1)) || fail "exit status $rc: $(tail -n 5 "$log")"
grep -q "X connection to $display broken" "$log" || fail "the loss was not said: $(tail -n 5 "$log")"
grep -q "Program stoped" "$log" || fail "no stop line: $(tail -n 5 "$log")"
grep -q "Sanitizer\|runtime error:" "$log" && fail "$(grep -m1 "Sanitizer\|runtime error:" "$log")"
echo "$state: the display went, the player ended with status 1 and said so"

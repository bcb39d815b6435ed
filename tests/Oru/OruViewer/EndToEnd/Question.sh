#!/usr/bin/env bash
# The start question meets the player's end, on a real display without a
# window manager and with openbox (under xvfb-run):
#   Question.sh <player> <desktop/Project.oru> <work folder>
# The show's middle third asks to start a program. While the question waits
# in its first second, SIGTERM (and, under openbox, the show's window
# closed through the window manager) answers Don't start and ends the
# player as at any other time: within 3 s, exit 0, the stop line, nothing
# started.
set -u
player=$1
project=$2
work=$3
pid=
wm=none
source "$(dirname "${BASH_SOURCE[0]}")/WaitFor.sh"
source "$(dirname "${BASH_SOURCE[0]}")/XWindows.sh"
viewable() { [[ -n "$1" ]] && xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
shown() { viewable "$(window "$1")"; }
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
ended() { ! kill -0 "$pid" 2>/dev/null; }

ended_by() {
  local how=$1 log=$2
  rm -f "$started"
  ZM_DISPLAY=sdl ZM_AUDIO=none "$player" -filename "$project" -log >"$log" 2>&1 &
  pid=$!
  wait_for 120 shown "Desktop check" || fail "the show did not open: $(tail -n 5 "$log")"
  local show tries=0
  show=$(window "Desktop check")
  until shown "Slideshow"; do
    ((tries++ < 100)) || fail "no question after $tries clicks"
    xdotool mousemove --window "$show" 165 90 click 1
    sleep 0.05
  done
  local asked
  asked=$(date +%s%N)
  case $how in
    signal) kill -TERM "$pid" ;;
    close) wmctrl -i -c "$show" ;;
  esac
  local ends=$(($(date +%s) + 3))
  until ended || (($(date +%s) > ends)); do sleep 0.05; done
  ended || fail "$how while the question waits: still running after 3 s"
  wait "$pid"
  local rc=$? took=$((($(date +%s%N) - asked) / 1000000))
  pid=
  ((rc == 0)) || fail "$how: exit status $rc: $(tail -n 5 "$log")"
  grep -q "Program stoped" "$log" || fail "$how: no stop line"
  grep -q "Start question: .*: Don't start" "$log" || fail "$how: the question was not answered Don't start"
  grep -q "Sanitizer\|runtime error:" "$log" && fail "$(grep -m1 "Sanitizer\|runtime error:" "$log")"
  sleep 0.5
  [[ -e "$started" ]] && fail "$how: the program started"
  echo "$wm: $how while the question waits ended the player in $took ms, exit 0, Don't start"
}

rm -rf "$work"
mkdir -p "$work"
started="$(dirname "$(dirname "$project")")/desktop-started"
ended_by signal "$work/none-signal.log"
wm=openbox
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wmpid=$!
wait_for 30 wm_up || fail "openbox did not start"
ended_by signal "$work/openbox-signal.log"
ended_by close "$work/openbox-close.log"
kill "$wmpid" 2>/dev/null
wait "$wmpid" 2>/dev/null
exit 0

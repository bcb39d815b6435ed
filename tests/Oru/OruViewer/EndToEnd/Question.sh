#!/usr/bin/env bash
# The start question on a real display (under xvfb-run):
#   Question.sh end <player> <desktop/Project.oru> <work folder>
#     without a window manager and with openbox: the show's middle third
#     asks to start a program. While the question waits in its first second,
#     SIGTERM (and, under openbox, the show's window closed through the
#     window manager) answers Don't start and ends the player as at any
#     other time: within 3 s, exit 0, the stop line, nothing started.
#   Question.sh pointer <player> <work folder>    (a 640x400 screen)
#     a show asks to start a program on so many lines that the question
#     cannot open with Start away from a pointer resting where Start opens:
#     a click there after the first second starts nothing; once the pointer
#     has left the program's windows and come back, a click starts it.
set -u
mode=$1
shift
player=$1
if [[ $mode == end ]]; then
  project=$2
  work=$3
else
  work=$2
fi
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

# The question's client area: x y width height.
client() { xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF}/Absolute upper-left Y/{y=$NF}/Width:/{w=$NF}/Height:/{h=$NF}END{print x, y, w, h}'; }

resting_pointer() {
  local show="$work/show" log
  mkdir -p "$show" "$work/marks"
  local line="/usr/bin/touch" i
  # Files made where the player runs (the marks folder): a line each.
  for i in a b c d e f g h i j k l m n; do line+=" $(printf "$i%.0s" {1..60})"; done
  printf '\xef\xbb\xbf[main]\r\nOruVersion=5.0.1\r\nopt_scr_width=200\r\nopt_scr_height=120\r\nopt_repeat=repeat\r\n%s\r\n' \
    "opt_scr_full=0" >"$show/Project.oru"
  printf '[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=60000\r\n[Tracks]\r\n[Slide1]\r\nbstyle=1\r\n' >>"$show/Project.oru"
  printf 'bcolor=3170448\r\nPers_RunApp=1\r\nRunAppFN=%s\r\n' "$line" >>"$show/Project.oru"
  xdotool mousemove 5 5
  log="$work/probe.log"
  (cd "$work/marks" && ZM_DISPLAY=sdl ZM_AUDIO=none exec "$player" -filename "$show/Project.oru" -log) >"$log" 2>&1 &
  pid=$!
  wait_for 120 shown "Slideshow" || fail "no question: $(tail -n 5 "$log")"
  local x y w h
  read -r x y w h <<<"$(client "$(window "Slideshow")")"
  kill -TERM "$pid"
  wait_for 20 ended || fail "the probe did not end"
  wait "$pid"
  pid=
  # Start: 92 x 25, left of Don't start, 12 from the right (6 between) and the bottom.
  local sx=$((x + w - 12 - 92 - 6 - 46)) sy=$((y + h - 12 - 12))
  xdotool mousemove "$sx" "$sy"
  log="$work/resting.log"
  (cd "$work/marks" && ZM_DISPLAY=sdl ZM_AUDIO=none exec "$player" -filename "$show/Project.oru" -log) >"$log" 2>&1 &
  pid=$!
  wait_for 120 shown "Slideshow" || fail "no question: $(tail -n 5 "$log")"
  read -r x y w h <<<"$(client "$(window "Slideshow")")"
  ((sx == x + w - 12 - 92 - 6 - 46 && sy == y + h - 12 - 12)) || fail "the question opened elsewhere ($x,$y ${w}x$h)"
  sleep 1.5
  xdotool click 1
  sleep 1
  [[ -n "$(ls "$work/marks")" ]] && fail "a click of the resting pointer started the program"
  shown "Slideshow" || fail "a click of the resting pointer answered the question"
  xdotool mousemove 5 5 sleep 0.3 mousemove "$sx" "$sy" sleep 0.3 click 1
  wait_for 20 eval '[[ -n "$(ls "$work/marks")" ]]' || fail "a click after the pointer came back did not start the program"
  kill -TERM "$pid"
  wait_for 20 ended || fail "SIGTERM did not end the player"
  wait "$pid"
  local rc=$?
  pid=
  ((rc == 0)) || fail "exit status $rc"
  echo "a ${w}x$h question under a resting pointer on a 640x400 screen: its click started nothing, one after the pointer came back started the program"
}

rm -rf "$work"
mkdir -p "$work"
case $mode in
  end)
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
    ;;
  pointer) resting_pointer ;;
esac
exit 0

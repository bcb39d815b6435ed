#!/usr/bin/env bash
# The player as a desktop program, on a real display without a window
# manager and with openbox (under xvfb-run):
#   Desktop.sh <player> <desktop/Project.oru> <work folder>
# A windowed show whose thirds run a refused command, ask to start a
# program and print. Every box and dialog is a dialog window transient for
# the show's, with the keyboard while it is open and the show's again after
# it: the refused command's box (no owner given), the start question
# (Escape answers it only, even held until it repeats), the print dialog (move and close only; under
# openbox, minimised with the show, it comes back above the show restored)
# and its Save As, whose proposed path a typed one replaces. Then Escape ends the player (exit 0, the stop line). A second
# run: the show's window destroyed by another program ends the player as
# closing it does.
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
gone() { ! shown "$1"; }
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
focus() { printf '0x%x' "$(xdotool getwindowfocus 2>/dev/null || echo 0)"; }
same_id() { [[ -n "$1" && -n "$2" ]] && [[ $((16#${1#0x})) -eq $((16#${2#0x})) ]]; }
focused() { same_id "$(focus)" "$1"; }
# A viewable window of the player other than the show: a box with no title.
other_window() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    w=$(printf '0x%x' "$w")
    same_id "$w" "$show" || { echo "$w"; return; }
  done
}
has_other() { [[ -n "$(other_window)" ]]; }
# Checks of a dialog window: its type, its owner, and that it has the keyboard.
check_dialog() {
  local name=$1 w=$2 owner
  xprop -id "$w" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG || fail "$name is no dialog"
  owner=$(xprop -id "$w" WM_TRANSIENT_FOR | grep -o '0x[0-9a-f]*')
  same_id "$owner" "$show" || fail "$name is transient for '$owner', not the show $show"
  wait_for 20 focused "$w" || fail "$name has no keyboard (focus $(focus))"
}
keyboard_back() { wait_for 20 focused "$show" || fail "the show did not get the keyboard back after $1 (focus $(focus))"; }
# Clicks the show at a client point until the test says something came.
click_until() {
  local x=$1 y=$2 tries=0
  shift 2
  until "$@"; do
    ((tries++ < 60)) || fail "nothing came of $tries clicks at $x,$y"
    xdotool mousemove --window "$show" "$x" "$y" click 1
    wait_for 1 "$@"
  done
}
start_wm() {
  wmpid=
  if [[ $wm == openbox ]]; then
    openbox --sm-disable >"$work/openbox-$1.log" 2>&1 &
    wmpid=$!
    wait_for 30 wm_up || fail "openbox did not start"
  fi
}
stop_wm() {
  if [[ -n "$wmpid" ]]; then
    kill "$wmpid" 2>/dev/null
    wait "$wmpid" 2>/dev/null
  fi
}
ended() { ! kill -0 "$pid" 2>/dev/null; }
expect_clean_end() {
  local log=$1
  wait_for 60 ended || fail "$2 did not end the player"
  wait "$pid"
  local rc=$?
  pid=
  ((rc == 0)) || fail "exit status $rc after $2: $(tail -n 5 "$log")"
  grep -q "Program stoped" "$log" || fail "no stop line after $2"
  grep -q "Sanitizer\|runtime error:" "$log" && fail "$(grep -m1 "Sanitizer\|runtime error:" "$log")"
  grep -q "still held at release\|not Initializaed" "$log" && fail "$(grep -m1 "still held\|Initializaed" "$log")"
  return 0
}

dialogs() {
  wm=$1
  start_wm dialogs
  local log="$work/$wm.log" home="$work/home-$wm"
  mkdir -p "$home"
  rm -f "$work/typed-$wm.bmp" "$started"
  HOME="$home" XDG_DOCUMENTS_DIR="$home" ZM_DISPLAY=sdl ZM_AUDIO=none \
    "$player" -filename "$project" -log >"$log" 2>&1 &
  pid=$!
  wait_for 120 shown "Desktop check" || fail "the show did not open: $(tail -n 5 "$log")"
  show=$(window "Desktop check")
  wait_for 20 focused "$show" || fail "the show has no keyboard (focus $(focus))"

  # The refused command: a box that is given no owner.
  click_until 55 90 has_other
  local box
  box=$(other_window)
  check_dialog "the refused command's box" "$box"
  grep -q "Command line contains prohibited command" "$log" || fail "the box is not the refused command's"
  xdotool key Return
  wait_for 20 eval '! viewable "$box"' || fail "Enter did not close the box"
  keyboard_back "the box"

  # The start question: Escape answers it, and only it, also held past the
  # start of the keyboard's repeat.
  click_until 165 90 shown "Slideshow"
  local question
  question=$(window "Slideshow")
  check_dialog "the start question" "$question"
  xdotool keydown Escape
  sleep 1.5
  xdotool keyup Escape
  wait_for 20 gone "Slideshow" || fail "Escape did not answer the question"
  sleep 1
  kill -0 "$pid" 2>/dev/null || fail "Escape on the question ended the player"
  [[ -e "$started" ]] && fail "the program started"
  grep -q "Start question: .*: Don't start" "$log" || fail "the question was not answered Don't start"
  keyboard_back "the question"

  # The print dialog: move and close only.
  click_until 275 90 shown "Print"
  local print
  print=$(window "Print")
  check_dialog "the print dialog" "$print"
  xprop -id "$print" _MOTIF_WM_HINTS | grep -q '= 0x3, 0x24,' || fail "the print dialog's functions: $(xprop -id "$print" _MOTIF_WM_HINTS)"
  if [[ $wm == openbox ]]; then
    local actions
    actions=$(xprop -id "$print" _NET_WM_ALLOWED_ACTIONS)
    grep -q MAXIMIZE <<<"$actions" && fail "the print dialog offers to maximise: $actions"
    grep -q RESIZE <<<"$actions" && fail "the print dialog offers to resize: $actions"
    # Openbox still offers to minimise a dialog, and takes the show along;
    # minimised either way, the pair comes back with the show, the dialog
    # above it with the keyboard.
    local which
    for which in "$print" "$show"; do
      xdotool windowminimize "$which"
      wait_for 20 eval '! viewable "$show"' || fail "the show could not be minimised"
      xdotool windowactivate "$show" 2>/dev/null
      wait_for 20 viewable "$show" || fail "the show was not restored"
      wait_for 20 viewable "$print" || fail "the print dialog stayed hidden after the show came back"
      wait_for 20 focused "$print" || fail "the print dialog has no keyboard after the show came back (focus $(focus))"
    done
  fi

  # Save As (the keyboard is on Print: Tab, then Space on Save) proposes a
  # path; a path typed at once replaces it whole.
  xdotool key Tab
  xdotool key space
  wait_for 20 shown "Save As" || fail "no Save As dialog"
  local save
  save=$(window "Save As")
  wait_for 20 focused "$save" || fail "Save As has no keyboard (focus $(focus))"
  same_id "$(xprop -id "$save" WM_TRANSIENT_FOR | grep -o '0x[0-9a-f]*')" "$print" || fail "Save As is not transient for the print dialog"
  xdotool type --delay 20 "$work/typed-$wm.bmp"
  xdotool key Return
  wait_for 20 test -s "$work/typed-$wm.bmp" || fail "nothing saved at the typed path: $(ls -R "$work" | head -n 20)"
  [[ $(head -c 2 "$work/typed-$wm.bmp") == BM ]] || fail "the saved file is no BMP"
  wait_for 20 gone "Print" || fail "the print dialog stayed after the save"
  keyboard_back "the print dialog"

  xdotool key Escape
  expect_clean_end "$log" "Escape"
  stop_wm
  echo "$wm: boxes and dialogs transient for the show with the keyboard, Escape on the question, typed path saved, exit 0"
}

destroyed() {
  wm=$1
  start_wm destroyed
  local log="$work/$wm-destroyed.log"
  ZM_DISPLAY=sdl ZM_AUDIO=none "$player" -filename "$project" -log >"$log" 2>&1 &
  pid=$!
  wait_for 120 shown "Desktop check" || fail "the show did not open: $(tail -n 5 "$log")"
  show=$(window "Desktop check")
  sleep 1
  xdotool windowclose "$show"
  expect_clean_end "$log" "the window destroyed by another program"
  stop_wm
  echo "$wm: the show's window destroyed by another program ended the player, exit 0"
}

rm -rf "$work"
mkdir -p "$work"
started="$(dirname "$(dirname "$project")")/desktop-started"
for w in none openbox; do
  dialogs "$w"
  destroyed "$w"
done

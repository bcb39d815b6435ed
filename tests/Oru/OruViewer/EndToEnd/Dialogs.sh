#!/usr/bin/env bash
# The player's dialogs as a person meets them on a real display, without a
# window manager and with one (openbox), checked on the X window properties:
#   Dialogs.sh <player> <dialogs/Project.oru> <work folder>    (under xvfb-run)
# The password dialog opens with the keyboard (typed at once, Enter plays the
# show); over the full-screen show the print dialog is a dialog window,
# transient for the show's, above it and with the keyboard, offering to move
# and close only (minimised under openbox, which takes the show along, both
# come back at once); Escape closes it and the show has the keyboard again:
# Escape then ends the player, as cleanly as a windowed show ends.
set -u
player=$1
project=$2
work=$3
pid=
wm=none
source "$(dirname "${BASH_SOURCE[0]}")/WaitFor.sh"
source "$(dirname "${BASH_SOURCE[0]}")/XWindows.sh"
# Shown: mapped and viewable, with every property its program gave it.
shown() {
  local w
  w=$(window "$1")
  [[ -n "$w" ]] && xwininfo -id "$w" | grep -q IsViewable
}
gone() { [[ -z "$(window "$1")" ]]; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
focus() { printf '0x%x' "$(xdotool getwindowfocus 2>/dev/null || echo 0)"; }
has_focus() { [[ $(focus) == "$(window "$1")" ]]; }
same_id() { [[ $((16#${1#0x})) -eq $((16#${2#0x})) ]]; }
# Whether the first window lies below the second.
below() {
  local order
  if [[ $wm == none ]]; then
    # xwininfo lists the top first.
    order=$(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p' | tac)
  else
    # The window manager's list goes from the bottom up.
    order=$(xprop -root _NET_CLIENT_LIST_STACKING | grep -o '0x[0-9a-f]*')
  fi
  local a b i=0 line
  for line in $order; do
    same_id "$line" "$1" && a=$i
    same_id "$line" "$2" && b=$i
    i=$((i + 1))
  done
  [[ -n "${a:-}" && -n "${b:-}" ]] && ((a < b))
}

run() {
  wm=$1
  local log="$work/$wm.log" wmpid=
  if [[ $wm == openbox ]]; then
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wmpid=$!
    wait_for 30 wm_up || fail "openbox did not start"
  fi
  ZM_DISPLAY=sdl ZM_AUDIO=none "$player" -filename "$project" -log >"$log" 2>&1 &
  pid=$!

  wait_for 120 shown "Password required" || fail "no password dialog: $(tail -n 5 "$log")"
  local pass
  pass=$(window "Password required")
  xprop -id "$pass" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG || fail "the password box is no dialog"
  wait_for 20 has_focus "Password required" || fail "the password box has no keyboard (focus $(focus))"
  xdotool type --delay 30 s3cret
  xdotool key Return

  wait_for 120 shown "Dialog check" || fail "the show did not open: $(tail -n 5 "$log")"
  local show
  show=$(window "Dialog check")
  wait_for 20 has_focus "Dialog check" || fail "the show has no keyboard (focus $(focus))"
  # The show takes clicks after its first second: click until the dialog comes.
  local tries=0
  until shown "Print"; do
    ((tries++ < 60)) || fail "no print dialog after $tries clicks"
    xdotool mousemove 640 512 click 1
    wait_for 1 shown "Print"
  done
  local print
  print=$(window "Print")
  xprop -id "$print" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG || fail "the print dialog is no dialog"
  local owner
  owner=$(xprop -id "$print" WM_TRANSIENT_FOR | grep -o '0x[0-9a-f]*')
  [[ -n "$owner" ]] && same_id "$owner" "$show" || fail "the print dialog is transient for '$owner', not the show $show"
  wait_for 20 has_focus "Print" || fail "the print dialog has no keyboard (focus $(focus))"
  below "$show" "$print" || fail "the print dialog is not above the show"
  xprop -id "$print" _MOTIF_WM_HINTS | grep -q '= 0x3, 0x24,' || fail "the print dialog's functions: $(xprop -id "$print" _MOTIF_WM_HINTS)"
  if [[ $wm == openbox ]]; then
    xdotool windowminimize "$print"
    sleep 1
    wait_for 20 viewable "$show" || fail "the full-screen show stayed minimised with its dialog"
    wait_for 20 viewable "$print" || fail "the minimised print dialog stayed away"
    wait_for 20 has_focus "Print" || fail "the print dialog came back without the keyboard (focus $(focus))"
  fi

  xdotool key Escape
  wait_for 20 gone "Print" || fail "Escape did not close the print dialog"
  wait_for 20 has_focus "Dialog check" || fail "the show did not get the keyboard back (focus $(focus))"
  xdotool key Escape
  local limit=$(($(date +%s) + 60))
  while kill -0 "$pid" 2>/dev/null; do
    (($(date +%s) < limit)) || fail "Escape did not end the player"
    sleep 0.1
  done
  wait "$pid"
  local rc=$?
  pid=
  ((rc == 0)) || fail "exit status $rc: $(tail -n 5 "$log")"
  grep -q "Sanitizer\|runtime error:" "$log" && fail "$(grep -m1 "Sanitizer\|runtime error:" "$log")"
  grep -q "still held at release\|not Initializaed" "$log" && fail "$(grep -m1 "still held\|Initializaed" "$log")"
  if [[ -n "$wmpid" ]]; then
    kill "$wmpid" 2>/dev/null
    wait "$wmpid" 2>/dev/null
  fi
  echo "$wm: password typed at once, print dialog transient for the show and above it, keyboard back, clean exit 0"
}

rm -rf "$work"
mkdir -p "$work"
run none
run openbox

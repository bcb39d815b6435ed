#!/usr/bin/env bash
# A windowed show under a window manager (openbox, under xvfb-run), as a
# desktop user meets it:
#   WindowManager.sh minimise <player> <demo Project.oru> <work folder>
#     the playing demo minimised hands no frame to the display; restored, a
#     frame of the show's time then comes at once.
#   WindowManager.sh managergone <player> <desktop/Project.oru> <work folder>
#     the window manager ends: the show takes the keyboard back, and Escape
#     ends the player (exit 0, the stop line).
#   WindowManager.sh fullscreen <player> <desktop/Project.oru> <work folder>
#     a window of a fixed size is offered no maximise; the manager's full
#     screen shows the picture at the screen's size, its aspect kept (bands
#     above and below), and leaving it gives the window back at its size.
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
size_is() {
  local info
  info=$(xwininfo -id "$1" 2>/dev/null)
  grep -q "Width: $2\$" <<<"$info" && grep -q "Height: $3\$" <<<"$info"
}
size_of() { xwininfo -id "$1" | grep -E 'Width|Height' | xargs; }
frames() { [[ -f "$work/frames/frames.tsv" ]] && wc -l <"$work/frames/frames.tsv" || echo 0; }
# The size of a PNG file: width and height from its header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 "x" \
                                         $5 * 16777216 + $6 * 65536 + $7 * 256 + $8}'
}
# A pixel of a PNG file as "r g b".
pixel() { ffmpeg -v error -i "$1" -vf "crop=1:1:$2:$3" -f rawvideo -pix_fmt rgb24 - | od -An -tu1 | xargs; }
near() {
  local got=($1) want=($2) i
  for i in 0 1 2; do ((got[i] - want[i] <= 6 && want[i] - got[i] <= 6)) || return 1; done
}
# The last captured frame of a size among those after the first ones
# (found, once there is one).
last_frame_of() {
  local number file
  found=
  while IFS=$'\t' read -r number _; do
    file=$(printf '%s/frames/%06d.png' "$work" "$number")
    [[ -s "$file" && $(png_size "$file") == "$1" ]] && found=$file
  done < <(tail -n +$(($2 + 1)) "$work/frames/frames.tsv" 2>/dev/null)
  [[ -n "$found" ]]
}

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
    # What was on its way is out (the count stands); then nothing comes for
    # three seconds.
    settled() {
      local seen
      seen=$(frames)
      sleep 0.5
      (($(frames) == seen))
    }
    wait_for 10 settled || fail "frames go on being presented while the show is minimised"
    away=$(frames)
    sleep 3
    (($(frames) == away)) || fail "$(($(frames) - away)) frames were presented while the show was minimised"
    last=$(tail -n 1 "$work/frames/frames.tsv" | cut -f4)
    xdotool windowactivate "$show" 2>/dev/null
    wait_for 20 viewable "$show" || fail "the show was not restored"
    # The show went on meanwhile: a frame of a later time comes.
    later() {
      tail -n +$((away + 1)) "$work/frames/frames.tsv" | cut -f4 |
        awk -v t="$last" '$1 > t + 3000 {f = 1} END {exit !f}'
    }
    wait_for 10 later || fail "no frame of the show's time came after the restore (last before: $last)"
    ;;
  managergone)
    kill "$wmpid"
    wait "$wmpid" 2>/dev/null
    wmpid=
    wait_for 20 focused "$show" || fail "the show did not take the keyboard back (focus $(xdotool getwindowfocus))"
    ;;
  fullscreen)
    functions=$(xprop -id "$show" _MOTIF_WM_HINTS | sed -n 's/.*= *\(0x[0-9a-f]*\), *\(0x[0-9a-f]*\),.*/\2/p')
    ((functions & 16 || functions & 2)) && fail "a window of a fixed size may be resized or maximised: $functions"
    actions=$(xprop -id "$show" _NET_WM_ALLOWED_ACTIONS)
    grep -q MAXIMIZE <<<"$actions" && fail "maximise is offered: $actions"
    grep -q FULLSCREEN <<<"$actions" || fail "full screen is not offered: $actions"
    read -r sw sh < <(xdpyinfo | sed -n 's/.*dimensions: *\([0-9]*\)x\([0-9]*\) pixels.*/\1 \2/p')
    wmctrl -i -r "$show" -b add,fullscreen
    wait_for 20 size_is "$show" "$sw" "$sh" || fail "full screen left the window at $(size_of "$show")"
    # The picture's height at the screen's width, centred: bands above and
    # below. (A frame drawn before the show was laid out anew may come first.)
    band=$(((sh - 180 * sw / 330) / 2))
    ((band > 20)) || fail "the screen leaves no band to look at"
    fills_screen() {
      last_frame_of "${sw}x${sh}" 0 &&
        near "$(pixel "$found" $((sw / 2)) $((band / 2)))" "0 0 0" &&
        near "$(pixel "$found" $((sw / 2)) $((sh - band / 2)))" "0 0 0" &&
        near "$(pixel "$found" $((sw / 2)) $((sh / 2)))" "40 120 40" &&
        near "$(pixel "$found" 4 $((sh / 2)))" "120 40 40"
    }
    if ! wait_for 60 fills_screen; then
      [[ -n "$found" ]] || fail "no frame of the screen's size"
      fail "the picture does not fill the screen ($found): band $(pixel "$found" $((sw / 2)) $((band / 2)))," \
        "middle $(pixel "$found" $((sw / 2)) $((sh / 2))), left $(pixel "$found" 4 $((sh / 2)))"
    fi
    full=$(frames)
    wmctrl -i -r "$show" -b remove,fullscreen
    wait_for 20 size_is "$show" 330 180 || fail "leaving full screen left the window at $(size_of "$show")"
    wait_for 60 last_frame_of "330x180" "$full" || fail "no frame of the window's own size after full screen"
    wait_for 20 focused "$show" || fail "the show has no keyboard after full screen"
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

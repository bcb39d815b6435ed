#!/usr/bin/env bash
# A terminating signal ends the player in order.
#   Signals.sh record <player> <Project.oru> <work folder>
#     headless, recording to a WAV file: SIGTERM, SIGINT and SIGHUP once the
#     recording holds a second of sound; exit status 0, a readable recording
#     with what played, the stop banner, no temporary file left.
#   Signals.sh empty <player> <Project.oru> <work folder>
#     headless, a show that never draws a frame (so no window ever comes):
#     SIGTERM ends the run at once, exit status 0, with the stop banner.
#   Signals.sh kill <player> <Project.oru> <work folder>
#     headless, recording to a WAV file: SIGKILL once three seconds are
#     recorded; the header counts the sound up to about a second before,
#     and never more than the file holds.
#   Signals.sh burst <player> <Project.oru> <work folder>
#     headless, playing: two SIGTERMs 1 to 12 ms apart (as timeout(1) and a
#     service manager that signals the process group send them) close the
#     player once and in order: exit status 0, the stop banner.
#   Signals.sh box <player> <work folder>    (under xvfb-run)
#     a show that cannot be opened: its error box, wrapped to two thirds of
#     the screen, is open; SIGTERM ends the program with the box's answer and
#     leaves no window or process behind.
set -u
mode=$1
fail() {
  echo "FAIL: $*"
  exit 1
}
source "$(dirname "${BASH_SOURCE[0]}")/WaitFor.sh"
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

record() {
  local player=$1 project=$2 work=$3
  rm -rf "$work"
  mkdir -p "$work/tmp"
  for sig in TERM INT HUP; do
    local wav="$work/$sig.wav" log="$work/$sig.log"
    # A second of 44.1 kHz 16-bit stereo after the header.
    has_sound() { (($(stat -c %s "$wav" 2>/dev/null || echo 0) > 44 + 176400)) || ! kill -0 "$pid" 2>/dev/null; }
    env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" ZM_DISPLAY=headless ZM_AUDIO="wav:$wav" \
      "$player" -filename "$project" -log >"$log" 2>&1 &
    pid=$!
    wait_for 240 has_sound || fail "SIG$sig: no sound recorded"
    kill -0 "$pid" 2>/dev/null || fail "SIG$sig: the player ended by itself: $(tail -n 5 "$log")"
    kill "-$sig" "$pid"
    wait "$pid"
    local rc=$?
    ((rc == 0)) || fail "SIG$sig: exit status $rc: $(tail -n 5 "$log")"
    grep -q "Program stoped" "$log" || fail "SIG$sig: no stop banner"
    grep -q "Sanitizer\|runtime error:" "$log" && fail "SIG$sig: $(grep -m1 "Sanitizer\|runtime error:" "$log")"
    # The sizes in the header were written at the end.
    local size riff data
    size=$(stat -c %s "$wav")
    riff=$(u32 "$wav" 4)
    data=$(u32 "$wav" 40)
    ((riff == size - 8 && data == size - 44 && data > 176400)) ||
      fail "SIG$sig: recording of $size bytes says RIFF $riff, data $data"
    od -An -v -td2 -j44 "$wav" | tr -s ' ' '\n' | grep -qv '^0*$' || fail "SIG$sig: the recording is silent"
    [[ -z "$(find "$work/tmp" -type f)" ]] || fail "SIG$sig: temporary files left: $(find "$work/tmp" -type f)"
    echo "SIG$sig: exit 0, $data bytes of sound"
  done
}

empty() {
  local player=$1 project=$2 work=$3
  rm -rf "$work"
  mkdir -p "$work/tmp"
  local log="$work/empty.log"
  env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" ZM_DISPLAY=headless ZM_AUDIO=none \
    "$player" -filename "$project" -log >"$log" 2>&1 &
  pid=$!
  # The show is open and its loader builds the slide.
  tried() { grep -q "Loader Inited To Time" "$log" || ! kill -0 "$pid" 2>/dev/null; }
  wait_for 120 tried || fail "the show did not start: $(tail -n 5 "$log")"
  kill -0 "$pid" 2>/dev/null || fail "the player ended by itself: $(tail -n 5 "$log")"
  kill -TERM "$pid"
  ended() { ! kill -0 "$pid" 2>/dev/null; }
  if ! wait_for 20 ended; then
    kill -KILL "$pid"
    fail "SIGTERM did not end the run"
  fi
  wait "$pid"
  local rc=$?
  ((rc == 0)) || fail "exit status $rc: $(tail -n 5 "$log")"
  grep -q "Program stoped" "$log" || fail "no stop banner"
  local stuck="did not stop\|did not end\|still running at shutdown"
  grep -q "$stuck" "$log" && fail "$(grep -m1 "$stuck" "$log")"
  grep -q "Sanitizer\|runtime error:" "$log" && fail "$(grep -m1 "Sanitizer\|runtime error:" "$log")"
  echo "nothing on screen: SIGTERM ended the run, exit 0"
}

kill_recording() {
  local player=$1 project=$2 work=$3
  rm -rf "$work"
  mkdir -p "$work/tmp"
  local wav="$work/killed.wav" log="$work/killed.log"
  env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" ZM_DISPLAY=headless ZM_AUDIO="wav:$wav" \
    "$player" -filename "$project" >"$log" 2>&1 &
  pid=$!
  has_sound() { (($(stat -c %s "$wav" 2>/dev/null || echo 0) > 44 + 3 * 176400)) || ! kill -0 "$pid" 2>/dev/null; }
  wait_for 240 has_sound || fail "no sound recorded"
  kill -0 "$pid" 2>/dev/null || fail "the player ended by itself: $(tail -n 5 "$log")"
  kill -KILL "$pid"
  wait "$pid"
  local size riff data
  size=$(stat -c %s "$wav")
  riff=$(u32 "$wav" 4)
  data=$(u32 "$wav" 40)
  ((riff == data + 36 && data % 4 == 0 && data <= size - 44)) ||
    fail "recording of $size bytes says RIFF $riff, data $data"
  # Brought up to date about each second (and the tail still in the
  # process's buffers is lost with it).
  ((data >= 176400 && size - 44 - data <= 2 * 176400)) || fail "recording of $size bytes counts only $data"
  od -An -v -td2 -j44 -N "$data" "$wav" | tr -s ' ' '\n' | grep -qv '^0*$' || fail "the counted sound is silent"
  echo "killed: $data of $((size - 44)) bytes of sound counted"
}

burst() {
  local player=$1 project=$2 work=$3
  rm -rf "$work"
  mkdir -p "$work/tmp"
  for gap in 0.001 0.003 0.012; do
    local log="$work/burst-$gap.log"
    env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" ZM_DISPLAY=headless ZM_AUDIO=none \
      "$player" -filename "$project" -log >"$log" 2>&1 &
    pid=$!
    playing() { grep -q "SetActive(True)" "$log" || ! kill -0 "$pid" 2>/dev/null; }
    wait_for 120 playing || fail "the show did not start: $(tail -n 5 "$log")"
    kill -0 "$pid" 2>/dev/null || fail "the player ended by itself: $(tail -n 5 "$log")"
    kill -TERM "$pid"
    sleep "$gap"
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    local rc=$?
    ((rc == 0)) || fail "two SIGTERMs $gap s apart: exit status $rc: $(tail -n 5 "$log")"
    grep -q "Program stoped" "$log" || fail "two SIGTERMs $gap s apart: no stop banner"
    grep -q "Sanitizer\|runtime error:" "$log" && fail "$(grep -m1 "Sanitizer\|runtime error:" "$log")"
    [[ -z "$(find "$work/tmp" -type f)" ]] || fail "temporary files left: $(find "$work/tmp" -type f)"
  done
  echo "bursts of two SIGTERMs 1 to 12 ms apart: one orderly close each, exit 0"
}

box() {
  local player=$1 work=$2
  rm -rf "$work"
  mkdir -p "$work"
  # A long path, so that the text must wrap, with a name longer than a line.
  local missing="$work/$(printf 'a-rather-long-folder-name-%02d/' $(seq 1 12))$(printf 'name%.0s' $(seq 1 40))/show.bin"
  local err="$work/box.err"
  ZM_DISPLAY=sdl "$player" -exename "$missing" 2>"$err" &
  pid=$!
  box_open() { xwininfo -root -tree | grep -q '"Slideshow Error"' || ! kill -0 "$pid" 2>/dev/null; }
  wait_for 120 box_open || fail "no error box"
  kill -0 "$pid" 2>/dev/null || fail "the player ended without waiting for its box: $(cat "$err")"
  grep -q "Slideshow Error: Can\`t Load Show \"$missing\"" "$err" || fail "the text is not on standard error: $(cat "$err")"
  local width screen
  width=$(xwininfo -name "Slideshow Error" | sed -n 's/^ *Width: //p')
  screen=$(xwininfo -root | sed -n 's/^ *Width: //p')
  ((width > 0 && width * 3 <= screen * 2 + 3)) || fail "box $width px wide on a $screen px screen"
  [[ -z "$(pgrep -P "$pid")" ]] || fail "the box runs in a process of its own"
  kill -TERM "$pid"
  wait "$pid"
  local rc=$?
  ((rc == 1)) || fail "exit status $rc, not the failed open's 1"
  xwininfo -root -tree | grep -q '"Slideshow Error"' && fail "the box stayed on screen"
  echo "box of $width px on $screen px closed by SIGTERM, exit 1"
}

case "$mode" in
  record) record "$2" "$3" "$4" ;;
  empty) empty "$2" "$3" "$4" ;;
  kill) kill_recording "$2" "$3" "$4" ;;
  burst) burst "$2" "$3" "$4" ;;
  box) box "$2" "$3" ;;
  *) fail "unknown mode $mode" ;;
esac

#!/usr/bin/env bash
# Outputs that fill their disk while the show plays, on a file system of
# 256 KB (a tmpfs mounted for the test):
#   FullDisk.sh <player> <Project.oru> <work folder>
# - the sound recording (ZM_AUDIO=wav:FILE, about 1.5 s of sound fit): one
#   line on the error output names the file and the system's reason, the
#   show plays on to its quit time, the exit status is 1;
# - the same for a capture folder (ZM_CAPTURE_DIR) on the stepped clock.
# Skipped (status 77) where no file system can be mounted (no right to).
set -u
player=$1 project=$2 work=$3
small="$work/small"
fail() {
  echo "FAIL: $*"
  exit 1
}
umount "$small" 2>/dev/null  # left mounted by a run that was killed
rm -rf "$work"
mkdir -p "$small"
if ! mount -t tmpfs -o size=256k tmpfs "$small" 2>/dev/null; then
  echo "SKIP: no tmpfs can be mounted here"
  exit 77
fi
trap 'umount "$small"' EXIT

# check <name> <the line said once> <env>...: runs the player headless.
check() {
  local name=$1 line=$2
  shift 2
  local err="$work/$name.err" start end rc
  start=$(date +%s%N)
  env ZM_DISPLAY=headless "$@" "$player" -filename "$project" -log >"$work/$name.out" 2>"$err"
  rc=$?
  end=$(date +%s%N)
  ((rc == 1)) || fail "$name: exit status $rc: $(tail -n 5 "$err")"
  local said
  said=$(grep -cF -- "$line" "$err")
  ((said == 1)) || fail "$name: said $said times: $line"
  grep -q "Program stoped" "$err" || fail "$name: no stop banner"
  grep -q "Sanitizer\|runtime error:" "$err" && fail "$name: $(grep -m1 "Sanitizer\|runtime error:" "$err")"
  echo "$name: exit 1 after $(((end - start) / 1000000)) ms, said once: $line"
}

# On the real clock the show runs 4 s: the recording fills the disk after
# about 1.5 s and the show plays on to the end of the run.
wav="$small/rec.wav"
check recording "Sound recording stopped: cannot write $wav: No space left on device; the show plays on." \
  ZM_AUDIO="wav:$wav" ZM_QUIT_AFTER_MS=4000 ZM_FRAME_STEP_MS=
(($(stat -c %s "$wav") > 200000)) || fail "recording: only $(stat -c %s "$wav") bytes recorded"
rm -f "$wav"

mkdir "$small/frames"
check capture "Frame capture stopped: cannot write $small/frames/" \
  ZM_AUDIO=none ZM_CAPTURE_DIR="$small/frames" ZM_QUIT_AFTER_MS=12000 ZM_FRAME_STEP_MS=40
grep -qF ": No space left on device; the show plays on." "$work/capture.err" || fail "capture: no reason given"
exit 0

#!/usr/bin/env bash
# The player's handles and memory over a long run, headless, on a Release
# build: the demo packed into a container, then its project folder, each
# looping on the stepped clock (ZM_FRAME_STEP_MS, default 100) for PASSES
# passes (default 20) with the mix recorded. At the same moment of every pass
# (when the pass's second slide is built) it prints the open handles of the
# process, those on the show's own files, and the resident memory.
# usage: tools/soak-player.sh [build folder] [passes]   (default build/release)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
passes=${2:-20}
player=$build/Oru/OruViewer/OruViewer5
for f in "$player" "$build/tools/MakeDemoShow" "$build/tools/OruPack"; do
  [ -x "$f" ] || { echo "build OruViewer5, MakeDemoShow and OruPack in $build first" >&2; exit 2; }
done

work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export ZM_DISPLAY=headless ZM_FRAME_STEP_MS=${ZM_FRAME_STEP_MS:-100}
unset ZM_CAPTURE_DIR ZM_CAPTURE_LIMIT ZM_QUIT_AFTER_MS

"$build/tools/MakeDemoShow" "$work/project" >/dev/null
mkdir -p "$work/show"
"$build/tools/OruPack" "$work/project" "$work/show/Demo.orushow" >/dev/null
echo "machine: $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg); step $ZM_FRAME_STEP_MS ms"

# soak <title> <folder of the show's files> <player switches...>
soak() {
  local title=$1 folder=$2
  shift 2
  local log=$work/run.log
  ZM_AUDIO="wav:$work/mix.wav" "$player" "$@" -log >"$log" 2>&1 &
  pid=$!
  local slides=""
  until [ -n "$slides" ]; do
    kill -0 "$pid" 2>/dev/null || { echo "the player ended: $(tail -n 3 "$log")" >&2; exit 1; }
    slides=$(sed -n 's/^.*Show: \([0-9]*\) slides.*$/\1/p' "$log" | head -n 1)
    sleep 0.2
  done
  echo
  echo "$title ($slides slides a pass)"
  echo "pass  handles  show-handles  resident-kB"
  local pass
  for ((pass = 0; pass <= passes; pass++)); do
    local marker="....................................... $((pass * slides + 1))"
    until grep -qF -- "$marker" "$log"; do
      kill -0 "$pid" 2>/dev/null || { echo "the player ended: $(tail -n 3 "$log")" >&2; exit 1; }
      sleep 0.05
    done
    local handles=0 show=0 t
    for t in /proc/"$pid"/fd/*; do
      handles=$((handles + 1))
      [[ "$(readlink "$t" 2>/dev/null)" == "$folder"/* ]] && show=$((show + 1))
    done
    printf "%4d  %7d  %12d  %11d\n" "$pass" "$handles" "$show" "$(awk '/^VmRSS:/ {print $2}' /proc/"$pid"/status)"
  done
  kill "$pid"
  wait "$pid" || true
  pid=
}

soak "demo container" "$work/show" -exename "$work/show/Demo.orushow"
soak "demo project folder" "$work/project" -filename "$work/project/Project.oru"

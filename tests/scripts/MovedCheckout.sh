#!/usr/bin/env bash
# scripts/run.sh in a checkout that was copied, and in one that was moved,
# with its build folder: the build folder is configured anew where it now
# is and the player runs, where CMake would refuse a cache made elsewhere.
# A small stand-in checkout does: run.sh itself, a set-up that installs
# nothing, and a project whose target makes a player that says which
# project built it and what it was given.
#   MovedCheckout.sh <scripts/run.sh> <work folder>
set -euo pipefail
run_sh=$1
work=$2
rm -rf "$work"
mkdir -p "$work/first/scripts"
work=$(realpath "$work")
cp "$run_sh" "$work/first/scripts/run.sh"
printf '#!/usr/bin/env bash\n' >"$work/first/scripts/setup.sh"
cat >"$work/first/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(StandIn NONE)
file(WRITE "${CMAKE_BINARY_DIR}/player" "#!/bin/sh\necho \"player of ${CMAKE_SOURCE_DIR}:\" \"$@\"\n")
add_custom_target(OruViewer5 ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory Oru/OruViewer
  COMMAND ${CMAKE_COMMAND} -E copy player Oru/OruViewer/OruViewer5
  COMMAND chmod +x Oru/OruViewer/OruViewer5)
add_custom_target(MakeDemoShow)
add_custom_target(OruPack)
EOF

failed=0
# Runs run.sh in checkout <name> with one argument; the player must answer
# for that checkout, and the note of a new configuration be there or not.
play() {
  local name=$1 note=$2 out err
  out=$(cd "$work/$name" && bash scripts/run.sh "-$name" 2>"$work/$name.err") || {
    echo "FAIL: run.sh in $name ended with an error:"
    cat "$work/$name.err"
    failed=1
    return
  }
  err=$(cat "$work/$name.err")
  out=$(tail -n 1 <<<"$out")  # after what CMake and Ninja say
  if [[ $out != "player of $work/$name: -$name" ]]; then
    echo "FAIL: in $name the player said: $out"
    failed=1
  fi
  if [[ $note == yes && $err != *"build/release was made in "*"configuring it anew"* ]]; then
    echo "FAIL: in $name run.sh did not say it configures anew: $err"
    failed=1
  fi
  if [[ $note == no && $err == *"configuring it anew"* ]]; then
    echo "FAIL: in $name run.sh configured anew a folder made there: $err"
    failed=1
  fi
}

play first no
cp -a "$work/first" "$work/copy"
play copy yes
play copy no
mv "$work/first" "$work/moved"
play moved yes
if ((failed)); then exit 1; fi
echo "run.sh configured the copied and the moved checkout's build folder anew"

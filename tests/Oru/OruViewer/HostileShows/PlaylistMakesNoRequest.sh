#!/usr/bin/env bash
# A show's music is a playlist naming an address of a local server: the
# player, headless, must make no request to it.
#   PlaylistMakesNoRequest.sh <player> <show project folder> <work folder>
# The server (on a port the system chooses) notes every connection. Once the
# player has ended, one connection of our own follows; when the server has
# noted it, everything the player did is noted before it.
set -euo pipefail
player=$1 project=$2 work=$3

rm -rf "$work"
mkdir -p "$work"
cp -r "$project" "$work/show"

python3 - "$work" <<'EOF' &
import os, socket, sys
work = sys.argv[1]
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(16)
with open(os.path.join(work, "port.part"), "w") as f:
    f.write(str(s.getsockname()[1]))
os.rename(os.path.join(work, "port.part"), os.path.join(work, "port"))
while True:
    c, _ = s.accept()
    c.settimeout(5)
    try:
        data = c.recv(4096)
    except OSError:
        data = b""
    with open(os.path.join(work, "requests"), "ab") as f:
        f.write((data.strip() or b"(a connection without data)") + b"\n")
    c.close()
EOF
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT

# The server is another process: its port file is polled for.
for _ in $(seq 1 3000); do
  [[ -f "$work/port" ]] && break
  kill -0 "$server" 2>/dev/null || { echo "the server did not start" >&2; exit 1; }
  sleep 0.01
done
port=$(cat "$work/port")
printf '#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n#EXTINF:10.0,\nhttp://127.0.0.1:%s/seg.ts?user=opened-the-show\n#EXT-X-ENDLIST\n' \
  "$port" >"$work/show/music.m3u8"

status=0
ZM_DISPLAY=headless ZM_AUDIO=null ZM_QUIT_AFTER_MS=5000 ZM_FRAME_STEP_MS=${ZM_FRAME_STEP_MS:-50} \
  "$player" -filename "$work/show/Project.oru" -log 2>"$work/stderr" || status=$?
cat "$work/stderr" >&2
[[ $status -eq 0 ]] || { echo "exit status $status" >&2; exit 1; }
if grep -q -e Sanitizer -e "runtime error:" "$work/stderr"; then exit 1; fi
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'the test itself\n' >&3
exec 3>&-
for _ in $(seq 1 3000); do
  grep -q "the test itself" "$work/requests" 2>/dev/null && break
  sleep 0.01
done
grep -q "the test itself" "$work/requests" || { echo "the server noted nothing" >&2; exit 1; }
if grep -v "the test itself" "$work/requests" >&2; then
  echo "the player made a request" >&2
  exit 1
fi
# The playlist was read, and refused.
grep -q "hls input not read" "$work/stderr" || { echo "the playlist was never opened" >&2; exit 1; }

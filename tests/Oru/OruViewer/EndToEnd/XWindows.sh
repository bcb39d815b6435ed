# Sourced by the end-to-end scripts that watch X windows; they set pid (the
# player's, empty when none runs) and wm (the window manager's name).
# fail <text>: says what failed, ends the player and the script.
fail() {
  echo "FAIL ($wm): $*"
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
  exit 1
}
# The client window of a title (hexadecimal id, empty when there is none).
window() { xwininfo -name "$1" 2>/dev/null | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p'; }

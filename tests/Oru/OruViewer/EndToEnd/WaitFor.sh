# Sourced by the end-to-end scripts.
# wait_for <seconds> <command...>: until the command succeeds or the time is up.
wait_for() {
  local limit=$(($(date +%s) + $1))
  shift
  until "$@"; do
    (($(date +%s) < limit)) || return 1
    sleep 0.1
  done
}

#!/usr/bin/env bash
# A guided tour of zelko-cli against the stand-in daemon derodi-sim, on a
# temporary runtime directory that is removed afterwards, whatever happens.
set -uo pipefail

build=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build"}
cli="$build/zelko-cli/zelko-cli"
sim="$build/tools/derodi-sim/derodi-sim"
for program in "$cli" "$sim"; do
  if [ ! -x "$program" ]; then
    echo "tour: $program is missing; build first (cmake --preset default && cmake --build --preset default)" >&2
    exit 1
  fi
done

runtime=$(mktemp -d "${TMPDIR:-/tmp}/zelko-tour.XXXXXX")
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT
trap 'echo; echo "tour: interrupted"; exit 130' INT TERM

export XDG_RUNTIME_DIR="$runtime"
"$sim" 2>"$runtime/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
  [ -S "$runtime/zelko/control.sock" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "tour: derodi-sim did not start:" >&2
    cat "$runtime/sim.log" >&2
    exit 1
  fi
  sleep 0.1
done
endpoint="$runtime/zelko/agent.sock"

bold= plain=
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; fi
failures=0
step() {
  printf '\n%s$ %s%s\n' "$bold" "$*" "$plain"
  "$@"
  local status=$?
  [ $status -eq 0 ] || { echo "(exit status $status)"; failures=$((failures + 1)); }
}
zelko() { step zelko-cli "$@"; }
zelko-cli() { "$cli" "$@"; }

echo "derodi-sim is running on $runtime with one simulated phone."
zelko status
echo "(that was this shell's own SSH_AUTH_SOCK; pointed at the daemon's agent it reads:)"
step env SSH_AUTH_SOCK="$endpoint" "$cli" status
zelko keys
zelko keys --long
zelko keys --json
zelko getpub work
zelko fingerprint github
zelko devices
zelko authorize --minutes 15
zelko status
zelko generate --type ed25519 --name tour-key
step env SSH_AUTH_SOCK="$endpoint" ssh-add -l

echo
if [ $failures -eq 0 ]; then
  echo "tour: every step succeeded"
else
  echo "tour: $failures step(s) failed"
  exit 1
fi

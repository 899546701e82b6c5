#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A guided tour of zelko-cli against derodi-sim, the stand-in daemon: every
# command, then the everyday use of a phone key, signing a git commit. It
# runs on a temporary runtime directory that is removed afterwards,
# whatever happens.
#   tools/tour.sh [BUILD_DIR]    (default: build-tour)
set -uo pipefail

build=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build-tour"}
build=$(cd "$build" 2>/dev/null && pwd) || build=${1:-build-tour}
cli_dir="$build/zelko-cli"
sim="$build/tools/derodi-sim/derodi-sim"
for program in "$cli_dir/zelko-cli" "$sim"; do
  if [ ! -x "$program" ]; then
    echo "tour: $program is missing; build first (cmake --preset tour && cmake --build --preset tour)" >&2
    exit 1
  fi
done
# Without its tools the tour cannot start (status 77, which the test suite
# counts as skipped).
for tool in git ssh-agent ssh-add ssh-keygen; do
  command -v "$tool" >/dev/null || { echo "tour: $tool is missing; install it first" >&2; exit 77; }
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
export PATH="$cli_dir:$PATH"
# The sim says where its agent listens, once it listens, through a FIFO.
mkfifo "$runtime/ready"
exec 3<>"$runtime/ready"
"$sim" --refuse-signatures --ready-file "$runtime/ready" 2>"$runtime/sim.log" &
sim_pid=$!
endpoint=
until read -r -t 0.2 endpoint <&3; do
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "tour: derodi-sim did not start:" >&2
    cat "$runtime/sim.log" >&2
    exit 1
  fi
done
exec 3<&-

bold= plain=
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; fi
failures=0
say() { printf '\n%s\n' "$*" | fold -s -w 78; }
# Shows a command as one would type it.
show() {
  local shown=() word
  for word in "$@"; do
    [[ $word == *' '* ]] && word="\"$word\""
    shown+=("$word")
  done
  printf '%s$ %s%s\n' "$bold" "${shown[*]}" "$plain"
}
# Runs a step that should succeed.
step() {
  show "$@"
  "$@"
  local status=$?
  [ $status -eq 0 ] || { echo "(exit status $status)"; failures=$((failures + 1)); }
}
# Runs a step that should fail.
refused() {
  show "$@"
  if "$@"; then
    echo "(it went through, and should not have)"
    failures=$((failures + 1))
  fi
}

mkdir "$runtime/work" && cd "$runtime/work" || exit 1

say "derodi-sim stands in for the daemon. Its phone is simulated: it holds three real keys and approves requests on its own. Here it refuses signatures outside an authorization window, as a careful user would."

say "Point this shell at the daemon's agent, and zelko-cli says so:"
export SSH_AUTH_SOCK="$endpoint"
show export SSH_AUTH_SOCK="$endpoint"
step zelko-cli status

say "The keys the phone offers, for people and for scripts:"
step zelko-cli keys
step zelko-cli keys --long
step zelko-cli keys --json
step zelko-cli fingerprint github
step zelko-cli devices
step zelko-cli getpub work --out work.pub
step cat work.pub

say "Everyday use: sign git commits with the phone's key, through its agent."
git init -q -b main repo && cd repo || exit 1
git config user.name "Tour"
git config user.email tour@example.com
echo "tour@example.com $(cat ../work.pub)" >../allowed_signers
step git config gpg.format ssh
step git config user.signingkey "$runtime/work/work.pub"
step git config gpg.ssh.allowedSignersFile "$runtime/work/allowed_signers"

say "Outside an authorization window the phone refuses to sign:"
refused git commit -q --allow-empty -S -m "signed by the phone"

say "Ask the phone for a window of five minutes, and the same signature goes through:"
step zelko-cli authorize --minutes 5
step zelko-cli status
step git commit -q --allow-empty -S -m "signed by the phone"
step git verify-commit HEAD
cd .. || exit 1

say "The phone can make new keys too, and ssh sees them at once:"
step zelko-cli generate --type ed25519 --name tour-key
step ssh-add -l

echo
if [ $failures -eq 0 ]; then
  echo "tour: every step went as it should"
else
  echo "tour: $failures step(s) did not"
  exit 1
fi

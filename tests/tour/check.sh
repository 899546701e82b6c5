#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the tour where users live: a desktop session's own ssh-agent in
# SSH_AUTH_SOCK (holding one key of the user's), a TMPDIR with a blank and
# a %, and a home whose git and ssh configuration would break the tour if
# it read them. The tour must go as it should, and the user's agent must
# hold exactly its own key afterwards.
#   tests/tour/check.sh SOURCE_DIR BUILD_DIR
# Exits with 77 (skipped) when a tool is missing.
set -euo pipefail
source=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
check="tour check"
source "$source/tests/checks.sh"
require_tools ssh-agent ssh-add ssh-keygen git

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zelko tour 100%.XXXXXX")
agent_pid=
cleanup() {
  [ -z "$agent_pid" ] || kill "$agent_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

export HOME="$scratch/home"
mkdir -p "$HOME/.ssh"
printf '[gpg "ssh"]\n\tprogram = false\n' >"$HOME/.gitconfig"
printf 'Host *\n  ProxyCommand false\n' >"$HOME/.ssh/config"

export SSH_AUTH_SOCK="$scratch/user agent.sock"
ssh-agent -D -a "$SSH_AUTH_SOCK" >/dev/null &
agent_pid=$!
export SSH_AGENT_PID=$agent_pid
for _ in $(seq 100); do [ -S "$SSH_AUTH_SOCK" ] && break; sleep 0.05; done
ssh-keygen -q -t ed25519 -N "" -C "the user's own" -f "$scratch/own"
ssh-add -q "$scratch/own"
before=$(ssh-add -l)

status=0
tour=$(TMPDIR="$scratch" "$source/tools/tour.sh" "$build" 2>&1) || status=$?
printf '%s\n' "$tour"
[ $status -ne 77 ] || exit 77
[ $status -eq 0 ] || fail "the tour exited with $status"
# The phone's lines name the real programs, and the host as known_hosts does.
[[ $tour == *"SSHSIG signature in namespace 'git', asked by 'ssh-keygen' ('"* ]] ||
  fail "no phone line names ssh-keygen by its executable"
# A window needs a destination confirmed deliberately, then covers only it
# and git signatures.
[[ $tour == *"no trusted destination has been confirmed on the phone yet"$'\n\n'"A window can only cover destinations you have confirmed deliberately"* ]] ||
  fail "no window refused, with the client's explanation, for want of a trusted destination"
[[ $tour == *"trusted from now on: destination 'localhost'"* && $tour == *"authorized: destination 'localhost' and git signatures"* ]] ||
  fail "no window scoped to the destination confirmed"
if [[ $tour != *"(the ssh login is skipped"* ]]; then
  [[ $tour == *"approved by the window: "*"to 'localhost' (host key verified, known_hosts line 1), asked by 'ssh' ('"* ]] ||
    fail "no phone line approves the login to localhost by the window"
  [[ $tour == *"refused, outside the window's scope: "*"to 'otherhost' (host key verified"* ]] ||
    fail "no phone line refuses the login to otherhost as outside the scope"
fi
after=$(ssh-add -l)
[ "$after" = "$before" ] || fail "the user's agent changed: $after"
finish "the tour went as it should, and the user's agent holds its own key alone"

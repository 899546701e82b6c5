#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the README's by-hand lines as they stand, with the tour's build
# directory taken to be BUILD_DIR, and checks that every line succeeds and
# nothing is left behind.
#   tests/readme/check.sh SOURCE_DIR BUILD_DIR
# Exits with 77 (skipped) when a tool the lines run is missing.
set -euo pipefail
source=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
check="README check"
source "$(dirname "$0")/../checks.sh"
require_tools ssh-agent ssh-add ssh-keygen timeout

# The shell block that follows the by-hand marker.
block=$(readme_block "$source/README.md" "<!-- by-hand")
[ -n "$block" ] || { echo "README check: no by-hand block"; exit 1; }
block=${block//.\/build-tour\//$build/}
printf '%s\n' "$block"

# With job control on, as in an interactive shell, so that the sim runs in
# a process group of its own; in a shell that ran the README's
# profile line, so SSH_AUTH_SOCK names the daemon's endpoint before any
# daemon runs; and, where util-linux's script gives it a terminal of its
# own, with `stty tostop`, which stops a background job that writes there
# unless it ignores SIGTTOU. Bounded, should a reader be left waiting.
session=$(mktemp -d "${TMPDIR:-/tmp}/zelko-readme.XXXXXX")
trap 'rm -rf "$session"' EXIT
export ZELKO_BLOCK=$block
in_terminal=()
if command -v script >/dev/null; then
  in_terminal=(script -qec 'stty tostop && exec bash -m -e -c "$ZELKO_BLOCK"' /dev/null)
else
  echo "README check: without util-linux's script, the block runs without a terminal"
  in_terminal=(bash -m -e -c "$block")
fi
# Into a file, which a job left stopped cannot hold open as it would a pipe.
XDG_RUNTIME_DIR=$session SSH_AUTH_SOCK="$session/zelko/agent.sock" \
  timeout -k 5 60 "${in_terminal[@]}" </dev/null >"$session/output" 2>&1 || true
output=$(cat "$session/output")
printf '%s\n' "$output"
[[ $output == *$'work\tssh-ed25519\tSHA256:'* ]] || { echo "README check: no key listing"; exit 1; }
[[ $output == *'work@zelko-phone (ED25519)'* ]] || { echo "README check: ssh-add saw no key"; exit 1; }
[[ $output == *'derodi-sim: stopped'* ]] || { echo "README check: the sim did not stop cleanly"; exit 1; }
echo "README check: the by-hand lines work as they stand"

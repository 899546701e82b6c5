#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the end-to-end tests with every zelko-cli process under valgrind
# memcheck, then checks what valgrind saw: no memory errors, no leaks, and
# no descriptor left open at exit but those the process inherited.
#   tests/memcheck/run.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
# The wrapper below is split at its blanks: its logs go where there are none.
base=${TMPDIR:-/tmp}
[[ $base != *[[:space:]]* ]] || base=/tmp
logs=$(mktemp -d "$base/zelko-memcheck.XXXXXX")
trap 'rm -rf "$logs"' EXIT

export ZELKO_TEST_CLI="$(cd "$build" && pwd)/zelko-cli/zelko-cli"
export ZELKO_TEST_WRAPPER="$(command -v valgrind) --quiet --error-exitcode=99 --leak-check=full \
--show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
--track-fds=yes --log-file=$logs/vg.%p.log"
# Only the tests that run zelko-cli through the test support, which puts it
# under valgrind; the scripts and the stand-in daemon's tests do not.
ctest --test-dir "$build" -j2 --output-on-failure -E 'DerodiSim|^tour$|^readme|\.check$'

python3 - "$logs" <<'PY'
import pathlib, re, sys
logs = sorted(pathlib.Path(sys.argv[1]).glob("vg.*.log"))
problems = []
for log in logs:
    text = log.read_text(errors="replace")
    # Each open descriptor is followed by where it came from; only
    # inherited ones may still be open at exit.
    blocks = re.findall(r"Open (?:file descriptor|AF_UNIX socket) (\d+):[^\n]*\n==\d+==\s+(.*)", text)
    opened_here = [fd for fd, origin in blocks if "inherited from parent" not in origin]
    if opened_here:
        problems.append(f"{log.name}: descriptors left open: {', '.join(opened_here)}")
    if re.search(r"Invalid|uninitialised|definitely lost|indirectly lost|possibly lost", text):
        problems.append(f"{log.name}: memory errors or leaks:\n{text}")
print(f"memcheck: {len(logs)} zelko-cli runs checked, {len(problems)} with problems")
for p in problems:
    print(p)
if len(logs) < 100 or problems:
    sys.exit(1)
PY
